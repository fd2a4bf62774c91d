// The scan, and where its threads are:
//
//   ScanFolder (the calling thread) walks the tree depth first and pre-order, each folder's
//   entries in listing order, and appends every file to the catalogue. It reads no listing
//   itself: it takes each folder's listing when its turn comes, and while it waits for one
//   it tells `progress` that it still runs.
//
//   Listing readers read the listings of folders ahead of the walk, the one the walk needs
//   next first: a folder's subfolders become known when its listing is read, and the reader
//   that read it queues them. There is one reader per core while the listings come from
//   memory, and up to ListingThreads once they wait for the disk, which answers many
//   look-ups at once far faster than one after another. At most kReadAhead listings wait for
//   the walk; the one it waits for is always read.
//
// The catalogue order is the one a walk on one thread gives; so are the reports of what was
// passed over, made as the walk reaches each folder. No listing stays open while another is
// read, so neither depth nor the open-file limit cuts the walk short: a reader refused for
// want of descriptors leaves the reading to one reader, which waits until there are some.
#include "catalogue/scan.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "catalogue/descriptor_shortage.h"
#include "catalogue/reader_pool.h"
#include "platform/files.h"

namespace twinrake {

namespace {

constexpr size_t kReadAhead = 1024;
// How many read listings the walk waits for once it has caught up with the readers, and for
// how long at most once the one it needs is read.
constexpr size_t kWalkRun = 32;
constexpr std::chrono::milliseconds kWalkPatience{5};

// One reader per core from memory, more once the disk sets the pace.
ReaderCounts ListingThreads() {
    return ReaderCounts{Cores(), std::clamp<size_t>(8 * Cores(), 8, 16)};
}

bool IsDots(const std::string& name) {
    return name == "." || name == "..";
}

// A folder of the tree, from the moment its parent's listing named it until the walk has
// left it.
struct Folder {
    Folder(std::string folderText, Folder* above, uint32_t index)
        : text(std::move(folderText)),
          parent(above),
          indexInParent(index),
          depth(above == nullptr ? 0 : above->depth + 1) {}

    const std::string text;
    Folder* const parent;
    const uint32_t indexInParent;  // among the parent's subfolders
    const size_t depth;

    // Written by the reader that reads it, then read by the walk.
    bool read = false;
    platform::Error error;                // it could not be listed
    const Folder* leadsBackTo = nullptr;  // a folder above it that it is again
    platform::FolderListing listing;
    std::vector<std::unique_ptr<Folder>> subfolders;  // in listing order
};

// The order in which the walk meets two folders: depth first, pre-order.
struct WalkOrder {
    bool operator()(const Folder* a, const Folder* b) const {
        if (a == b) {
            return false;
        }
        // Up to one depth, then up to the common folder above both.
        while (a->depth > b->depth) {
            if (a->parent == b) {
                return false;  // b is above a: the walk meets b first
            }
            a = a->parent;
        }
        while (b->depth > a->depth) {
            if (b->parent == a) {
                return true;
            }
            b = b->parent;
        }
        while (a->parent != b->parent) {
            a = a->parent;
            b = b->parent;
        }
        return a->indexInParent < b->indexInParent;
    }
};

class ListingReaders {
  public:
    ListingReaders(bool spinning, const ScanFilter* filter, size_t rootLength)
        : filter_(filter != nullptr && !filter->LeavesOutNothing() ? filter : nullptr),
          rootLength_(rootLength),
          pool_(ListingThreads(), spinning, [this] { Work(); }) {
        pool_.WhenWaiting([this] {
            std::lock_guard lock(mutex_);
            StartReaderIfUseful();
        });
    }
    ~ListingReaders() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        pool_.Join();
    }
    ListingReaders(const ListingReaders&) = delete;
    ListingReaders& operator=(const ListingReaders&) = delete;

    void Queue(Folder* folder) {
        std::lock_guard lock(mutex_);
        queued_.insert(folder);
        StartReaderIfUseful();
        changed_.notify_all();
    }

    // Waits until `folder` is read, telling `progress` meanwhile; the listing is the walk's
    // from then on. Once it has had to wait, the walk waits for a run of listings: woken for
    // each, it would take turns with the readers tens of thousands of times.
    void WaitFor(Folder* folder, Progress& progress) {
        std::unique_lock lock(mutex_);
        if (!folder->read) {
            wanted_ = folder;
            waitSince_ = std::chrono::steady_clock::now();
            changed_.notify_all();
            WaitTelling(
                lock, walkMayGo_, [&] { return WalkMayGo(); }, [&] { progress.StillRunning(); });
            wanted_ = nullptr;
        }
        --waiting_;
        changed_.notify_all();
    }

