#include "detect/held_folders.h"

#include <vector>

namespace twinrake {

namespace {

// The longest way below a held folder a file is opened by: with the name, well within what
// one call of the system takes. A deeper file is opened by its path, which is walked in pieces.
constexpr size_t kMostBelow = 1024;

}  // namespace

HeldFolders::HeldFolders(const FileCatalogue& catalogue, size_t budget)
    : catalogue_(catalogue),
      slots_(std::make_unique<Slot[]>(catalogue.FolderCount())),
      count_(catalogue.FolderCount()),
      left_(budget) {
    if (count_ > budget) {
        ReserveForShallowest(budget);
    }
}

HeldFolders::~HeldFolders() {
    for (size_t i = 0; i < count_; ++i) {
        platform::ReleaseFolder(slots_[i].held.load());
    }
}

// Keeps room for every folder down to the deepest level whose folders, with all above them,
// still fit in `budget`; what room is left then goes to the first other folders asked for.
// A folder counts its depth in catalogue folders above it: one without files is never held.
void HeldFolders::ReserveForShallowest(size_t budget) {
    std::vector<uint32_t> depth(count_, 0);
    std::vector<size_t> atDepth;
    for (size_t i = 0; i < count_; ++i) {
        const uint32_t parent = catalogue_.Folder(i).parent;
        // A parent is registered before its folders; anything else is taken as a top.
        depth[i] = parent < i ? depth[parent] + 1 : 0;
        if (depth[i] >= atDepth.size()) {
            atDepth.resize(depth[i] + 1, 0);
        }
        ++atDepth[depth[i]];
    }
    size_t reserved = 0;
    size_t deepest = 0;
    for (; deepest < atDepth.size() && reserved + atDepth[deepest] <= budget; ++deepest) {
        reserved += atDepth[deepest];
    }
    for (size_t i = 0; i < count_; ++i) {
        slots_[i].reserved = depth[i] < deepest;
    }
    reservedLeft_.store(reserved);
    left_.store(budget - reserved);
}

bool HeldFolders::Take(std::atomic<size_t>& room) {
    size_t left = room.load(std::memory_order_relaxed);
    while (left > 0 && !room.compare_exchange_weak(left, left - 1)) {
    }
    return left > 0;
}

HeldFolders::Place HeldFolders::For(const CatalogueFolder& folder) {
    const std::string_view text = folder.text;
    for (const CatalogueFolder* above = &folder;;) {
        if (const platform::HeldFolder* held = Hold(*above)) {
            return Place{held, text.substr(std::min(text.size(), above->text.size() + 1))};
        }
        if (above->parent >= count_) {
            return Place{};
        }
        above = &catalogue_.Folder(above->parent);
        // The way below starts after the folder's text and a separator, or is not one.
        if (text.size() <= above->text.size() + 1 ||
            text.size() - above->text.size() > kMostBelow ||
            text[above->text.size()] != platform::kPathSeparator ||
            text.compare(0, above->text.size(), above->text) != 0) {
            return Place{};
        }
    }
}

const platform::HeldFolder* HeldFolders::Hold(const CatalogueFolder& folder) {
    Slot& slot = slots_[folder.index];
    if (platform::HeldFolder* held = slot.held.load(std::memory_order_acquire)) {
        return held;
    }
    // Two readers may hold one folder at the same moment, each with room of its own, so that
    // the descriptors never exceed the budget; the first one's stays.
    std::atomic<size_t>& room = slot.reserved ? reservedLeft_ : left_;
    // A folder whose identity the listing did not give cannot be told from another in its
    // place, so it is never held.
    if (slot.refused.load(std::memory_order_relaxed) ||
        folder.identity == platform::FileIdentity{} || !Take(room)) {
        slot.refused.store(true, std::memory_order_relaxed);
        return nullptr;
    }
    platform::HeldFolder* mine = nullptr;
    if (platform::HoldFolder(folder.text, folder.identity, mine)) {
        room.fetch_add(1);
        slot.refused.store(true, std::memory_order_relaxed);
        return nullptr;
    }
    platform::HeldFolder* first = nullptr;
    if (!slot.held.compare_exchange_strong(first, mine, std::memory_order_acq_rel)) {
        platform::ReleaseFolder(mine);
        room.fetch_add(1);
        return first;
    }
    return mine;
}

}  // namespace twinrake
