#include "messages.h"

#include <cstdio>

namespace cli {

namespace {

bool nulEndedMessages = false;

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// The escape $'...' gives a control character.
void AppendEscaped(std::string& out, unsigned char c) {
    static const char kOctal[] = "01234567";
    out.append("$'\\");
    switch (c) {
        case '\a':
            out.push_back('a');
            break;
        case '\b':
            out.push_back('b');
            break;
        case '\t':
            out.push_back('t');
            break;
        case '\n':
            out.push_back('n');
            break;
        case '\v':
            out.push_back('v');
            break;
        case '\f':
            out.push_back('f');
            break;
        case '\r':
            out.push_back('r');
            break;
        default:
            out.push_back(kOctal[(c >> 6) & 7]);
            out.push_back(kOctal[(c >> 3) & 7]);
            out.push_back(kOctal[c & 7]);
    }
    out.push_back('\'');
}

}  // namespace

void SetMessagesNulEnded(bool nulEnded) {
    nulEndedMessages = nulEnded;
}

bool MessagesNulEnded() {
    return nulEndedMessages;
}

std::string Quoted(std::string_view text) {
    bool plain = true;
    for (char c : text) {
        plain = plain && !IsControl(static_cast<unsigned char>(c));
    }
    if (plain) {
        return std::string(text);
    }
    std::string out;
    bool open = false;  // inside '...'
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsControl(byte)) {
            if (open) {
                out.push_back('\'');
                open = false;
            }
            AppendEscaped(out, byte);
            continue;
        }
        if (!open) {
            out.push_back('\'');
            open = true;
        }
        if (c == '\'') {
            out.append("'\\''");  // out of the quotes, an escaped quote, back in
        } else {
            out.push_back(c);
        }
    }
    if (open) {
        out.push_back('\'');
    }
    return out;
}

std::string ForMessage(std::string_view text) {
    return nulEndedMessages ? std::string(text) : Quoted(text);
}

void Say(const std::string& message) {
    std::string line = "twinrake-find: " + message;
    line.push_back(nulEndedMessages ? '\0' : '\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void Complain(const std::string& path, const std::string& reason) {
    Say(ForMessage(path) + ": " + reason);
}

}  // namespace cli
