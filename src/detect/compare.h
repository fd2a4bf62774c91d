// The one place that reads file contents: decides whether two files of one catalogued size
// hold the same bytes, telling its progress as PrgFile's share for files of 4096 bytes or more.
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/progress.h"
#include "platform/files.h"

namespace twinrake {

// Files below this size are compared without touching PrgFile.
inline constexpr int32_t kProgressThreshold = 4096;

// 1 when the two files hold the same `size` bytes: both are exactly `size` bytes long and
// every byte was read from both and compared, and neither changed while it was read. 0 when
// they differ, a length or a read is off, either changed, or either cannot be opened. A file
// compared with itself gives 1. PrgFile's share follows files of kProgressThreshold bytes or
// more.
int32_t CompareFiles(const std::string& programDirectory, const std::string& firstPath,
                     const std::string& secondPath, int64_t size, Progress& progress = Unwatched());

// Whether the two files are, right now, two separate physical files with the same bytes.
// Moves no bar, but tells `progress` it still runs; used before a copy is deleted.
bool StillCopies(const std::string& programDirectory, const std::string& path,
                 const std::string& otherPath, Progress& progress = Unwatched());

// Whether two files may be one physical file: the same identity, or the same inode number,
// length and last write on two devices, which is how an overlay mount, a share mounted twice
// or some network file systems show one file under two names.
bool PossiblySameFile(const platform::FileStamp& a, const platform::FileStamp& b);

// Whether the file opened at `path` with the stamp `opened`, now read to its end, is still that
// file, unchanged: `path` still names it, and it is `size` bytes long with the same last write,
// change time and number of names.
bool UnchangedSinceOpen(const std::string& path, const platform::FileStamp& opened, int64_t size);

}  // namespace twinrake
