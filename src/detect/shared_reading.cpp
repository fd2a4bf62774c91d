#include "detect/shared_reading.h"

#include <algorithm>

namespace twinrake {

BlockMemory::BlockMemory(size_t slots)
    : slots_(std::max(slots, kFewestSlots)), memory_(slots_ * kSlot) {
    for (size_t k = slots_; k-- > 0;) {
        free_.push_back(memory_.data() + k * kSlot);
    }
}

std::vector<char*> BlockMemory::Take(size_t count) {
    count = std::clamp<size_t>(count, 1, slots_);
    std::unique_lock lock(mutex_);
    given_.wait(lock, [&] { return free_.size() >= count; });
    std::vector<char*> taken(free_.end() - static_cast<ptrdiff_t>(count), free_.end());
    free_.resize(free_.size() - count);
    return taken;
}

void BlockMemory::Give(const std::vector<char*>& slots) {
    {
        std::lock_guard lock(mutex_);
        free_.insert(free_.end(), slots.begin(), slots.end());
    }
    given_.notify_all();
}

void SharedWork::Share(const std::function<void()>& work) {
    auto offer = std::make_shared<Offer>(Offer{&work});
    {
        std::lock_guard lock(mutex_);
        offers_.push_back(offer);
    }
    changed_.notify_all();
    work();
    std::unique_lock lock(mutex_);
    std::erase(offers_, offer);
    changed_.wait(lock, [&] { return offer->running == 0; });
}

bool SharedWork::Join(std::chrono::milliseconds patience) {
    std::shared_ptr<Offer> offer;
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, patience, [&] { return closed_ || !offers_.empty(); });
        if (offers_.empty()) {
            return false;
        }
        offer = offers_.front();
        ++offer->running;
    }
    (*offer->work)();
    {
        // A run that returns found nothing left to take: no one else need join this work.
        std::lock_guard lock(mutex_);
        --offer->running;
        std::erase(offers_, offer);
    }
    changed_.notify_all();
    return true;
}

void SharedWork::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

}  // namespace twinrake
