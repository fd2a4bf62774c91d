// Splits the catalogue's files of one size into sets of identical files, reading each file
// once where it can, side by side with the others of its size, and declaring files identical
// only after every byte has been compared with the set's first file and neither changed
// meanwhile.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/disk_pace.h"
#include "detect/read_buffer.h"
#include "platform/files.h"

namespace twinrake {

// A file of one size, its texts those of its catalogue entry: a size may have thousands of
// files, and many readers hold one each.
struct SizeClassFile {
    uint32_t entry;  // catalogue index
    std::string_view directory;
    std::string_view name;
    std::string Path() const;
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

// At most this many files of one size are compared side by side; larger classes are first
// split by a digest of each whole file, read one file at a time.
inline constexpr size_t kMaxOpenFiles = 256;

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

// The memory that the readers of one search read blocks into, all threads together: many
// readers keep the disk busy, and this keeps their memory from growing with their number. It
// is made once, in slots of kSlot bytes, page-aligned; a reader takes the slots one step of
// reading needs and gives them back after it, and holds no other wait while it has them.
class BlockMemory {
  public:
    static constexpr size_t kSlot = 64 * 1024;
    // Enough for the most files compared side by side, at a page each.
    static constexpr size_t kFewestSlots = kMaxOpenFiles * 4096 / kSlot;

    // Makes `slots` slots, at least kFewestSlots.
    explicit BlockMemory(size_t slots);
    size_t Slots() const { return slots_; }
    // Waits until `count` slots (at most all) are free and takes them.
    std::vector<char*> Take(size_t count);
    void Give(const std::vector<char*>& slots);

  private:
    std::mutex mutex_;
    std::condition_variable given_;
    const size_t slots_;
    ReadBuffer memory_;
    std::vector<char*> free_;
};

// Work of one reader that readers with nothing else to do may join: the digests of a size
// with many files. The number of threads that read stays the number of readers.
class SharedWork {
  public:
    // Runs `work` on the calling thread and on every thread that joins meanwhile, and returns
    // once each run of it has returned. `work` may run on several threads at once and returns
    // when nothing is left to do.
    void Share(const std::function<void()>& work);
    // Runs a share of some work on offer, waiting up to `patience` for one; false if none came.
    bool Join(std::chrono::milliseconds patience);
    // Wakes every thread that waits in Join.
    void Close();

  private:
    struct Offer {
        const std::function<void()>* work;
        size_t running = 0;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::shared_ptr<Offer>> offers_;
    bool closed_ = false;
};

// What all readers of one search share.
struct SharedReading {
    OpenBudget& openFiles;
    BlockMemory& blocks;
    SharedWork& work;
    DiskPace& pace;  // told how long each read takes
};

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
