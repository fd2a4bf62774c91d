// The search, stage by stage, and where its threads are:
//
//   FindDuplicates (the calling thread)
//     1. BuildSizeIndex: the catalogue's files of positive size ordered by size, ties in
//        catalogue order, so that the files of one size stand side by side
//     2. MakeJobs: one job per size with two or more files, in the catalogue order of the
//        size's first file
//     3. SearchReaders: reader threads (ReaderPool: one per core from memory, sixteen per core
//        once reads wait for the disk, one on a disk that turns) take the jobs in ReadingOrder
//        and split each size into sets of identical files (IdenticalSets, identical_sets.h);
//        a reader with no size left joins the digests of a large one (SharedWork), and so
//        does one whose size is large while one large size per core is read already; files are
//        opened by name in their folders, held open for the search (HeldFolders) while the
//        descriptor limit leaves room, else from the nearest held folder above them
//     4. CollectInCatalogueOrder: walks the catalogue as the plain pairwise search would,
//        waits for a size's job when the turn of its first file comes, and appends each set
//        as a group when the turn of its first member comes; it alone tells `progress`
//
// So the groups, their members and everything reported stand in the order the plain search
// gives, however many threads read and in whatever order they finish.
#include "detect/search.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <numeric>
#include <vector>

#include "catalogue/reader_pool.h"
#include "detect/compare.h"
#include "detect/held_folders.h"
#include "detect/identical_sets.h"
#include "platform/files.h"

namespace twinrake {

namespace {

// The catalogue's files of positive size ordered by size, ties in catalogue order: the files
// of one size stand side by side here, the first of them first, without a walk over the
// whole catalogue for every file.
struct SizeIndex {
    std::vector<uint32_t> order;  // catalogue indexes
};

SizeIndex BuildSizeIndex(const FileCatalogue& catalogue) {
    SizeIndex index;
    const auto count = static_cast<uint32_t>(catalogue.Count());
    index.order.reserve(count);  // a million files: no second copy while it grows
    int64_t largest = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (catalogue[i].size > 0) {
            index.order.push_back(i);
            largest = std::max(largest, catalogue[i].size);
        }
    }
    if (largest > int64_t{UINT32_MAX}) {
        std::stable_sort(index.order.begin(), index.order.end(), [&](uint32_t a, uint32_t b) {
            return catalogue[a].size < catalogue[b].size;
        });
        return index;
    }
    // Size and place in one word: the sort then compares words instead of reaching into the
    // catalogue for both sides of every comparison, which at a million files left the other
    // cores waiting between the scan and the search.
    std::vector<uint64_t> keys(index.order.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        uint32_t i = index.order[k];
        keys[k] = static_cast<uint64_t>(catalogue[i].size) << 32 | i;
    }
    std::sort(keys.begin(), keys.end());
    for (size_t k = 0; k < keys.size(); ++k) {
        index.order[k] = static_cast<uint32_t>(keys[k]);
    }
    return index;
}

// The files of one size, read by a reader thread.
struct SizeClassJob {
    uint32_t head = 0;   // catalogue index of the first file of this size
    uint32_t begin = 0;  // the files' places in SizeIndex::order
    uint32_t end = 0;
    std::vector<IdenticalSet> sets;
    std::vector<PassedFile> passed;
    std::atomic<int32_t> progress{0};
    bool done = false;  // guarded by the readers' mutex
};

// One job per size with two or more files, in the catalogue order of their first files.
std::deque<SizeClassJob> MakeJobs(const FileCatalogue& catalogue, const SizeIndex& index) {
    struct Span {
        uint32_t head, begin, end;
    };
    std::vector<Span> spans;
    const auto files = static_cast<uint32_t>(index.order.size());
    for (uint32_t begin = 0, end = 0; begin < files; begin = end) {
        const int64_t size = catalogue[index.order[begin]].size;
        for (end = begin + 1; end < files && catalogue[index.order[end]].size == size; ++end) {
        }
        if (end - begin >= 2) {
            spans.push_back({index.order[begin], begin, end});  // ties in catalogue order
        }
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.head < b.head; });
    std::deque<SizeClassJob> jobs;
    for (const Span& span : spans) {
        SizeClassJob& job = jobs.emplace_back();
        job.head = span.head;
        job.begin = span.begin;
        job.end = span.end;
    }
    return jobs;
}

