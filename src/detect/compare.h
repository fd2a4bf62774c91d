// The byte comparison of two files, as the deletions ask for it before a copy goes: whether
// two paths name, right now, two separate physical files with the same bytes. (The search
// compares many files of one size at once, side by side: identical_sets.h.)
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/progress.h"
#include "platform/files.h"

namespace twinrake {

// Files below this size are read without the current size's share following them.
inline constexpr int32_t kProgressThreshold = 4096;

// How two files compare, and why not alike.
enum class Likeness : uint8_t {
    kSame,        // two separate files, every byte read from both and equal, neither changed
    kSameFile,    // the two names may be one physical file (PossiblySameFile)
    kDiffer,      // their lengths or bytes differ
    kUnreadable,  // one could not be opened or read: `error` and `second` say which and why
    kChanged,     // one changed while it was read: `second` says which
};

struct Comparison {
    Likeness likeness = Likeness::kSame;
    platform::Error error;  // kUnreadable: the system's refusal
    bool second = false;    // kUnreadable, kChanged: the second path's file, not the first's
    // kSame: the second file as it was read, unchanged from its first byte to its last.
    platform::FileStamp secondStamp;
};

// Compares the files at `path` and `otherPath` byte for byte. Relative paths are taken from
// `programDirectory`. Tells `progress` that it still runs, block by block.
Comparison CompareContents(const std::string& programDirectory, const std::string& path,
                           const std::string& otherPath, Progress& progress = Unwatched());

// True when CompareContents finds the two kSame; false when they differ, a read fails or
// comes back short, either changed, either cannot be opened, or they may be one file.
bool CompareFiles(const std::string& programDirectory, const std::string& path,
                  const std::string& otherPath, Progress& progress = Unwatched());

// Whether two files may be one physical file under two names: the same identity; or, on two
// devices, the same length and last write and the same inode number in its low 32 bits. An
// overlay mount shows a lower file so (without xino its own inode number, with xino that
// number with high bits set), and so do a share mounted twice and some network and FUSE file
// systems. On one device the identity alone decides.
bool PossiblySameFile(const platform::FileStamp& a, const platform::FileStamp& b);

}  // namespace twinrake
