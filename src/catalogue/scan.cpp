#include "catalogue/scan.h"

#include <unordered_map>
#include <vector>

#include "platform/files.h"

namespace twinrake {

namespace {

std::string Child(const std::string& folderText, const std::string& name) {
    std::string child = folderText;
    child.push_back(platform::kPathSeparator);
    child.append(name);
    return child;
}

// One folder on the descent path: its entries and where the walk stands in them.
struct Level {
    std::string folderText;
    platform::FolderListing listing;
    size_t next = 0;
    // Registered on the first file only, so folders without files cost nothing.
    const CatalogueFolder* directory = nullptr;
};

struct IdentityHash {
    size_t operator()(const platform::FileIdentity& identity) const {
        return std::hash<uint64_t>()(identity.index * 0x9E3779B97F4A7C15ULL ^ identity.volume);
    }
};

// The folders from the added one down to the one being walked. A walk holds the listings it
// still has to go through in memory, never an open listing, so any depth can be walked.
class DescentPath {
  public:
    DescentPath(const std::string& pattern, const PassedOverSink& passedOver)
        : pattern_(pattern), passedOver_(passedOver) {}

    bool Empty() const { return depth_ == 0; }
    Level& Deepest() { return levels_[depth_ - 1]; }

    // Reads the whole listing of `folderText` and makes it the deepest level (which may move
    // the levels above), unless it cannot be listed or is a folder already on the path. A
    // level's storage is kept for the next folder at its depth.
    bool Enter(std::string folderText) {
        if (depth_ == levels_.size()) {
            levels_.emplace_back();
        }
        Level& level = levels_[depth_];
        level.folderText = std::move(folderText);
        level.next = 0;
        level.directory = nullptr;
        if (platform::Error error =
                platform::ReadFolder(level.folderText, pattern_, level.listing)) {
            Tell(level.folderText, platform::ErrorText(error));
            return false;
        }
        if (level.listing.brokeOff) {
            Tell(level.folderText,
                 "listing broke off: " + platform::ErrorText(level.listing.brokeOff));
        }
        for (const platform::UnreadableEntry& entry : level.listing.unreadable) {
            Tell(Child(level.folderText, entry.name), platform::ErrorText(entry.error));
        }
        if (level.listing.identityKnown) {
            auto [at, added] = onPath_.try_emplace(level.listing.identity, depth_);
            if (!added) {
                // A link back to a folder above: walking it would never end.
                Tell(level.folderText, "leads back to " + levels_[at->second].folderText);
                return false;
            }
        }
        ++depth_;
        return true;
    }

    void Leave() {
        if (Deepest().listing.identityKnown) {
            onPath_.erase(Deepest().listing.identity);
        }
        --depth_;
    }

  private:
    void Tell(const std::string& folderText, std::string reason) {
        if (!passedOver_) {
            return;
        }
        // The root folder's text is empty; its path is the separator alone.
        std::string path =
            folderText.empty() ? std::string(1, platform::kPathSeparator) : folderText;
        passedOver_(PassedOver{std::move(path), std::move(reason)});
    }

    const std::string& pattern_;
    const PassedOverSink& passedOver_;
    std::vector<Level> levels_;  // those below depth_ are spare
    size_t depth_ = 0;
    std::unordered_map<platform::FileIdentity, size_t, IdentityHash> onPath_;
};

}  // namespace

bool ScanFolder(FileCatalogue& catalogue, const std::string& programDirectory,
                const std::string& folder, const std::string& pattern, int32_t depth,
                const PassedOverSink& passedOver, Progress& progress) {
    // Our own copy: the caller's text (lastFolder) keeps its trailing separator.
    std::string folderText = folder;
    if (!folderText.empty() && folderText.back() == platform::kPathSeparator) {
        folderText.pop_back();
    }
    // depth only tells the levels apart; the walk keeps them on a stack of its own, which a
    // deep tree cannot overflow.
    (void)depth;
    // Relative folders are taken from the program's folder; nothing changes the current
    // folder during the walk, so once is enough.
    (void)platform::MakeCurrentDirectory(programDirectory);
    progress.ScanBegins(catalogue.Count());
    DescentPath path(pattern, passedOver);
    const bool listed = path.Enter(std::move(folderText));
    while (!path.Empty()) {
        Level& level = path.Deepest();
        if (level.next == level.listing.entries.size()) {
            path.Leave();
            progress.Catalogued(catalogue.Count());
            continue;
        }
        platform::ListingEntry& entry = level.listing.entries[level.next++];
        if (entry.isFolder) {
            if (entry.name == "." || entry.name == "..") {
                continue;
            }
            path.Enter(Child(level.folderText, entry.name));  // `level` may have moved
        } else {
            if (level.directory == nullptr) {
                level.directory = catalogue.AddDirectory(level.folderText, level.listing.identity);
            }
            catalogue.Append(level.directory, entry.name, entry.size);
        }
    }
    return listed;
}

}  // namespace twinrake
