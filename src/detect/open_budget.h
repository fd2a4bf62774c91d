// How many files the readers of one search may hold open at once: the descriptor policy of
// descriptor_shortage.h, for many readers that each open many files.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "catalogue/descriptor_shortage.h"

namespace twinrake {

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
    DescriptorShortage shortage_;
};

}  // namespace twinrake
