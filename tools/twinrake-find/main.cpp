// twinrake-find: the read-only companion. Scans the folders it is given, in that order, runs
// the program's own search and prints the groups. It never deletes or changes anything.
#include <getopt.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "app/state.h"
#include "catalogue/scan.h"
#include "detect/search.h"
#include "platform/files.h"

#ifndef TWINRAKE_VERSION
#define TWINRAKE_VERSION "unknown"
#endif

namespace {

// Exit statuses. 64 and 74 are EX_USAGE and EX_IOERR of <sysexits.h>, which mingw lacks.
constexpr int kComplete = 0;
constexpr int kPassedOver = 1;
constexpr int kNothingListed = 2;
constexpr int kUsageError = 64;
constexpr int kWriteError = 74;

const char* const kUsageLine = "Usage: twinrake-find [OPTION]... FOLDER...\n";

const char* const kHelp =
    "Usage: twinrake-find [OPTION]... FOLDER...\n"
    "\n"
    "Finds files with identical content below the given folders and prints each group of\n"
    "duplicates as its members' full paths, one per line, groups separated by an empty line.\n"
    "The first path of a group is the copy found first: folders are scanned in the order\n"
    "given, and a folder's files in the order the file system lists them. A file is only\n"
    "grouped after every byte has been compared; two names of one physical file (a folder\n"
    "given twice, a hard link) never count as duplicates. Nothing is deleted or changed.\n"
    "\n"
    "Options:\n"
    "  -0, --null     end every path with a NUL byte instead of a newline, and every\n"
    "                 group with one more NUL byte\n"
    "  -j, --json     print one JSON document instead (see below)\n"
    "  -s, --summary  then print one line on standard error: the number of groups and\n"
    "                 files, the bytes they hold, and the bytes that deleting all but the\n"
    "                 first file of each group would free\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "  --             end the options: every later argument is a folder, even one that\n"
    "                 starts with '-'\n"
    "\n"
    "JSON: {\"groups\":[{\"size\":BYTES,\"members\":[MEMBER,...]},...]}, one group per line,\n"
    "in the order above; \"size\" is the length of each member in bytes. A MEMBER is\n"
    "{\"path\":TEXT} when the path is valid UTF-8 (on Windows: when it converts from the\n"
    "ANSI code page), else {\"path_base64\":TEXT}, the path's bytes in base64 (RFC 4648).\n"
    "\n"
    "Relative folders are taken from the current directory; every path printed is\n"
    "absolute. A folder that cannot be listed (or leads back to a folder above it),\n"
    "a file that cannot be read (also each file of a folder that may be listed but not\n"
    "entered), a relative folder whose absolute path cannot be formed, and a file that\n"
    "changed while it was read are named on standard error as\n"
    "'twinrake-find: PATH: REASON' and passed over.\n"
    "\n"
    "Exit status:\n"
    "  0   the result is complete\n"
    "  1   something was passed over; the result may be incomplete\n"
    "  2   none of the folders could be listed\n"
    "  64  usage error: an unknown option, no folder, an empty folder argument\n"
    "  74  the output could not be written\n";

void Complain(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "twinrake-find: %s: %s\n", path.c_str(), reason.c_str());
}

int UsageError(const char* message) {
    if (message != nullptr) {
        std::fprintf(stderr, "twinrake-find: %s\n", message);
    }
    std::fputs(kUsageLine, stderr);
    std::fputs("Try 'twinrake-find --help' for more information.\n", stderr);
    return kUsageError;
}

// Standard output, written in large blocks. The first failure is kept and ends all writing.
class Output {
  public:
    Output() {
        static char buffer[1 << 16];
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    }

    void Write(std::string_view text) {
        if (error_ == 0 && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
            Failed();
        }
    }

    // Flushes and closes standard output; false, after saying why, when any write failed.
    bool Finish() {
        if (error_ == 0 && std::fflush(stdout) != 0) {
            Failed();
        }
        if (std::fclose(stdout) != 0 && error_ == 0) {
            Failed();
        }
        if (error_ == 0) {
            return true;
        }
        std::fprintf(stderr, "twinrake-find: write error: %s\n",
                     error_ > 0 ? std::strerror(error_) : "unknown cause");
        return false;
    }

  private:
    void Failed() { error_ = errno != 0 ? errno : -1; }

    int error_ = 0;
};

int PrintAndExit(const char* text) {
    Output out;
    out.Write(text);
    return out.Finish() ? kComplete : kWriteError;
}

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

enum class Format { kLines, kNull, kJson };

