#include "detect/search.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "detect/compare.h"
#include "detect/identical_sets.h"
#include "platform/files.h"

namespace twinrake {

namespace {

// The catalogue's files of positive size ordered by size, ties in catalogue order: the files
// of one size stand side by side here, the first of them first, without a walk over the
// whole catalogue for every file.
struct SizeIndex {
    std::vector<uint32_t> order;     // catalogue indexes
    std::vector<uint32_t> position;  // catalogue index -> place in `order`
};

SizeIndex BuildSizeIndex(const FileCatalogue& catalogue) {
    SizeIndex index;
    index.position.assign(static_cast<size_t>(catalogue.Count()), 0);
    for (uint32_t i = 0; i < index.position.size(); ++i) {
        if (catalogue[i].size > 0) {
            index.order.push_back(i);
        }
    }
    std::stable_sort(index.order.begin(), index.order.end(),
                     [&](uint32_t a, uint32_t b) { return catalogue[a].size < catalogue[b].size; });
    for (uint32_t at = 0; at < index.order.size(); ++at) {
        index.position[index.order[at]] = at;
    }
    return index;
}

std::string PathOf(const FileEntry& entry) {
    return FullPath(entry.directory(), entry.name());
}

bool HeadsItsSize(const SizeIndex& index, uint32_t entry, const FileCatalogue& catalogue) {
    uint32_t at = index.position[entry];
    return at == 0 || catalogue[index.order[at - 1]].size != catalogue[entry].size;
}

// Appends a group with its members, the first file first, all in catalogue order.
void AppendGroup(AppState& state, const IdenticalSet& set) {
    MemberList::iterator first = state.memberList.end();
    for (const SetMember& found : set) {
        const FileEntry& file = state.fileCatalogue[found.entry];
        auto member = state.memberList.insert(state.memberList.end(),
                                              GroupMember(file.directory(), file.name()));
        member->compared =
            platform::ExpectedFile{file.folderIdentity(), found.stamp.identity, found.stamp.length,
                                   found.stamp.modified, found.stamp.changed};
        if (first == state.memberList.end()) {
            first = member;
        }
    }
    state.groupList.push_back(DuplicateGroup{static_cast<int32_t>(set.size()), first});
}

// The files of one size, read by a worker thread.
struct SizeClassJob {
    uint32_t head = 0;   // catalogue index of the first file of this size
    uint32_t begin = 0;  // the files' places in SizeIndex::order
    uint32_t end = 0;
    std::vector<IdenticalSet> sets;
    std::vector<PassedFile> passed;
    std::atomic<int32_t> progress{0};
    bool done = false;  // guarded by the readers' mutex
};

// A reader's list of a size's files beyond this many goes after the size.
constexpr size_t kFilesKept = 1024;

int32_t readerThreads = 0;  // 0: as the disk wants them, see ReaderThreads

size_t Cores() {
    return std::max(1u, std::thread::hardware_concurrency());
}

// How the disk wants to be read.
enum class Disk {
    kFromMemory,  // the files come from memory, or the disk has not said otherwise yet
    kWaiting,     // reads wait for a disk that answers many at once
    kSpinning,    // a disk that turns: one request at a time, in the order of its blocks
};

// How many threads read: one per core while the files come from memory; once reads wait for
// the disk, several per core, since a disk gives its speed only with many requests in flight
// and a reader waiting for it needs no core; one alone for a disk that turns.
size_t ReaderThreads(Disk disk) {
    if (readerThreads > 0) {
        return static_cast<size_t>(readerThreads);
    }
    switch (disk) {
        case Disk::kSpinning:
            return 1;
        case Disk::kWaiting:
            return std::clamp<size_t>(16 * Cores(), 16, 32);
        case Disk::kFromMemory:
            break;
    }
    return Cores();
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
        if (!platform::OpenForReading(PathOf(catalogue[jobs[k].head]), file, stamp)) {
            place[k] = platform::PlaceOnDisk(file);
            platform::CloseFile(file);
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return place[a] < place[b]; });
    return order;
}

// The block memory of all readers together: room for the largest side-by-side comparison at
// a page a file twice over, and so for several smaller ones at once.
constexpr size_t kBlockSlots = 2 * kMaxOpenFiles * 4096 / BlockMemory::kSlot;

// How long the window waits for a reader at most before it tells how far the search is.
constexpr auto kWaitStep = std::chrono::milliseconds(20);

// Reads the sizes' files on as many threads as the disk wants (ReaderThreads), in the order in
// which the search will need them (ReadingOrder), while the calling thread keeps the window's
// progress bars; the window is only ever touched from the calling thread.
class SizeClassReaders {
  public:
    SizeClassReaders(const FileCatalogue& catalogue, const SizeIndex& index,
                     std::deque<SizeClassJob>& jobs, bool spinning)
        : catalogue_(catalogue),
          index_(index),
          jobs_(jobs),
          order_(ReadingOrder(jobs, catalogue, spinning)),
          budget_(platform::OpenFileBudget()),
          blocks_(kBlockSlots),
          shared_{budget_, blocks_, work_, pace_} {
        if (!spinning) {
            pace_.WhenWaiting([this] {
                std::lock_guard lock(mutex_);
                AddReaders(ReaderThreads(Disk::kWaiting));
            });
        }
        std::lock_guard lock(mutex_);
        AddReaders(ReaderThreads(spinning ? Disk::kSpinning : Disk::kFromMemory));
    }
    ~SizeClassReaders() {
        // Readers are only added by readers, so once the first has returned no more come.
        std::vector<std::thread> threads;
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (threads_.empty()) {
                    break;
                }
                threads.swap(threads_);
            }
            for (std::thread& thread : threads) {
                thread.join();
            }
            threads.clear();
        }
    }
    SizeClassReaders(const SizeClassReaders&) = delete;
    SizeClassReaders& operator=(const SizeClassReaders&) = delete;

    // Waits until `job` is read; meanwhile PrgFile's share follows its reading when
    // `showProgress`. A size that was read while the window walked the catalogue shows
    // nothing: its bar would only jump to the end and back, and painting that for thousands
    // of sizes would cost the window more than the reading.
    void WaitFor(SizeClassJob& job, bool showProgress, Progress& progress) {
        std::unique_lock lock(mutex_);
        if (job.done) {
            return;
        }
        while (!job.done) {
            finished_.wait_for(lock, kWaitStep);
            // What the window does with it must not hold up the readers.
            lock.unlock();
            progress.SizesRead(finishedCount_.load(std::memory_order_relaxed));
            if (showProgress) {
                progress.FileShare(job.progress.load(std::memory_order_relaxed));
            }
            lock.lock();
        }
        if (showProgress) {
            progress.FileShare(job.progress.load(std::memory_order_relaxed));
        }
    }

    // How many sizes the readers have finished.
    int64_t Finished() const { return finishedCount_.load(std::memory_order_relaxed); }

  private:
    void Work() {
        std::vector<SizeClassFile> files;
        for (;;) {
            size_t at = next_.fetch_add(1);
            if (at >= jobs_.size()) {
                break;
            }
            SizeClassJob& job = jobs_[order_[at]];
            files.clear();
            for (uint32_t k = job.begin; k < job.end; ++k) {
                uint32_t entry = index_.order[k];
                files.push_back({entry, catalogue_[entry].directory(), catalogue_[entry].name()});
            }
            SizeClassResult result =
                IdenticalSets(files, catalogue_[job.head].size, job.progress, shared_);
            if (files.capacity() > kFilesKept) {
                std::vector<SizeClassFile>().swap(files);  // many readers would each keep it
            }
            {
                std::lock_guard lock(mutex_);
                job.sets = std::move(result.sets);
                job.passed = std::move(result.passed);
                job.done = true;
            }
            if (finishedCount_.fetch_add(1, std::memory_order_relaxed) + 1 ==
                static_cast<int64_t>(jobs_.size())) {
                work_.Close();
            }
            finished_.notify_all();
        }
        // No size left to take: help the readers still at work, until every size is read.
        while (Finished() < static_cast<int64_t>(jobs_.size())) {
            work_.Join(kWaitStep);
        }
    }

    // Starts readers until there are `wanted`; those that find no size of their own to read
    // help with the digests of a large one. None at all without a size. Called with the lock
    // held.
    void AddReaders(size_t wanted) {
        if (jobs_.empty()) {
            return;
        }
        while (started_ < wanted) {
            threads_.emplace_back([this] { Work(); });
            ++started_;
        }
    }

    const FileCatalogue& catalogue_;
    const SizeIndex& index_;
    std::deque<SizeClassJob>& jobs_;
    const std::vector<size_t> order_;
    OpenBudget budget_;
    BlockMemory blocks_;
    SharedWork work_;
    DiskPace pace_;
    SharedReading shared_;
    size_t started_ = 0;
    std::atomic<size_t> next_{0};
    std::atomic<int64_t> finishedCount_{0};
    std::mutex mutex_;
    std::condition_variable finished_;
    std::vector<std::thread> threads_;
};

