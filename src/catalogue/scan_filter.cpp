#include "catalogue/scan_filter.h"

namespace twinrake {

namespace {

// Whether the set at `pattern[at]` ("[" already passed) holds `c`; `at` moves past its "]".
// False, leaving `at` alone, for a "[" that closes nowhere: it is then a plain "[".
bool InSet(std::string_view pattern, size_t& at, char c, bool& matched) {
    size_t k = at;
    const bool negated = k < pattern.size() && (pattern[k] == '!' || pattern[k] == '^');
    k += negated ? 1 : 0;
    bool found = false;
    for (bool first = true; k < pattern.size() && (first || pattern[k] != ']'); first = false) {
        char low = pattern[k++];
        char high = low;
        if (k + 1 < pattern.size() && pattern[k] == '-' && pattern[k + 1] != ']') {
            high = pattern[k + 1];
            k += 2;
        }
        found = found || (low <= c && c <= high);
    }
    if (k >= pattern.size()) {
        return false;
    }
    at = k + 1;
    matched = found != negated;
    return true;
}

bool Match(std::string_view pattern, size_t p, std::string_view text, size_t t) {
    while (p < pattern.size()) {
        const char c = pattern[p];
        if (c == '*') {
            const bool any = p + 1 < pattern.size() && pattern[p + 1] == '*';
            size_t next = p + (any ? 2 : 1);
            // "**/" may stand for no folder at all.
            if (any && next < pattern.size() && pattern[next] == '/' &&
                Match(pattern, next + 1, text, t)) {
                return true;
            }
            for (size_t k = t;; ++k) {
                if (Match(pattern, next, text, k)) {
                    return true;
                }
                if (k == text.size() || (!any && text[k] == '/')) {
                    return false;
                }
            }
        }
        if (t == text.size()) {
            return false;
        }
        if (c == '?') {
            if (text[t] == '/') {
                return false;
            }
            ++p;
        } else if (c == '[') {
            size_t at = p + 1;
            bool matched = false;
            if (text[t] != '/' && InSet(pattern, at, text[t], matched)) {
                if (!matched) {
                    return false;
                }
                p = at;
            } else if (text[t] != '[') {
                return false;
            } else {
                ++p;
            }
        } else {
            if (c == '\\' && p + 1 < pattern.size()) {
                ++p;
            }
            if (pattern[p] != text[t]) {
                return false;
            }
            ++p;
        }
        ++t;
    }
    return t == text.size();
}

}  // namespace

bool GlobMatches(std::string_view pattern, std::string_view text) {
    return Match(pattern, 0, text, 0);
}

bool ScanFilter::KeepsName(std::string_view name, std::string_view below) const {
    if (noHidden && !name.empty() && name.front() == '.' && name != "." && name != "..") {
        return false;
    }
    for (const std::string& glob : excludes) {
        if (GlobMatches(glob, name) || GlobMatches(glob, below)) {
            return false;
        }
    }
    return true;
}

bool ScanFilter::KeepsFolder(std::string_view name, std::string_view below) const {
    if (!KeepsName(name, below)) {
        return false;
    }
    const std::string inside = std::string(below) + "/";
    for (const std::string& glob : excludes) {
        if (GlobMatches(glob, inside)) {
            return false;
        }
    }
    return true;
}

}  // namespace twinrake
