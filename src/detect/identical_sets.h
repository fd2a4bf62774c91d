// Splits the catalogue's files of one size into sets of identical files, reading each file
// once where it can, side by side with the others of its size, and declaring files identical
// only after every byte has been compared with the set's first file and neither changed
// meanwhile.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "detect/read_buffer.h"
#include "platform/files.h"

namespace twinrake {

struct SizeClassFile {
    uint32_t entry;    // catalogue index
    std::string path;  // full path
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

// Whether two stamps show one and the same version of one file: the same file, with the same
// length, last write, last change and number of names. Whatever the system does to a file
// that is written, truncated, replaced or renamed over shows in one of them.
bool SameVersion(const platform::FileStamp& a, const platform::FileStamp& b);

// The files the readers of one search may hold open at once, all threads together. A reader
// takes all the files it needs for one comparison at once or waits, so no two readers can
// wait for each other.
class OpenBudget {
  public:
    explicit OpenBudget(size_t total);
    size_t Total() const;
    // Waits until `count` may be opened and takes them; false, without waiting further, when
    // the total has fallen below `count`.
    bool Acquire(size_t count);
    void Release(size_t count);
    // The system refused a file although the budget allowed it: it has room for no more than
    // what the other readers hold and `opened` more. Waits a moment for others to close.
    void Refused(size_t opened);
    // Whether readers have waited for the system in vain for so long that a file it keeps
    // refusing should be passed over instead.
    bool GivenUp() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    size_t total_;
    size_t held_ = 0;
    std::chrono::steady_clock::time_point stuckSince_;
    bool stuck_ = false;
};

// The bytes of blocks that the readers of one search may hold in memory at once, all threads
// together: many readers keep the disk busy, and this keeps them from taking memory in
// proportion. A reader holds at most one share at a time and no other wait while it does.
class BlockMemory {
  public:
    explicit BlockMemory(size_t total) : total_(total) {}
    size_t Total() const { return total_; }
    // Waits until `bytes` (at most the total) are free and takes them; gives what it took.
    size_t Take(size_t bytes);
    void Give(size_t bytes);

  private:
    std::mutex mutex_;
    std::condition_variable given_;
    const size_t total_;
    size_t held_ = 0;
};

// What all readers of one search share.
struct SharedReading {
    OpenBudget& openFiles;
    BlockMemory& blocks;
    size_t digestThreads;  // how many threads take the digests of one large size at once
};

// `files` share `size` (> 0) and stand in catalogue order. Gives the sets of two or more
// separate physical files whose `size` bytes are identical. A file that cannot be opened or
// read, whose length is not `size`, or that changed while it was read joins no set and is
// named in `passed`; another name of a file earlier in `files` (PossiblySameFile) joins no set
// and is not named. For files of 4096 bytes and more, `progress` follows the reading as a
// percentage; it may be read from another thread. Touches no window, so it may run on any
// thread. `arena` holds the blocks read side by side; one per thread, kept from size to size,
// since a fresh block each time would cost a mapping and its page faults.
SizeClassResult IdenticalSets(const std::vector<SizeClassFile>& files, int64_t size,
                              std::atomic<int32_t>& progress, ReadBuffer& arena,
                              SharedReading& shared);

// At most this many files of one size are compared side by side; larger classes are first
// split by a digest of each whole file, read one file at a time.
inline constexpr size_t kMaxOpenFiles = 256;

}  // namespace twinrake
