#include "catalogue/reader_pool.h"

#include <algorithm>

namespace twinrake {

size_t Cores() {
    return std::max(1u, std::thread::hardware_concurrency());
}

ReaderPool::ReaderPool(ReaderCounts counts, bool spinning, std::function<void()> work, size_t fixed)
    : counts_(counts), spinning_(spinning), fixed_(fixed), work_(std::move(work)) {}

size_t ReaderPool::Wanted() const {
    if (fixed_ > 0) {
        return fixed_;
    }
    if (spinning_) {
        return 1;
    }
    return pace_.Waiting() ? counts_.waiting : counts_.fromMemory;
}

void ReaderPool::StartUpTo(size_t count) {
    count = std::min(count, Wanted());
    std::lock_guard lock(mutex_);
    while (started_ < count) {
        threads_.emplace_back(work_);
        ++started_;
    }
}

size_t ReaderPool::Started() const {
    std::lock_guard lock(mutex_);
    return started_;
}

void ReaderPool::Join() {
    // Threads may start threads, so once the last has returned no more come.
    std::vector<std::thread> threads;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (threads_.empty()) {
                return;
            }
            threads.swap(threads_);
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        threads.clear();
    }
}

}  // namespace twinrake
