// The folders of a search's files, held open while the readers read them, so that each file
// is opened by its name alone: the system then walks no path from the root for every open,
// which on a tree of many small files is much of what the search costs.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "catalogue/lists.h"
#include "platform/files.h"

namespace twinrake {

// A folder is held the first time one of its files is opened, while the descriptor limit
// leaves room, and only while it is still the folder that was listed. Where the limit holds
// fewer than the catalogue's folders, the room goes to the folders whose files would walk the
// most folders to be opened, and the file of a folder that is not held is opened from the
// nearest held folder above it: its open then walks only the few folders between. A file with
// no held folder above is opened by its path.
class HeldFolders {
  public:
    // Where a file of a folder is opened from: a held folder, and the way from it to the
    // file's own folder (empty when the held folder is that one). No held folder: by path.
    struct Place {
        const platform::HeldFolder* held = nullptr;
        std::string_view below;
    };

    // Holds at most `budget` of the catalogue's folders.
    HeldFolders(const FileCatalogue& catalogue, size_t budget);
    ~HeldFolders();
    HeldFolders(const HeldFolders&) = delete;
    HeldFolders& operator=(const HeldFolders&) = delete;

    // Where the files of the catalogue's folder `folder`, whose text is `text`, are opened
    // from. Asked once a file, so it reads the folder's slot alone: a million files' folder
    // records would each cost a cache miss. May run on several threads at once.
    Place For(uint32_t folder, std::string_view text);
    // Ask the memory for what an open from `folder` reads, two files ahead of it: the slot
    // (PrefetchSlot), then, once that is in the cache, the held folder it names (PrefetchHeld).
    // At a million files neither is in the cache any more when its file's turn comes.
    void PrefetchSlot(uint32_t folder) const { __builtin_prefetch(&slots_[folder]); }
    void PrefetchHeld(uint32_t folder) const {
        if (const platform::HeldFolder* held =
                slots_[folder].openedFrom.load(std::memory_order_relaxed)) {
            __builtin_prefetch(held);
        }
    }

  private:
    // A slot's `from` before its folder was first asked for.
    static constexpr uint32_t kUnasked = CatalogueFolder::kNone - 1;
    struct Slot {
        std::atomic<platform::HeldFolder*> held{nullptr};
        // The folder its files are opened from, once asked: kNone, by their paths.
        std::atomic<uint32_t> from{kUnasked};
        uint32_t textLength = 0;  // of the folder's text, where a way below it starts
        // Once `from` is set (and not kNone): that folder's held folder, and where the way
        // below it starts in this folder's text.
        std::atomic<const platform::HeldFolder*> openedFrom{nullptr};
        std::atomic<uint32_t> belowAt{0};
        std::atomic<bool> refused{false};  // not held, and never to be tried again
        bool reserved = false;             // its room is in reservedLeft_, not in left_
    };
    void ReserveWhereWalksAreLongest(size_t budget);
    std::vector<uint32_t> Parents() const;
    uint32_t HeldAbove(const CatalogueFolder& folder);
    static std::string_view Below(const CatalogueFolder& folder, const CatalogueFolder& above);
    const platform::HeldFolder* Hold(const CatalogueFolder& folder);
    platform::Error OpenToHold(const CatalogueFolder& folder, platform::HeldFolder*& held);
    static bool Take(std::atomic<size_t>& room);

    const FileCatalogue& catalogue_;
    std::unique_ptr<Slot[]> slots_;
    const size_t count_;
    std::atomic<size_t> left_;
    std::atomic<size_t> reservedLeft_{0};
    const bool allHaveRoom_;  // every folder may be held
};

}  // namespace twinrake