  private:
    // One more reader while there is more queued than the readers take on; none once the
    // system ran out of descriptors, when one reader alone takes work. Called with the lock
    // held.
    void StartReaderIfUseful() {
        if (!outOfHandles_ && queued_.size() > idle_) {
            const size_t before = pool_.Started();
            pool_.StartUpTo(before + (queued_.size() - idle_));
            idle_ += pool_.Started() - before;  // each counts itself once it runs
        }
    }

    // Whether the walk, waiting for `wanted_`, should go on: it is read, and a run of listings
    // waits for the walk, or the readers have nothing more in hand, or they are slow enough
    // that the window would show the count standing still. Called with the lock held.
    bool WalkMayGo() const {
        return wanted_->read &&
               (waiting_ >= kWalkRun || (queued_.empty() && busy_ == 0) || outOfHandles_ ||
                std::chrono::steady_clock::now() - waitSince_ >= kWalkPatience);
    }

    bool MayTake() const {
        if (queued_.empty() || (outOfHandles_ && busy_ > 0)) {
            return false;
        }
        return waiting_ < kReadAhead || *queued_.begin() == wanted_;
    }

    void Work() {
        std::unique_lock lock(mutex_);
        --idle_;  // counted when it was started
        for (;;) {
            ++idle_;
            changed_.wait(lock, [&] { return stop_ || MayTake(); });
            --idle_;
            if (stop_) {
                return;
            }
            Folder* folder = *queued_.begin();
            queued_.erase(queued_.begin());
            ++busy_;
            lock.unlock();
            Read(*folder);
            lock.lock();
            --busy_;
            if (Refused(*folder)) {
                // A lack of descriptors says nothing of the folder: it goes back, and from
                // now on one reader alone reads, with as few descriptors as the walk itself.
                outOfHandles_ = true;
                queued_.insert(folder);
                lock.unlock();
                std::this_thread::sleep_for(DescriptorShortage::kRetryPause);
                lock.lock();
                continue;
            }
            folder->read = true;
            ++waiting_;
            for (const auto& subfolder : folder->subfolders) {
                queued_.insert(subfolder.get());
            }
            StartReaderIfUseful();
            changed_.notify_all();
            if (wanted_ != nullptr && WalkMayGo()) {
                walkMayGo_.notify_one();
            }
        }
    }

    // Whether `folder` was refused for want of descriptors and should be read again.
    bool Refused(const Folder& folder) {
        if (!folder.error.Is(platform::ErrorKind::NoHandles)) {
            shortage_.Progressed();
            return false;
        }
        return shortage_.Patient();
    }

    // Reads the listing of `folder` and names its subfolders.
    void Read(Folder& folder) {
        folder.subfolders.clear();
        folder.leadsBackTo = nullptr;
        auto start = std::chrono::steady_clock::now();
        folder.error = platform::ReadFolder(folder.text, "*.*", folder.listing);
        pool_.Pace().Note(std::chrono::steady_clock::now() - start,
                          static_cast<uint32_t>(folder.listing.entries.size() + 1));
        if (folder.error) {
            return;
        }
        if (folder.listing.identityKnown) {
            for (const Folder* above = folder.parent; above != nullptr; above = above->parent) {
                if (above->listing.identityKnown &&
                    above->listing.identity == folder.listing.identity) {
                    folder.leadsBackTo = above;  // walking it would never end
                    return;
                }
            }
        }
        if (filter_ != nullptr) {
            LeaveOut(folder);
        }
        uint32_t index = 0;
        for (const platform::ListingEntry& entry : folder.listing.entries) {
            if (entry.isFolder && !IsDots(entry.name)) {
                folder.subfolders.push_back(
                    std::make_unique<Folder>(FullPath(folder.text, entry.name), &folder, index++));
            }
        }
    }

    // Takes what the filter leaves out from the folder's listing: the walk never meets it, and
    // no folder left out is listed.
    void LeaveOut(Folder& folder) const {
        const std::string below =
            folder.text.size() > rootLength_ ? folder.text.substr(rootLength_ + 1) + "/" : "";
        auto kept = [&](const std::string& name, bool isFolder, int64_t size) {
            const std::string path = below + name;
            return isFolder ? IsDots(name) || filter_->KeepsFolder(name, path)
                            : filter_->KeepsName(name, path) && filter_->KeepsSize(size);
        };
        std::erase_if(folder.listing.entries, [&](const platform::ListingEntry& entry) {
            return !kept(entry.name, entry.isFolder, entry.size);
        });
        std::erase_if(folder.listing.unreadable, [&](const platform::UnreadableEntry& entry) {
            return !filter_->KeepsName(entry.name, below + entry.name);
        });
    }

