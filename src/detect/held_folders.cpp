#include "detect/held_folders.h"

#include <algorithm>
#include <queue>
#include <utility>
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
      left_(budget),
      allHaveRoom_(count_ <= budget) {
    for (size_t i = 0; i < count_; ++i) {
        slots_[i].textLength = static_cast<uint32_t>(catalogue.Folder(i).text.size());
    }
    if (count_ > budget) {
        ReserveWhereWalksAreLongest(budget);
    }
}

HeldFolders::~HeldFolders() {
    for (size_t i = 0; i < count_; ++i) {
        platform::ReleaseFolder(slots_[i].held.load());
    }
}

// Keeps the room for the folders whose files would walk the most folders to be opened
// otherwise. A folder's worth is the files below it that no folder chosen below spares a walk
// already, times the folders between it and the nearest chosen one above (its whole path where
// none is): what holding it would spare. Chosen one at a time, the next always the worthiest
// as those chosen so far leave it; a folder's worth only falls as others are chosen, so a worth
// taken earlier is looked at again only when it stands first. Room that no folder is worth
// goes to the first other folders asked for.
void HeldFolders::ReserveWhereWalksAreLongest(size_t budget) {
    const std::vector<uint32_t> parent = Parents();
    std::vector<uint32_t> levels(count_);
    for (size_t i = 0; i < count_; ++i) {
        const std::string_view text = catalogue_.Folder(i).text;
        levels[i] =
            static_cast<uint32_t>(std::count(text.begin(), text.end(), platform::kPathSeparator)) +
            1;
    }
    // The files below each folder that no chosen folder below it holds.
    std::vector<uint64_t> unspared(count_, 0);
    for (int32_t i = 0; i < catalogue_.Count(); ++i) {
        ++unspared[catalogue_[static_cast<size_t>(i)].folder().index];
    }
    for (size_t i = count_; i-- > 0;) {
        if (parent[i] != CatalogueFolder::kNone) {
            unspared[parent[i]] += unspared[i];
        }
    }
    const auto worth = [&](uint32_t i) {
        uint32_t above = parent[i];
        while (above != CatalogueFolder::kNone && !slots_[above].reserved) {
            above = parent[above];
        }
        const uint32_t walked =
            above == CatalogueFolder::kNone ? levels[i] : levels[i] - levels[above];
        return unspared[i] * walked;
    };
    // Before any is chosen, every folder's walk is its whole path.
    std::priority_queue<std::pair<uint64_t, uint32_t>> worthiest;
    for (uint32_t i = 0; i < count_; ++i) {
        worthiest.emplace(unspared[i] * levels[i], i);
    }
    size_t reserved = 0;
    while (reserved < budget && !worthiest.empty() && worthiest.top().first > 0) {
        const uint32_t i = worthiest.top().second;
        worthiest.pop();
        const uint64_t now = worth(i);
        if (!worthiest.empty() && now < worthiest.top().first) {
            worthiest.emplace(now, i);
            continue;
        }
        slots_[i].reserved = true;
        ++reserved;
        for (uint32_t above = parent[i]; above != CatalogueFolder::kNone && !slots_[above].reserved;
             above = parent[above]) {
            unspared[above] -= unspared[i];
        }
    }
    reservedLeft_.store(reserved);
    left_.store(budget - reserved);
}

// Each folder's catalogue folder above it; a parent is registered before its folders, and
// anything else is taken as a top.
std::vector<uint32_t> HeldFolders::Parents() const {
    std::vector<uint32_t> parent(count_);
    for (size_t i = 0; i < count_; ++i) {
        const uint32_t above = catalogue_.Folder(i).parent;
        parent[i] = above < i ? above : CatalogueFolder::kNone;
    }
    return parent;
}

bool HeldFolders::Take(std::atomic<size_t>& room) {
    size_t left = room.load(std::memory_order_relaxed);
    while (left > 0 && !room.compare_exchange_weak(left, left - 1)) {
    }
    return left > 0;
}

HeldFolders::Place HeldFolders::For(uint32_t folder, std::string_view text) {
    // A folder that is not held now never will be (every refusal stands), so where its files
    // are opened from is settled the first time it is asked.
    Slot& slot = slots_[folder];
    uint32_t from = slot.from.load(std::memory_order_acquire);
    if (from == kUnasked) {
        from = HeldAbove(catalogue_.Folder(folder));
        if (from != CatalogueFolder::kNone) {
            // Two readers asking at once store the same: a held folder never changes.
            slot.openedFrom.store(slots_[from].held.load(std::memory_order_acquire),
                                  std::memory_order_relaxed);
            slot.belowAt.store(slots_[from].textLength + 1, std::memory_order_relaxed);
        }
        slot.from.store(from, std::memory_order_release);
    }
    if (from == CatalogueFolder::kNone) {
        return Place{};
    }
    return Place{
        slot.openedFrom.load(std::memory_order_relaxed),
        text.substr(std::min<size_t>(text.size(), slot.belowAt.load(std::memory_order_relaxed)))};
}

// The folder itself if it can be held, else the nearest one above it that can, or kNone.
uint32_t HeldFolders::HeldAbove(const CatalogueFolder& folder) {
    for (const CatalogueFolder* above = &folder;;) {
        if (Hold(*above) != nullptr) {
            return above->index;
        }
        if (above->parent >= count_) {
            return CatalogueFolder::kNone;
        }
        above = &catalogue_.Folder(above->parent);
        if (Below(folder, *above).empty()) {
            return CatalogueFolder::kNone;
        }
    }
}

// The way from `above` down to `folder`: what follows the text of `above` and a separator in
// the text of `folder`. Empty where there is no such way, or a longer one than kMostBelow.
std::string_view HeldFolders::Below(const CatalogueFolder& folder, const CatalogueFolder& above) {
    const std::string_view text = folder.text;
    if (text.size() <= above.text.size() + 1 || text.size() - above.text.size() > kMostBelow ||
        text[above.text.size()] != platform::kPathSeparator ||
        text.compare(0, above.text.size(), above.text) != 0) {
        return {};
    }
    return text.substr(above.text.size() + 1);
}

// Opens `folder` to hold it from the nearest folder held above it, so that the system walks
// only the folders between; from its path where none is. Where every folder has room, the
// folders above it are held first: each of them is then walked to once, from the one above.
platform::Error HeldFolders::OpenToHold(const CatalogueFolder& folder,
                                        platform::HeldFolder*& held) {
    if (allHaveRoom_) {
        // From the top down, each from the one above; not one within the other, which would
        // go as deep into the stack as the folders go.
        std::vector<uint32_t> unheld;
        for (uint32_t at = folder.index, above = folder.parent;
             above < at && slots_[above].held.load(std::memory_order_acquire) == nullptr;
             at = above, above = catalogue_.Folder(at).parent) {
            unheld.push_back(above);
        }
        for (auto at = unheld.rbegin(); at != unheld.rend(); ++at) {
            Hold(catalogue_.Folder(*at));
        }
    }
    for (uint32_t at = folder.index, above = folder.parent; above < at;
         at = above, above = catalogue_.Folder(at).parent) {
        const std::string_view below = Below(folder, catalogue_.Folder(above));
        if (below.empty()) {
            break;
        }
        if (const platform::HeldFolder* from = slots_[above].held.load(std::memory_order_acquire)) {
            return platform::HoldFolderIn(from, below, folder.identity, held);
        }
    }
    return platform::HoldFolder(folder.text, folder.identity, held);
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
    if (OpenToHold(folder, mine)) {
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