// Tells `passedOver` of the files a job passed over, in catalogue order.
void TellPassed(const AppState& state, const std::vector<PassedFile>& passed) {
    if (!state.passedOver) {
        return;
    }
    for (const PassedFile& file : passed) {
        state.passedOver(PassedOver{PathOf(state.fileCatalogue[file.entry]),
                                    file.error.Is(platform::ErrorKind::Changed)
                                        ? "changed while the search read it"
                                        : platform::ErrorText(file.error)});
    }
}

}  // namespace

void FindDuplicates(AppState& state) {
    state.groupList.clear();
    state.memberList.clear();
    Progress& progress = *state.progress;
    FileCatalogue& catalogue = state.fileCatalogue;
    const int32_t total = catalogue.Count();
    int32_t done = 0;
    progress.StillRunning();
    SizeIndex index = BuildSizeIndex(catalogue);
    progress.StillRunning();
    // One job per size with two or more files, in the catalogue order of their first files.
    std::deque<SizeClassJob> jobs;
    for (uint32_t r = 0; r < static_cast<uint32_t>(total); ++r) {
        if (catalogue[r].size <= 0 || !HeadsItsSize(index, r, catalogue)) {
            continue;
        }
        uint32_t begin = index.position[r];
        uint32_t end = begin + 1;
        while (end < index.order.size() && catalogue[index.order[end]].size == catalogue[r].size) {
            ++end;
        }
        if (end - begin >= 2) {
            SizeClassJob& job = jobs.emplace_back();
            job.head = r;
            job.begin = begin;
            job.end = end;
        }
    }
    progress.SearchBegins(static_cast<int64_t>(jobs.size()));
    // Relative folders are taken from the program's folder; nothing changes it while the
    // readers run.
    (void)platform::MakeCurrentDirectory(state.programDirectory);
    // One disk for all: a search over several folders meets the same disk nearly always.
    const bool spinning =
        !jobs.empty() && platform::OnSpinningDisk(PathOf(catalogue[jobs.front().head]));
    SizeClassReaders readers(catalogue, index, jobs, spinning);
    // Sets waiting for their first file's turn: the groups then stand in the catalogue order
    // of their first members.
    std::map<uint32_t, IdenticalSet> pending;
    size_t nextJob = 0;

    for (uint32_t r = 0; r < static_cast<uint32_t>(total); ++r) {
        const FileEntry& reference = catalogue[r];
        progress.FileShare(0);
        if (nextJob < jobs.size() && jobs[nextJob].head == r) {
            SizeClassJob& job = jobs[nextJob++];
            readers.WaitFor(job, reference.size >= kProgressThreshold, progress);
            TellPassed(state, job.passed);
            for (IdenticalSet& set : job.sets) {
                uint32_t head = set.front().entry;
                pending.emplace(head, std::move(set));
            }
            job.sets.clear();
            job.passed.clear();
        }
        if (auto found = pending.find(r); found != pending.end()) {
            AppendGroup(state, found->second);
            pending.erase(found);
        }
        done += 1;
        progress.OverallShare(static_cast<int32_t>(int64_t{done} * 100 / total));
    }
    progress.SizesRead(readers.Finished());
    progress.OverallShare(0);
}

void SetSearchThreads(int32_t count) {
    readerThreads = count;
}

}  // namespace twinrake
