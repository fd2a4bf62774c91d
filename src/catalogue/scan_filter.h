// What a scan leaves out when asked to (twinrake-find's filters; the window leaves out nothing):
// files by size, files and whole folders by a glob on their name or on their path below the
// folder scanned, and hidden names. What is left out is never catalogued, so never read and
// never acted on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace twinrake {

// Whether `text` matches the glob `pattern`: "*" any run of characters but "/", "**" any run
// at all ("**/" also none, so "**/x" matches "x" too), "?" one character but "/", "[abc]",
// "[a-z]" and "[!a]" one of a set; "\" takes the next character as it is. Bytes are compared as
// they are, case and all.
bool GlobMatches(std::string_view pattern, std::string_view text);

struct ScanFilter {
    int64_t minSize = 0;   // files smaller than this are left out
    int64_t maxSize = -1;  // files larger than this are left out; -1 for no limit
    std::vector<std::string> excludes;
    bool noHidden = false;  // names that begin with "." are left out, folders with all below

    bool LeavesOutNothing() const {
        return minSize <= 0 && maxSize < 0 && excludes.empty() && !noHidden;
    }
    // `name` is the entry's own name, `below` its path below the folder scanned ("a/b/name").
    bool KeepsName(std::string_view name, std::string_view below) const;
    // The same for a folder, which is also left out with all below it where a glob matches
    // what lies below it ("build/**").
    bool KeepsFolder(std::string_view name, std::string_view below) const;
    bool KeepsSize(int64_t size) const {
        return size >= minSize && (maxSize < 0 || size <= maxSize);
    }
};

}  // namespace twinrake
