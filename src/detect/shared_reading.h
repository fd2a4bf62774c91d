// What the readers of one search share, all threads together: the open-file budget, the
// memory they read blocks into, work that idle readers may join, and the disk's pace.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "catalogue/disk_pace.h"
#include "detect/open_budget.h"
#include "detect/read_buffer.h"

namespace twinrake {

// At most this many files of one size are compared side by side; larger classes are first
// split by digests (identical_sets.h).
inline constexpr size_t kMaxOpenFiles = 256;

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
// with many files, the subsets those digests leave. The number of threads that read stays the
// number of readers. Work may share work of its own (a subset's digests); the thread that
// shares it then waits for its own only.
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

class HeldFolders;

// What all readers of one search share.
struct SharedReading {
    OpenBudget& openFiles;
    BlockMemory& blocks;
    SharedWork& work;
    DiskPace& pace;                  // told how long each read takes
    HeldFolders* folders = nullptr;  // none: every file is opened by its path
};

}  // namespace twinrake