// The order in which the readers take the sizes: the catalogue order of their first files, in
// which the window needs them; on a disk that turns, the order in which their first files lie
// on it, so that its head moves one way rather than to and fro.
std::vector<size_t> ReadingOrder(const std::deque<SizeClassJob>& jobs,
                                 const FileCatalogue& catalogue, bool spinning) {
    std::vector<size_t> order(jobs.size());
    std::iota(order.begin(), order.end(), size_t{0});
    if (!spinning) {
        return order;
    }
    std::vector<uint64_t> place(jobs.size(), 0);
    for (size_t k = 0; k < jobs.size(); ++k) {
        platform::OpenFile* file = nullptr;
        platform::FileStamp stamp;
        if (!platform::OpenForReading(FullPath(catalogue[jobs[k].head]), file, stamp)) {
            place[k] = platform::PlaceOnDisk(file);
            platform::CloseFile(file);
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return place[a] < place[b]; });
    return order;
}

// One reader per core from memory; once reads wait for the disk, sixteen per core (16 to 32),
// since a disk gives its speed only with many requests in flight and a reader waiting for it
// needs no core.
ReaderCounts SearchThreads() {
    return ReaderCounts{Cores(), std::clamp<size_t>(16 * Cores(), 16, 32)};
}

// The block memory of all readers together: room for the largest side-by-side comparison at
// a page a file twice over, and so for several smaller ones at once.
constexpr size_t kBlockSlots = 2 * kMaxOpenFiles * 4096 / BlockMemory::kSlot;

// A reader's list of a size's files beyond this many goes after the size.
constexpr size_t kFilesKept = 1024;

// How many small sizes the caller waits for at once, once it has caught up with the readers.
constexpr size_t kWaitedRun = 64;

// A size of more than kFilesKept files takes megabytes while it is read (its list of files,
// digests and subsets); with sixteen readers a core once the disk sets the pace, several at
// once would make the peak grow with the readers rather than with the catalogue. So only so
// many are read at once; a reader whose size would be one more helps with the shared work of
// those being read until one is done.
class LargeSizeTurns {
  public:
    explicit LargeSizeTurns(size_t most) : most_(std::max<size_t>(most, 1)) {}

    void Take(SharedWork& work) {
        for (size_t now = reading_.load();;) {
            if (now < most_ && reading_.compare_exchange_weak(now, now + 1)) {
                return;
            }
            work.Join(kWaitStep);
            now = reading_.load();
        }
    }
    void Give() { reading_.fetch_sub(1); }

  private:
    const size_t most_;
    std::atomic<size_t> reading_{0};
};

// A turn to read a large size, given back on every path out of the reading.
class LargeSizeTurn {
  public:
    LargeSizeTurn(LargeSizeTurns& turns, SharedWork& work, bool large)
        : turns_(large ? &turns : nullptr) {
        if (turns_ != nullptr) {
            turns_->Take(work);
        }
    }
    ~LargeSizeTurn() {
        if (turns_ != nullptr) {
            turns_->Give();
        }
    }
    LargeSizeTurn(const LargeSizeTurn&) = delete;
    LargeSizeTurn& operator=(const LargeSizeTurn&) = delete;

  private:
    LargeSizeTurns* const turns_;
};

