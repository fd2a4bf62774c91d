#include "detect/open_budget.h"

#include <algorithm>

namespace twinrake {

OpenBudget::OpenBudget(size_t total) : total_(std::max<size_t>(total, 2)) {}

size_t OpenBudget::Total() const {
    std::lock_guard lock(mutex_);
    return total_;
}

bool OpenBudget::Acquire(size_t count) {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [&] { return count > total_ || held_ + count <= total_; });
    if (count > total_) {
        return false;
    }
    held_ += count;
    return true;
}

void OpenBudget::Release(size_t count) {
    {
        std::lock_guard lock(mutex_);
        held_ -= count;
    }
    shortage_.Progressed();  // someone got somewhere
    released_.notify_all();
}

void OpenBudget::Refused(size_t opened) {
    std::unique_lock lock(mutex_);
    total_ = std::max<size_t>(2, std::min(total_, held_ + opened));
    if (held_ == 0 && opened < 2) {
        // Nobody holds a file that could be closed: the shortage lies outside the search, and
        // the patience runs.
        (void)shortage_.Patient();
    }
    released_.notify_all();  // waiters may ask for less than the new total allows
    released_.wait_for(lock, DescriptorShortage::kRetryPause);
}

bool OpenBudget::GivenUp() const {
    return shortage_.GivenUp();
}

}  // namespace twinrake
