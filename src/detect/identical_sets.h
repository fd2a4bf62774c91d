// Splits the catalogue's files of one size into sets of identical files, reading each file
// once, side by side with the others of its size, and declaring files identical only after
// every byte has been compared with the set's first file.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "detect/read_buffer.h"

namespace twinrake {

struct SizeClassFile {
    uint32_t entry;    // catalogue index
    std::string path;  // full path
};

// `files` share `size` (> 0) and stand in catalogue order. Returns the sets of two or more
// distinct physical files whose `size` bytes are identical, each set in catalogue order. A file
// that cannot be opened, whose length is not `size`, or that is another name of a file earlier
// in `files`, joins no set. For files of 4096 bytes and more, `progress` follows the reading
// as a percentage; it may be read from another thread. Touches no window, so it may run on
// any thread. `arena` holds the blocks read side by side; one per thread, kept from size to size,
// since a fresh block each time would cost a mapping and its page faults.
std::vector<std::vector<uint32_t>> IdenticalSets(const std::vector<SizeClassFile>& files,
                                                 int32_t size, std::atomic<int32_t>& progress,
                                                 ReadBuffer& arena);

// At most this many files of one size are open at once; larger classes are first split by a
// digest of each whole file, read one file at a time.
inline constexpr size_t kMaxOpenFiles = 256;

}  // namespace twinrake
