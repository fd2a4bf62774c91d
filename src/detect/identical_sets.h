// Splits the catalogue's files of one size into sets of identical files, reading each file
// once where it can, side by side with the others of its size, and declaring files identical
// only after every byte has been compared with the set's first file and neither changed
// meanwhile.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/lists.h"
#include "detect/shared_reading.h"
#include "platform/files.h"

namespace twinrake {

// A file of one size, its texts those of its catalogue entry: a size may have thousands of
// files, and many readers hold one each.
struct SizeClassFile {
    uint32_t entry;  // catalogue index
    std::string_view directory;
    std::string_view name;
    // Its folder's place in the catalogue; kNone: the file is only ever opened by its path.
    uint32_t folder = CatalogueFolder::kNone;
};

// A file of a set, with its stamp as it was read.
struct SetMember {
    uint32_t entry;
    platform::FileStamp stamp;
};
using IdenticalSet = std::vector<SetMember>;

// A file that joins no set although it might have: it could not be read, or it changed
// while it was read or since it was listed (kind Changed).
struct PassedFile {
    uint32_t entry;
    platform::Error error;
    bool operator==(const PassedFile&) const = default;
};

struct SizeClassResult {
    std::vector<IdenticalSet> sets;  // each in catalogue order; in no particular order
    std::vector<PassedFile> passed;  // in catalogue order, each file once
};

// At most kMaxOpenFiles files of one size are compared side by side (shared_reading.h); larger
// classes are first split by a digest of a block at each end of every file, then, where files
// still agree, of every whole file, each read on its own.

// Whether two stamps show one and the same version of one file: the same file, with the same
// length, last write, last change and number of names. Whatever the system does to a file
// that is written, truncated, replaced or renamed over shows in one of them.
bool SameVersion(const platform::FileStamp& a, const platform::FileStamp& b);

// `files` share `size` (> 0) and stand in catalogue order. Gives the sets of two or more
// separate physical files whose `size` bytes are identical. A file that cannot be opened or
// read, whose length is not `size`, or that changed while it was read joins no set and is
// named in `passed`; another name of a file earlier in `files` (PossiblySameFile) joins no set
// and is not named. For files of 4096 bytes and more, `progress` follows the reading as a
// percentage; it may be read from another thread. Touches no window, so it may run on any
// thread.
SizeClassResult IdenticalSets(const std::vector<SizeClassFile>& files, int64_t size,
                              std::atomic<int32_t>& progress, SharedReading& shared);

}  // namespace twinrake
