#include "detect/held_folders.h"

namespace twinrake {

HeldFolders::HeldFolders(const FileCatalogue& catalogue, size_t budget)
    : slots_(std::make_unique<Slot[]>(catalogue.FolderCount())),
      count_(catalogue.FolderCount()),
      left_(budget) {}

HeldFolders::~HeldFolders() {
    for (size_t i = 0; i < count_; ++i) {
        platform::ReleaseFolder(slots_[i].held.load());
    }
}

bool HeldFolders::TakeFromBudget() {
    size_t left = left_.load(std::memory_order_relaxed);
    while (left > 0 && !left_.compare_exchange_weak(left, left - 1)) {
    }
    return left > 0;
}

const platform::HeldFolder* HeldFolders::For(const CatalogueFolder& folder) {
    Slot& slot = slots_[folder.index];
    if (platform::HeldFolder* held = slot.held.load(std::memory_order_acquire)) {
        return held;
    }
    // A folder whose identity the listing did not give cannot be told from another in its
    // place, so it is never held.
    if (slot.refused.load(std::memory_order_relaxed) ||
        folder.identity == platform::FileIdentity{} || !TakeFromBudget()) {
        slot.refused.store(true, std::memory_order_relaxed);
        return nullptr;
    }
    platform::HeldFolder* mine = nullptr;
    if (platform::HoldFolder(folder.text, folder.identity, mine)) {
        left_.fetch_add(1);
        slot.refused.store(true, std::memory_order_relaxed);
        return nullptr;
    }
    // Two readers may hold one folder at the same moment; the first one's stays.
    platform::HeldFolder* first = nullptr;
    if (!slot.held.compare_exchange_strong(first, mine, std::memory_order_acq_rel)) {
        platform::ReleaseFolder(mine);
        left_.fetch_add(1);
        return first;
    }
    return mine;
}

}  // namespace twinrake
