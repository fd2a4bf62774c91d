// The folders of a search's files, held open while the readers read them, so that each file
// is opened by its name alone: the system then walks no path from the root for every open,
// which on a tree of many small files is much of what the search costs.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "catalogue/lists.h"
#include "platform/files.h"

namespace twinrake {

// A folder is held the first time one of its files is opened, while the descriptor limit
// leaves room, and only while it is still the folder that was listed; the files of any other
// folder are opened by their paths.
class HeldFolders {
  public:
    // Holds at most `budget` of the catalogue's folders.
    HeldFolders(const FileCatalogue& catalogue, size_t budget);
    ~HeldFolders();
    HeldFolders(const HeldFolders&) = delete;
    HeldFolders& operator=(const HeldFolders&) = delete;

    // `folder` held, or null when it is not. May run on several threads at once.
    const platform::HeldFolder* For(const CatalogueFolder& folder);

  private:
    struct Slot {
        std::atomic<platform::HeldFolder*> held{nullptr};
        std::atomic<bool> refused{false};  // not held, and never to be tried again
    };
    bool TakeFromBudget();

    std::unique_ptr<Slot[]> slots_;
    const size_t count_;
    std::atomic<size_t> left_;
};

}  // namespace twinrake
