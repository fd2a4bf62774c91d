// The byte comparison of two files, as the deletions ask for it before a copy goes: whether
// two paths name, right now, two separate physical files with the same bytes. (The search
// compares many files of one size at once, side by side: identical_sets.h.)
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/progress.h"
#include "platform/files.h"

namespace twinrake {

// Files below this size are read without PrgFile following them.
inline constexpr int32_t kProgressThreshold = 4096;

// True when `path` and `otherPath` are two separate physical files (not PossiblySameFile) of
// equal length whose every byte was read from both and compared, and neither changed while
// it was read. False when they differ, a read fails or comes back short, either changed, or
// either cannot be opened. Relative paths are taken from `programDirectory`. Tells `progress`
// that it still runs, block by block.
bool CompareFiles(const std::string& programDirectory, const std::string& path,
                  const std::string& otherPath, Progress& progress = Unwatched());

// Whether two files may be one physical file: the same identity, or the same inode number,
// length and last write on two devices, which is how an overlay mount, a share mounted twice
// or some network file systems show one file under two names.
bool PossiblySameFile(const platform::FileStamp& a, const platform::FileStamp& b);

}  // namespace twinrake