    const ScanFilter* const filter_;
    const size_t rootLength_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable walkMayGo_;  // only the walk waits on it
    std::set<Folder*, WalkOrder> queued_;
    const Folder* wanted_ = nullptr;  // the folder the walk waits for
    std::chrono::steady_clock::time_point waitSince_;
    size_t waiting_ = 0;  // read, and not yet taken by the walk
    size_t idle_ = 0;
    size_t busy_ = 0;
    bool outOfHandles_ = false;
    bool stop_ = false;
    DescriptorShortage shortage_;
    ReaderPool pool_;  // last: its threads use everything above
};

// One folder on the walk's path: where the walk stands in its entries.
struct Level {
    std::unique_ptr<Folder> folder;
    size_t nextEntry = 0;
    size_t nextSubfolder = 0;
    // Registered on the first file only, so folders without files cost nothing.
    const CatalogueFolder* directory = nullptr;
};

class Walk {
  public:
    Walk(FileCatalogue& catalogue, bool spinning, const ScanFilter* filter, size_t rootLength,
         const PassedOverSink& passedOver, Progress& progress)
        : catalogue_(catalogue),
          readers_(spinning, filter, rootLength),
          passedOver_(passedOver),
          progress_(progress) {}

    // Walks `folderText` and everything below it; false when it could not be listed.
    bool Run(std::string folderText) {
        auto top = std::make_unique<Folder>(std::move(folderText), nullptr, 0);
        Folder* first = top.get();
        readers_.Queue(first);
        bool listed = Enter(std::move(top));
        while (!path_.empty()) {
            Level& level = path_.back();
            Folder& folder = *level.folder;
            if (level.nextEntry == folder.listing.entries.size()) {
                path_.pop_back();
                progress_.Catalogued(catalogue_.Count());
                continue;
            }
            const platform::ListingEntry& entry = folder.listing.entries[level.nextEntry++];
            if (!entry.isFolder) {
                if (level.directory == nullptr) {
                    level.directory = catalogue_.AddDirectory(folder.text, folder.listing.identity,
                                                              RegisteredAbove());
                }
                catalogue_.Append(level.directory, entry.name, entry.size);
            } else if (!IsDots(entry.name)) {
                Enter(std::move(folder.subfolders[level.nextSubfolder++]));  // `level` may move
            }
        }
        return listed;
    }

  private:
    // The nearest folder above the deepest level that the catalogue holds already.
    const CatalogueFolder* RegisteredAbove() const {
        for (size_t k = path_.size() - 1; k-- > 0;) {
            if (path_[k].directory != nullptr) {
                return path_[k].directory;
            }
        }
        return nullptr;
    }

    // Takes `folder`'s listing when it is read and makes it the deepest level, unless it
    // could not be listed or is a folder already on the path.
    bool Enter(std::unique_ptr<Folder> folder) {
        readers_.WaitFor(folder.get(), progress_);
        if (folder->error) {
            Tell(folder->text, platform::ErrorText(folder->error));
            return false;
        }
        if (folder->listing.brokeOff) {
            Tell(folder->text,
                 "listing broke off: " + platform::ErrorText(folder->listing.brokeOff));
        }
        for (const platform::UnreadableEntry& entry : folder->listing.unreadable) {
            Tell(FullPath(folder->text, entry.name), platform::ErrorText(entry.error));
        }
        if (folder->leadsBackTo != nullptr) {
            Tell(folder->text, "leads back to " + Shown(folder->leadsBackTo->text));
            return false;
        }
        path_.push_back(Level{std::move(folder)});
        return true;
    }

    // The root folder's text is empty; its path is the separator alone.
    static std::string Shown(const std::string& folderText) {
        return folderText.empty() ? std::string(1, platform::kPathSeparator) : folderText;
    }

    void Tell(const std::string& folderText, std::string reason) {
        if (passedOver_) {
            passedOver_(PassedOver{Shown(folderText), std::move(reason)});
        }
    }

    FileCatalogue& catalogue_;
    ListingReaders readers_;
    const PassedOverSink& passedOver_;
    Progress& progress_;
    std::vector<Level> path_;
};

}  // namespace

bool ScanFolder(FileCatalogue& catalogue, const std::string& programDirectory,
                const std::string& folder, const PassedOverSink& passedOver, Progress& progress,
                const ScanFilter* filter) {
    // Our own copy: the caller's text (lastFolder) keeps its trailing separator.
    std::string folderText = folder;
    if (!folderText.empty() && folderText.back() == platform::kPathSeparator) {
        folderText.pop_back();
    }
    // Relative folders are taken from the program's folder; nothing changes the current
    // folder during the walk, so once is enough.
    (void)platform::MakeCurrentDirectory(programDirectory);
    progress.ScanBegins(catalogue.Count());
    const bool spinning = platform::OnSpinningDisk(folderText);
    const size_t rootLength = folderText.size();
    return Walk(catalogue, spinning, filter, rootLength, passedOver, progress)
        .Run(std::move(folderText));
}

}  // namespace twinrake