// Reads the sizes' files on as many threads as the disk wants, in ReadingOrder, while the
// calling thread keeps the window's progress bars; the window is only ever touched from the
// calling thread.
class SearchReaders {
  public:
    SearchReaders(const FileCatalogue& catalogue, const SizeIndex& index,
                  std::deque<SizeClassJob>& jobs, bool spinning, const SearchTuning& tuning)
        : catalogue_(catalogue),
          index_(index),
          jobs_(jobs),
          order_(ReadingOrder(jobs, catalogue, spinning)),
          budget_(platform::OpenFileBudget()),
          blocks_(kBlockSlots),
          folders_(catalogue, std::min({platform::FolderHoldBudget(), tuning.heldFolders,
                                        catalogue.FolderCount()})),
          largeTurns_(tuning.largeSizesAtOnce > 0 ? tuning.largeSizesAtOnce : Cores()),
          pool_(
              SearchThreads(), spinning, [this] { Work(); },
              static_cast<size_t>(std::max(tuning.readers, 0))),
          shared_{budget_, blocks_, work_, pool_.Pace(), &folders_} {
        if (jobs_.empty()) {
            return;  // no reader at all without a size
        }
        // Readers that find no size of their own to read help with the digests of a large one.
        pool_.WhenWaiting([this] { pool_.StartUpTo(pool_.Wanted()); });
        pool_.StartUpTo(pool_.Wanted());
    }
    ~SearchReaders() { pool_.Join(); }
    SearchReaders(const SearchReaders&) = delete;
    SearchReaders& operator=(const SearchReaders&) = delete;

    // Waits until job `index` is read; meanwhile the current size's share follows its reading
    // when `showProgress`. A size that was read while the window walked the catalogue shows
    // nothing: its bar would only jump to the end and back, and painting that for thousands
    // of sizes would cost the window more than the reading.
    void WaitFor(size_t index, bool showProgress, Progress& progress) {
        SizeClassJob& job = jobs_[index];
        std::unique_lock lock(mutex_);
        if (job.done) {
            return;
        }
        // Woken for every small size, the caller would take turns with the readers thousands
        // of times a second; it waits for a run of sizes instead, unless it shows this one.
        const size_t last = showProgress ? index : std::min(index + kWaitedRun, jobs_.size()) - 1;
        waitingFor_ = index;
        wakeAt_ = last;
        // What the window does with it must not hold up the readers.
        WaitTelling(
            lock, finished_, [&] { return job.done && jobs_[last].done; },
            [&] {
                progress.SizesRead(Finished());
                if (showProgress) {
                    progress.CurrentSizeShare(job.progress.load(std::memory_order_relaxed));
                }
            });
        if (showProgress) {
            progress.CurrentSizeShare(job.progress.load(std::memory_order_relaxed));
        }
    }

    // How many sizes the readers have finished.
    int64_t Finished() const { return finishedCount_.load(std::memory_order_relaxed); }

  private:
    void Work() {
        std::vector<SizeClassFile> files;
        for (size_t at = next_.fetch_add(1); at < jobs_.size(); at = next_.fetch_add(1)) {
            SizeClassJob& job = jobs_[order_[at]];
            SizeClassResult result = ReadSize(job, files);
            bool awaited = false;
            {
                std::lock_guard lock(mutex_);
                job.sets = std::move(result.sets);
                job.passed = std::move(result.passed);
                job.done = true;
                awaited = order_[at] == waitingFor_ || order_[at] == wakeAt_;
            }
            if (finishedCount_.fetch_add(1, std::memory_order_relaxed) + 1 ==
                static_cast<int64_t>(jobs_.size())) {
                work_.Close();
            }
            if (awaited) {
                finished_.notify_all();
            }
        }
        // No size left to take: help the readers still at work, until every size is read.
        while (Finished() < static_cast<int64_t>(jobs_.size())) {
            work_.Join(kWaitStep);
        }
    }

    SizeClassResult ReadSize(SizeClassJob& job, std::vector<SizeClassFile>& files) {
        LargeSizeTurn turn(largeTurns_, work_, job.end - job.begin > kFilesKept);
        files.clear();
        for (uint32_t k = job.begin; k < job.end; ++k) {
            uint32_t entry = index_.order[k];
            const FileEntry& file = catalogue_[entry];
            files.push_back({entry, file.directory(), file.name(), file.folder().index});
        }
        SizeClassResult result =
            IdenticalSets(files, catalogue_[job.head].size, job.progress, shared_);
        if (files.capacity() > kFilesKept) {
            std::vector<SizeClassFile>().swap(files);  // many readers would each keep it
        }
        return result;
    }