void PrintGroups(const twinrake::GroupList& groups, Format format, Output& out) {
    const char end = format == Format::kNull ? '\0' : '\n';
    std::string text;
    bool first = true;
    if (format == Format::kJson) {
        out.Write("{\"groups\":[");
    }
    for (const twinrake::DuplicateGroup& group : groups) {
        text.clear();
        auto member = group.firstMember;
        if (format == Format::kJson) {
            text.append(first ? "\n{\"size\":" : ",\n{\"size\":");
            text.append(std::to_string(member->compared.length));
            text.append(",\"members\":[");
            for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
                if (k > 0) {
                    text.push_back(',');
                }
                AppendJsonMember(text, twinrake::FullPath(member->directory(), member->name()));
            }
            text.append("]}");
        } else {
            // Text lines separate groups with an empty line; NUL output ends each group.
            if (!first && format == Format::kLines) {
                text.push_back('\n');
            }
            for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
                text.append(twinrake::FullPath(member->directory(), member->name()));
                text.push_back(end);
            }
            if (format == Format::kNull) {
                text.push_back('\0');
            }
        }
        out.Write(text);
        first = false;
    }
    if (format == Format::kJson) {
        out.Write(first ? "]}\n" : "\n]}\n");
    }
}

// "18008 bytes (17.6 KiB)"
std::string Bytes(uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    std::string text = std::to_string(bytes) + " bytes (";
    if (bytes < 1024) {
        return text + std::to_string(bytes) + " B)";
    }
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    // Past 1023.95 the one decimal would round up to 1024.0 of the smaller unit.
    while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", value);
    return text + number + " " + kUnits[unit] + ")";
}

std::string Count(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void PrintSummary(const twinrake::GroupList& groups) {
    uint64_t files = 0;
    uint64_t held = 0;
    uint64_t surplus = 0;
    for (const twinrake::DuplicateGroup& group : groups) {
        auto length = static_cast<uint64_t>(group.firstMember->compared.length);
        auto members = static_cast<uint64_t>(group.memberCount);
        files += members;
        held += length * members;
        surplus += length * (members - 1);
    }
    std::string line = Count(groups.size(), "group", "groups") + ", " +
                       Count(files, "file", "files") + ", " + Bytes(held) +
                       "; deleting all but the first file of each group would free " +
                       Bytes(surplus) + "\n";
    std::fputs(line.c_str(), stderr);
}

}  // namespace

int main(int argc, char** argv) {
    // getopt names the program in its messages by argv[0]; a build path would be noise.
    static char name[] = "twinrake-find";
    if (argc > 0) {
        argv[0] = name;
    }
    static const option kOptions[] = {
        {"null", no_argument, nullptr, '0'},    {"json", no_argument, nullptr, 'j'},
        {"summary", no_argument, nullptr, 's'}, {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'}, {nullptr, 0, nullptr, 0},
    };
    bool null = false;
    bool json = false;
    bool summary = false;
    int choice = 0;
    while ((choice = getopt_long(argc, argv, "0jshV", kOptions, nullptr)) != -1) {
        switch (choice) {
            case '0':
                null = true;
                break;
            case 'j':
                json = true;
                break;
            case 's':
                summary = true;
                break;
            case 'h':
                return PrintAndExit(kHelp);
            case 'V':
                return PrintAndExit("twinrake-find " TWINRAKE_VERSION "\n");
            default:
                return UsageError(nullptr);  // getopt has said what was wrong
        }
    }
    if (null && json) {
        return UsageError("--null and --json cannot be combined");
    }
    if (optind >= argc) {
        return UsageError("no folder given");
    }
    const Format format = json ? Format::kJson : null ? Format::kNull : Format::kLines;

    for (int i = optind; i < argc; ++i) {
        // An unset variable in a script ("$DIR") must not mean the whole file system.
        if (argv[i][0] == '\0') {
            return UsageError("an empty folder name names no folder");
        }
    }

    bool passedOver = false;
    twinrake::AppState state;
    (void)platform::ProgramDirectory(state.programDirectory);
    platform::RaiseOpenFileLimit();
    state.passedOver = [&passedOver](const twinrake::PassedOver& item) {
        passedOver = true;
        Complain(item.path, item.reason);
    };
    // Relative folders are taken from where the user stands, never from anywhere else: the
    // scan itself would take them from the program's own folder, which it makes current.
    std::vector<std::string> folders;
    for (int i = optind; i < argc; ++i) {
        std::string& folder = folders.emplace_back();
        if (platform::Error error = platform::AbsolutePath(argv[i], folder)) {
            state.passedOver(twinrake::PassedOver{
                argv[i], "cannot form its absolute path: " + platform::ErrorText(error)});
            folders.pop_back();
        }
    }
    int listed = 0;
    for (const std::string& folder : folders) {
        // A folder that cannot be listed is named by the scan, through state.passedOver.
        if (twinrake::ScanFolder(state.fileCatalogue, state.programDirectory, folder, "*.*", 0,
                                 state.passedOver)) {
            ++listed;
        }
    }
    if (listed == 0) {
        return kNothingListed;
    }
    twinrake::FindDuplicates(state);

    Output out;
    PrintGroups(state.groupList, format, out);
    if (!out.Finish()) {
        return kWriteError;
    }
    if (summary) {
        PrintSummary(state.groupList);
    }
    return passedOver ? kPassedOver : kComplete;
}
