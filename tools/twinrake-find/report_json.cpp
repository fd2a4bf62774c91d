// One JSON document: {"groups":[{"size":BYTES,"members":[MEMBER,...]},...]}, one group per line.
// A member is {"path":TEXT} when its path is valid UTF-8 (on Windows: when it converts from the
// ANSI code page), else {"path_base64":TEXT}. With an action each member also says what was
// done to it, and the document ends with the bytes freed.
#include <cstdint>
#include <string>
#include <string_view>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "keeping.h"
#include "report.h"

namespace cli {

namespace {

#ifndef _WIN32
// RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t extra = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (text.size() - i <= extra) {
            return false;
        }
        auto second = static_cast<unsigned char>(text[i + 1]);
        if (second < low || second > high) {
            return false;
        }
        for (size_t k = 2; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}
#else
// Paths are ANSI text here; JSON wants UTF-8. False for bytes the code page does not define.
bool AnsiToUtf8(const std::string& ansi, std::string& utf8) {
    utf8.clear();
    if (ansi.empty()) {
        return true;
    }
    int wideLength = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(),
                                         static_cast<int>(ansi.size()), nullptr, 0);
    if (wideLength <= 0) {
        return false;
    }
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), static_cast<int>(ansi.size()),
                        wide.data(), wideLength);
    int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return false;
    }
    utf8.resize(static_cast<size_t>(length));
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr);
    return true;
}
#endif

void AppendJsonString(std::string& out, std::string_view utf8) {
    static const char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (char c : utf8) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte >= 0x20) {
            out.push_back(c);
        } else if (c == '\n') {
            out.append("\\n");
        } else if (c == '\t') {
            out.append("\\t");
        } else if (c == '\r') {
            out.append("\\r");
        } else {
            out.append("\\u00");
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0xF]);
        }
    }
    out.push_back('"');
}

void AppendBase64(std::string& out, std::string_view bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.push_back('"');
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t triple = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                          static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                          static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) {
            out.push_back(kAlphabet[(triple >> shift) & 0x3F]);
        }
    }
    if (i < bytes.size()) {
        uint32_t rest = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size()) {
            rest |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        out.push_back(kAlphabet[rest >> 18]);
        out.push_back(kAlphabet[(rest >> 12) & 0x3F]);
        out.push_back(i + 1 < bytes.size() ? kAlphabet[(rest >> 6) & 0x3F] : '=');
        out.push_back('=');
    }
    out.push_back('"');
}

void AppendJsonMember(std::string& out, const std::string& path) {
#ifdef _WIN32
    std::string utf8;
    bool asText = AnsiToUtf8(path, utf8);
#else
    const std::string& utf8 = path;
    bool asText = IsUtf8(path);
#endif
    if (asText) {
        out.append("{\"path\":");
        AppendJsonString(out, utf8);
    } else {
        out.append("{\"path_base64\":");
        AppendBase64(out, path);
    }
    out.push_back('}');
}

class JsonReportWriter final : public Report {
  public:
    JsonReportWriter(Output& out, const Options& options) : out_(out), options_(options) {
        out_.Write("{\"groups\":[");
    }

    void Group(const twinrake::DuplicateGroup& group,
               const std::vector<MemberOutcome>& outcomes) override {
        text_.clear();
        auto member = group.firstMember;
        text_.append(first_ ? "\n{\"size\":" : ",\n{\"size\":");
        text_.append(std::to_string(member->compared.length));
        text_.append(",\"members\":[");
        for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
            if (k > 0) {
                text_.push_back(',');
            }
            const std::string path = twinrake::FullPath(*member);
            AppendJsonMember(text_, path);
            const bool reference = BelowReference(options_, path);
            if (!outcomes.empty() || reference) {
                text_.pop_back();  // the member's closing brace: what is said of it goes inside
                if (reference) {
                    text_.append(",\"reference\":true");
                }
                if (!outcomes.empty()) {
                    AppendOutcome(outcomes[static_cast<size_t>(k)]);
                }
                text_.push_back('}');
            }
        }
        text_.append("]}");
        out_.Write(text_);
        first_ = false;
    }

    void Finish(uint64_t freed, bool stopped) override {
        out_.Write(first_ ? "]" : "\n]");
        if (options_.action == Action::kTrash) {
            out_.Write(",\"trashed\":" + std::to_string(freed));  // moved, not freed
        } else if (options_.action != Action::kNone) {
            out_.Write(",\"freed\":" + std::to_string(freed));
        }
        if (stopped) {
            out_.Write(",\"stopped\":true");
        }
        out_.Write("}\n");
    }

  private:
    void AppendOutcome(const MemberOutcome& outcome) {
        text_.append(",\"action\":");
        switch (outcome.done) {
            case Done::kKept:
                text_.append("\"kept\"");
                break;
            case Done::kActed:
            case Done::kWouldAct:
                AppendJsonString(text_, ActionWord(options_.action, options_.dryRun));
                if (options_.action == Action::kLink || options_.action == Action::kReflink) {
                    text_.append(",\"kept_index\":" + std::to_string(outcome.keptBy));
                }
                break;
            case Done::kLeft:
                text_.append("\"left\",\"reason\":");
                AppendReason(ReasonText(outcome, false));
                break;
            case Done::kNotReached:
                text_.append("\"not reached\"");
                break;
            case Done::kReference:
                text_.append("\"reference\"");
                break;
            case Done::kUntouched:
                text_.append("\"untouched\"");
                break;
        }
    }

    // A reason may quote a path that is no valid text: then its bytes are escaped one by one.
    void AppendReason(const std::string& reason) {
#ifdef _WIN32
        std::string utf8;
        if (AnsiToUtf8(reason, utf8)) {
            AppendJsonString(text_, utf8);
            return;
        }
#else
        if (IsUtf8(reason)) {
            AppendJsonString(text_, reason);
            return;
        }
#endif
        std::string ascii;
        for (char c : reason) {
            ascii.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
        }
        AppendJsonString(text_, ascii);
    }

    Output& out_;
    const Options& options_;
    bool first_ = true;
    std::string text_;
};

}  // namespace

std::unique_ptr<Report> JsonReport(Output& out, const Options& options) {
    return std::make_unique<JsonReportWriter>(out, options);
}

}  // namespace cli