    const FileCatalogue& catalogue_;
    const SizeIndex& index_;
    std::deque<SizeClassJob>& jobs_;
    const std::vector<size_t> order_;
    OpenBudget budget_;
    BlockMemory blocks_;
    HeldFolders folders_;
    LargeSizeTurns largeTurns_;
    SharedWork work_;
    std::atomic<size_t> next_{0};
    std::atomic<int64_t> finishedCount_{0};
    std::mutex mutex_;
    std::condition_variable finished_;
    size_t waitingFor_ = SIZE_MAX;  // the jobs the caller waits for, guarded by mutex_
    size_t wakeAt_ = SIZE_MAX;
    ReaderPool pool_;
    SharedReading shared_;
};

// Appends a group with its members, the first file first, all in catalogue order.
void AppendGroup(EngineState& state, const IdenticalSet& set) {
    MemberList::iterator first = state.memberList.end();
    for (const SetMember& found : set) {
        const FileEntry& file = state.fileCatalogue[found.entry];
        auto member = state.memberList.insert(state.memberList.end(), GroupMember(file));
        member->compared =
            platform::ExpectedFile{file.folderIdentity(), found.stamp.identity, found.stamp.length,
                                   found.stamp.modified, found.stamp.changed};
        if (first == state.memberList.end()) {
            first = member;
        }
    }
    state.groupList.push_back(DuplicateGroup{static_cast<int32_t>(set.size()), first});
}

// Tells `passedOver` of the files a job passed over, in catalogue order.
void TellPassed(const EngineState& state, const std::vector<PassedFile>& passed) {
    if (!state.passedOver) {
        return;
    }
    for (const PassedFile& file : passed) {
        state.passedOver(PassedOver{FullPath(state.fileCatalogue[file.entry]),
                                    file.error.Is(platform::ErrorKind::Changed)
                                        ? "changed while the search read it"
                                        : platform::ErrorText(file.error)});
    }
}

// Walks the catalogue as the plain search does: each size's sets when the turn of its first
// file comes, each set as a group when the turn of its first member comes.
void CollectInCatalogueOrder(EngineState& state, std::deque<SizeClassJob>& jobs,
                             SearchReaders& readers) {
    Progress& progress = *state.progress;
    const FileCatalogue& catalogue = state.fileCatalogue;
    const int32_t total = catalogue.Count();
    // Sets waiting for their first file's turn.
    std::map<uint32_t, IdenticalSet> pending;
    size_t nextJob = 0;
    for (uint32_t r = 0; r < static_cast<uint32_t>(total); ++r) {
        progress.CurrentSizeShare(0);
        if (nextJob < jobs.size() && jobs[nextJob].head == r) {
            SizeClassJob& job = jobs[nextJob];
            readers.WaitFor(nextJob++, catalogue[r].size >= kProgressThreshold, progress);
            TellPassed(state, job.passed);
            for (IdenticalSet& set : job.sets) {
                pending.emplace(set.front().entry, std::move(set));
            }
            std::vector<IdenticalSet>().swap(job.sets);
            std::vector<PassedFile>().swap(job.passed);
        }
        if (auto found = pending.find(r); found != pending.end()) {
            AppendGroup(state, found->second);
            pending.erase(found);
        }
        progress.WholeSearchShare(static_cast<int32_t>(int64_t{r + 1} * 100 / total));
    }
}

}  // namespace

void FindDuplicates(EngineState& state, const SearchTuning& tuning) {
    state.groupList.clear();
    state.memberList.clear();
    Progress& progress = *state.progress;
    progress.StillRunning();
    const SizeIndex index = BuildSizeIndex(state.fileCatalogue);
    progress.StillRunning();
    std::deque<SizeClassJob> jobs = MakeJobs(state.fileCatalogue, index);
    progress.SearchBegins(static_cast<int64_t>(jobs.size()));
    // Relative folders are taken from the program's folder; nothing changes it while the
    // readers run.
    (void)platform::MakeCurrentDirectory(state.programDirectory);
    // One disk for all: a search over several folders meets the same disk nearly always.
    const bool spinning =
        !jobs.empty() && platform::OnSpinningDisk(FullPath(state.fileCatalogue[jobs.front().head]));
    SearchReaders readers(state.fileCatalogue, index, jobs, spinning, tuning);
    CollectInCatalogueOrder(state, jobs, readers);
    progress.SizesRead(readers.Finished());
    progress.WholeSearchShare(0);
}

}  // namespace twinrake
