// The reading of one size's files, stage by stage:
//
//   IdenticalSets (a reader thread of search.cpp; several run at once, each on its own size)
//     │
//     ├─ all the files may be open at once? ──► CompareSideBySide ──► sets
//     │
//     └─ more than may be open:
//          SplitByDigest (ends): a block at each end of every file, read on its own, for an
//          xxHash digest, with idle readers joining in (where the disk sets the pace, each
//          reader opens a few files at once and asks ahead for what it reads of them); files
//          with equal digests are candidates, the rest differ; a candidate that is another
//          version when it is opened again has changed since its digest (DigestedVersions)
//            │
//            └─ each candidate subset (CompareSubsets: idle readers take subsets too;
//               CompareCandidates on each):
//                 all may be open at once? ──► CompareSideBySide ──► sets
//                 more than that ──► SplitByDigest (whole files, unless the ends were
//                 the whole file) ──► each subset (CompareSubsets again):
//                      all may be open at once? ──► CompareSideBySide ──► sets
//                      more than that ──► CompareInTurns: the subset's first file side by
//                                         side with as many others as may be open, turn
//                                         after turn ──► sets
//
//   CompareSideBySide: opens every file at once under one lease of the open-file budget,
//   where the disk sets the pace asks it for every file's first blocks together (ReadAhead),
//   then reads the files block by block in step (ReadInStep), splitting them wherever their
//   blocks differ; a file is kept only when, after its last block, its path still names the
//   very version of it that was read.
//
// A digest only rules pairs out; files are declared identical by their bytes alone. A refusal
// for want of descriptors never makes a file different: the attempt is undone and made again
// with fewer files open (side by side, then digests, then turns).
#include "detect/identical_sets.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <numeric>
#include <optional>
#include <unordered_set>
#include <utility>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "catalogue/lists.h"
#include "detect/compare.h"
#include "detect/held_folders.h"

namespace twinrake {

namespace {

constexpr size_t kMinBlock = 4096;
// The block at each end of a file that a first digest covers.
constexpr size_t kEndBlock = 4096;
constexpr size_t kMaxBlock = 64 * 1024;
// What is asked ahead of the first step where the disk sets the pace: the first two steps.
constexpr size_t kAskedAhead = kMinBlock + 4 * kMinBlock;
// Where the disk sets the pace, a reader of digests opens this many files at once and asks for
// what their digests read before reading the first, so that they wait for the disk together.
constexpr size_t kDigestedTogether = 16;
// Up to this size a file's ends are asked for in one piece: what the system would read ahead
// of the first block anyway.
constexpr size_t kEndsAskedAsOne = 4 * kEndBlock;
// Below this many files a class is split by comparing with each distinct block found so far;
// above it, blocks are first sorted by a digest.
constexpr size_t kLinearSplit = 8;
// A reader takes at most this share of the block memory for one step, unless its files need
// more at a page each: the others go on meanwhile.
constexpr size_t kFairShare = 4;

// What a file that changed while it was read, or since it was listed, is passed over for.
const platform::Error kChanged = platform::Failed(platform::ErrorKind::Changed);

}  // namespace

bool SameVersion(const platform::FileStamp& a, const platform::FileStamp& b) {
    return a.identity == b.identity && a.length == b.length && a.modified == b.modified &&
           a.changed == b.changed && a.links == b.links;
}

namespace {

// Open files of a comparison, taken from the open-file budget at once and given back when
// the comparison is over, on every path out of it.
class BudgetLease {
  public:
    explicit BudgetLease(OpenBudget& budget) : budget_(budget) {}
    ~BudgetLease() { Give(); }
    BudgetLease(const BudgetLease&) = delete;
    BudgetLease& operator=(const BudgetLease&) = delete;

    // False, taking nothing, when the budget no longer allows `count` at all.
    bool Take(size_t count) {
        Give();
        if (!budget_.Acquire(count)) {
            return false;
        }
        count_ = count;
        return true;
    }
    void Give() {
        if (count_ > 0) {
            budget_.Release(count_);
            count_ = 0;
        }
    }

  private:
    OpenBudget& budget_;
    size_t count_ = 0;
};

// Slots of block memory for `blocks` blocks of `stride` bytes (a multiple of the page size, at
// most a slot), given back when the reading they serve is over.
class BlockLease {
  public:
    BlockLease(BlockMemory& memory, size_t blocks, size_t stride)
        : memory_(memory),
          perSlot_(BlockMemory::kSlot / stride),
          stride_(stride),
          slots_(memory.Take((blocks + perSlot_ - 1) / perSlot_)) {}
    ~BlockLease() { memory_.Give(slots_); }
    BlockLease(const BlockLease&) = delete;
    BlockLease& operator=(const BlockLease&) = delete;

    // Where block `i` goes.
    char* Block(size_t i) const { return slots_[i / perSlot_] + (i % perSlot_) * stride_; }

  private:
    BlockMemory& memory_;
    const size_t perSlot_;
    const size_t stride_;
    const std::vector<char*> slots_;
};

size_t PageMultiple(size_t bytes) {
    return (bytes + kMinBlock - 1) / kMinBlock * kMinBlock;
}

// A file of a size class, open for reading, closed when it goes.
class OpenedFile {
  public:
    explicit OpenedFile(const SizeClassFile* file) : file_(file) {}
    ~OpenedFile() { platform::CloseFile(handle_); }
    OpenedFile(OpenedFile&& other) noexcept
        : file_(other.file_),
          handle_(std::exchange(other.handle_, nullptr)),
          stamp_(other.stamp_) {}
    OpenedFile& operator=(OpenedFile&& other) noexcept {
        std::swap(file_, other.file_);
        std::swap(handle_, other.handle_);
        std::swap(stamp_, other.stamp_);
        return *this;
    }

    // Opens the file from a folder that `folders` hold, its own or one above, else by its path.
    platform::Error Open(HeldFolders* folders) {
        const HeldFolders::Place place =
            folders != nullptr && file_->folder != CatalogueFolder::kNone
                ? folders->For(file_->folder, file_->directory)
                : HeldFolders::Place{};
        if (place.held != nullptr) {
            return platform::OpenForReadingIn(place.held, place.below, file_->name, handle_,
                                              stamp_);
        }
        return platform::OpenForReading(FullPath(file_->directory, file_->name), handle_, stamp_);
    }
    const SizeClassFile* File() const { return file_; }
    platform::OpenFile* Handle() const { return handle_; }
    const platform::FileStamp& Stamp() const { return stamp_; }

    // Whether the file, read to its end, is still the version that was opened: its path
    // still names it, and nothing about it changed. Asked of the whole path even where the
    // file was opened from a held folder: that folder may have moved since, and a group
    // names its files by their paths.
    bool UnchangedByPath() const {
        platform::FileStamp now;
        return !platform::StampOfPath(FullPath(file_->directory, file_->name), now) &&
               SameVersion(now, stamp_);
    }

  private:
    const SizeClassFile* file_;
    platform::OpenFile* handle_ = nullptr;
    platform::FileStamp stamp_;
};

using Group = std::vector<OpenedFile>;
using Candidates = std::vector<const SizeClassFile*>;

// Asks the memory for what opening files[next] and the files after it read of the catalogue,
// while the calls for the file before run: at a million files the names, the folders' texts
// and their slots are no longer in the cache when a file's turn comes. The held folder is
// asked for a file later than the slot that names it.
void PrefetchForOpen(const Candidates& files, size_t next, const HeldFolders* folders) {
    if (next < files.size()) {
        const SizeClassFile& file = *files[next];
        __builtin_prefetch(file.name.data());
        if (!file.directory.empty()) {
            __builtin_prefetch(&file.directory.back());  // where the way below a held one is
        }
        if (folders != nullptr && file.folder != CatalogueFolder::kNone) {
            folders->PrefetchHeld(file.folder);
        }
    }
    if (next + 1 < files.size() && folders != nullptr &&
        files[next + 1]->folder != CatalogueFolder::kNone) {
        folders->PrefetchSlot(files[next + 1]->folder);
    }
}

// Names of one file within a size (a repeat in the catalogue, a hard link, an overlay's view of
// a lower folder) are told as PossiblySameFile tells them; the length is the size's. Only the
// first name counts. An open-addressed table sized for the size's files at the start, keyed
// by what every name of one file shares (the low half of the inode number, the last write):
// no allocation per file.
class Aliases {
  public:
    explicit Aliases(size_t files) { Resize(files * 2); }

    // Whether the file with `identity`, last written at `modified`, has no name yet.
    bool FirstName(const platform::FileIdentity& identity, int64_t modified) {
        if ((count_ + 1) * 2 > names_.size()) {
            Resize(names_.size() * 2);  // more names than it was made for
        }
        return Insert(Name{identity, modified});
    }

  private:
    struct Name {
        platform::FileIdentity identity;
        int64_t modified = 0;
        uint32_t Low() const { return static_cast<uint32_t>(identity.index); }
        bool SharesKey(const Name& other) const {
            return Low() == other.Low() && modified == other.modified;
        }
        // PossiblySameFile, for two files of one length.
        bool SameFileAs(const Name& other) const {
            return identity == other.identity ||
                   (identity.volume != other.identity.volume && SharesKey(other));
        }
    };

    bool Insert(const Name& name) {
        const size_t mask = names_.size() - 1;
        uint64_t hash = uint64_t{name.Low()} * 0x9E3779B97F4A7C15ULL ^
                        static_cast<uint64_t>(name.modified) * 0xC2B2AE3D27D4EB4FULL;
        size_t at = static_cast<size_t>(hash ^ (hash >> 29)) & mask;
        for (; used_[at] != 0; at = (at + 1) & mask) {
            if (names_[at].SharesKey(name) && names_[at].SameFileAs(name)) {
                return false;
            }
        }
        used_[at] = 1;
        names_[at] = name;
        ++count_;
        return true;
    }

    void Resize(size_t wanted) {
        size_t slots = 16;
        while (slots < wanted) {
            slots *= 2;
        }
        std::vector<Name> names(slots);
        std::vector<uint8_t> used(slots, 0);
        names.swap(names_);
        used.swap(used_);
        count_ = 0;
        for (size_t k = 0; k < names.size(); ++k) {
            if (used[k] != 0) {
                Insert(names[k]);
            }
        }
    }

    std::vector<Name> names_;
    std::vector<uint8_t> used_;
    size_t count_ = 0;
};

// Splits `count` blocks of `length` bytes at `blocks[i]` into runs of equal blocks, each run
// keeping the blocks' order, the runs ordered by their first block.
std::vector<std::vector<size_t>> SplitByBlock(size_t count, const char* const* blocks,
                                              size_t length) {
    std::vector<std::vector<size_t>> runs;
    auto place = [&](size_t i, size_t firstRun) {
        auto same = std::find_if(
            runs.begin() + static_cast<ptrdiff_t>(firstRun), runs.end(), [&](const auto& run) {
                return std::memcmp(blocks[run.front()], blocks[i], length) == 0;
            });
        if (same == runs.end()) {
            runs.push_back({i});
        } else {
            same->push_back(i);
        }
    };
    if (count <= kLinearSplit) {
        for (size_t i = 0; i < count; ++i) {
            place(i, 0);
        }
        return runs;
    }
    std::vector<uint64_t> digest(count);
    for (size_t i = 0; i < count; ++i) {
        digest[i] = XXH3_64bits(blocks[i], length);
    }
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return digest[a] < digest[b]; });
    for (size_t at = 0; at < count;) {
        size_t end = at;
        while (end < count && digest[order[end]] == digest[order[at]]) {
            ++end;
        }
        // Equal digests only suggest equal blocks; the bytes decide.
        size_t firstRun = runs.size();
        for (size_t k = at; k < end; ++k) {
            place(order[k], firstRun);
        }
        at = end;
    }
    std::sort(runs.begin(), runs.end(),
              [](const auto& a, const auto& b) { return a.front() < b.front(); });
    return runs;
}

// A digest of a file, read on its own, with what its other names would share (Aliases).
struct Digest {
    XXH128_hash_t value{};
    platform::FileIdentity identity;
    int64_t modified = 0;
    int64_t changed = 0;
    platform::Error error;  // why it could not be read, or Changed; none: the digest holds
};

// What each file whose digest met another's was when that digest was read. Its next reading
// opens it again, and a file opened then as another version is passed over as changed: so a
// digest asks nothing of a file after its reads, yet a candidate that changed while its
// digest was read (or since) is named, as if the digest had asked. A file the digests rule
// out is not read again.
class DigestedVersions {
  public:
    // The versions of one split's candidates (their catalogue entries and digests), noted at
    // once: readers opening candidates of other subsets meanwhile then sort the notes once for
    // the split, not once for each of its files.
    void Note(const std::vector<std::pair<uint32_t, const Digest*>>& split) {
        if (split.empty()) {
            return;
        }
        std::lock_guard lock(mutex_);
        for (const auto& [entry, digest] : split) {
            noted_.push_back(
                {entry, VersionOf(digest->identity, digest->modified, digest->changed)});
        }
        sorted_ = false;
    }
    // Whether `stamp`, just opened for `entry`, is the version its last digest read; true
    // where no digest of it is noted.
    bool AsDigested(uint32_t entry, const platform::FileStamp& stamp) {
        std::lock_guard lock(mutex_);
        if (!sorted_) {
            std::stable_sort(noted_.begin(), noted_.end(),
                             [](const Noted& a, const Noted& b) { return a.entry < b.entry; });
            sorted_ = true;
        }
        auto last = std::upper_bound(
            noted_.begin(), noted_.end(), entry,
            [](uint32_t wanted, const Noted& noted) { return wanted < noted.entry; });
        return last == noted_.begin() || std::prev(last)->entry != entry ||
               std::prev(last)->version == VersionOf(stamp.identity, stamp.modified, stamp.changed);
    }

  private:
    // A version in 8 bytes rather than 32: a size's candidates may be tens of thousands.
    static uint64_t VersionOf(const platform::FileIdentity& identity, int64_t modified,
                              int64_t changed) {
        const uint64_t parts[] = {identity.volume, identity.index, static_cast<uint64_t>(modified),
                                  static_cast<uint64_t>(changed)};
        return XXH3_64bits(parts, sizeof parts);
    }
    struct Noted {
        uint32_t entry;
        uint64_t version;
    };
    std::mutex mutex_;
    std::vector<Noted> noted_;  // in the order noted until sorted; a later note counts
    bool sorted_ = true;
};

// The work on the files of one size.
class SizeReader {
  public:
    SizeReader(int64_t size, std::atomic<int32_t>& progress, SharedReading& shared)
        : size_(size), progress_(progress), shared_(shared) {}

    SizeClassResult Run(const std::vector<SizeClassFile>& files) {
        if (files.size() < 2) {
            return {};
        }
        Candidates all;
        all.reserve(files.size());
        for (const SizeClassFile& file : files) {
            all.push_back(&file);
        }
        std::vector<IdenticalSet> sets;
        if (!FitsSideBySide(all) || !CompareSideBySide(all, sets, nullptr, Known::kNothing)) {
            DigestedVersions versions;
            versions_ = &versions;
            CompareSubsets(SplitByDigest(all, Cover::kEnds),
                           EndsAreWhole() ? Cover::kWhole : Cover::kEnds, sets);
            versions_ = nullptr;
        }
        return SizeClassResult{std::move(sets), PassedOnce(sets)};
    }

  private:
    // What a digest covers: a block at each end of the file, which tells most files of one
    // size apart for a fraction of their bytes, or the whole file.
    enum class Cover { kEnds, kWhole };
    // What a side-by-side comparison knows of its files beforehand: nothing, or that their
    // digests agree. Files whose ends already agree rarely differ in their first block, so
    // their reading starts with the largest block rather than the smallest.
    enum class Known { kNothing, kDigestsAgree };
    bool EndsAreWhole() const { return size_ <= static_cast<int64_t>(2 * kEndBlock); }

    // Files whose digests agree: byte for byte side by side if they may all be open at once,
    // else split by a whole digest unless `covered` was that already, and what still agrees
    // taken in turns.
    void CompareCandidates(const Candidates& files, Cover covered, std::vector<IdenticalSet>& out) {
        if (FitsSideBySide(files) && CompareSideBySide(files, out, nullptr, Known::kDigestsAgree)) {
            return;
        }
        if (covered == Cover::kWhole) {
            CompareInTurns(files, out);
            return;
        }
        CompareSubsets(SplitByDigest(files, Cover::kWhole), Cover::kWhole, out);
    }

    // The subsets a digest leaves share no file, so readers with nothing else to do take some
    // of them, each reader with a list of passed files of its own; what they find is put
    // together in the subsets' order, as one reader alone would give it. The size's bar then
    // counts the subsets done: each one's reading would move it back and forth.
    void CompareSubsets(const std::vector<Candidates>& subsets, Cover covered,
                        std::vector<IdenticalSet>& out) {
        if (subsets.size() <= 1) {
            for (const Candidates& subset : subsets) {
                CompareCandidates(subset, covered, out);
            }
            return;
        }
        struct Found {
            std::vector<IdenticalSet> sets;
            std::vector<PassedFile> passed;
        };
        std::vector<Found> found(subsets.size());
        std::atomic<size_t> next{0};
        std::atomic<size_t> finished{0};
        const std::function<void()> work = [&] {
            std::atomic<int32_t> unshown{0};
            for (size_t i; (i = next.fetch_add(1)) < subsets.size();) {
                SizeReader reader(size_, unshown, shared_);
                reader.versions_ = versions_;
                reader.CompareCandidates(subsets[i], covered, found[i].sets);
                found[i].passed = std::move(reader.passed_);
                size_t done = finished.fetch_add(1, std::memory_order_relaxed) + 1;
                progress_.store(static_cast<int32_t>(done * 100 / subsets.size()),
                                std::memory_order_relaxed);
            }
        };
        shared_.work.Share(work);
        for (Found& subset : found) {
            std::move(subset.sets.begin(), subset.sets.end(), std::back_inserter(out));
            passed_.insert(passed_.end(), subset.passed.begin(), subset.passed.end());
        }
    }

    size_t MostOpen() const { return std::min(kMaxOpenFiles, shared_.openFiles.Total()); }
    bool FitsSideBySide(const Candidates& files) const {
        return files.size() >= 2 && files.size() <= MostOpen();
    }
    void Pass(const SizeClassFile* file, platform::Error error) {
        passed_.push_back({file->entry, error});
    }

    // Each file passed over once, in catalogue order, unless a later attempt read it whole.
    std::vector<PassedFile> PassedOnce(const std::vector<IdenticalSet>& sets) {
        if (passed_.empty()) {
            return {};
        }
        std::unordered_set<uint32_t> grouped;
        for (const IdenticalSet& set : sets) {
            for (const SetMember& member : set) {
                grouped.insert(member.entry);
            }
        }
        std::erase_if(passed_, [&](const PassedFile& p) { return grouped.count(p.entry) != 0; });
        std::stable_sort(
            passed_.begin(), passed_.end(),
            [](const PassedFile& a, const PassedFile& b) { return a.entry < b.entry; });
        passed_.erase(std::unique(passed_.begin(), passed_.end(),
                                  [](const PassedFile& a, const PassedFile& b) {
                                      return a.entry == b.entry;
                                  }),
                      passed_.end());
        return std::move(passed_);
    }

    // Opens all `files` at once and compares them side by side. False, having changed nothing,
    // when the budget no longer allows that many open files. `first`, when given, receives the
    // stamp of files[0], or stays unset when that file dropped out for itself.
    bool CompareSideBySide(const Candidates& files, std::vector<IdenticalSet>& out,
                           std::optional<platform::FileStamp>* first, Known known) {
        for (;;) {
            BudgetLease lease(shared_.openFiles);
            if (!lease.Take(files.size())) {
                return false;
            }
            const size_t passedBefore = passed_.size();
            Group open;
            size_t opened = 0;
            if (!OpenAll(files, open, opened)) {
                // A lack of descriptors says nothing of the files: undo, wait, try again.
                open.clear();
                passed_.resize(passedBefore);
                lease.Give();
                shared_.openFiles.Refused(opened);
                continue;
            }
            if (first != nullptr && !open.empty() && open.front().File() == files.front()) {
                *first = open.front().Stamp();
            }
            ReadInStep(std::move(open), out, known);
            return true;
        }
    }

    // Opens `files` into `open`, leaving out (and passing over) what cannot be opened or is
    // no longer `size_` long, and leaving out other names of a file already open. False when
    // the system refused a file for want of descriptors; `opened` says how many were open.
    bool OpenAll(const Candidates& files, Group& open, size_t& opened) {
        open.reserve(files.size());
        Aliases aliases(files.size());
        for (size_t k = 0; k < files.size(); ++k) {
            const SizeClassFile* file = files[k];
            PrefetchForOpen(files, k + 1, shared_.folders);
            OpenedFile candidate(file);
            if (platform::Error error = OpenAgain(candidate)) {
                if (error.Is(platform::ErrorKind::NoHandles) && !shared_.openFiles.GivenUp()) {
                    opened = open.size();
                    return false;
                }
                Pass(file, error);
            } else if (candidate.Stamp().length != size_) {
                Pass(file, kChanged);  // grown or shrunk since it was listed
            } else if (aliases.FirstName(candidate.Stamp().identity, candidate.Stamp().modified)) {
                open.push_back(std::move(candidate));
            }
        }
        opened = open.size();
        return true;
    }

    // Reads the open files in step, block by block, splitting them whenever blocks differ.
    // Every byte of every file that stays in a set has been compared with the set's first
    // file, and each was checked the same version after its last block.
    void ReadInStep(Group files, std::vector<IdenticalSet>& out, Known known) {
        std::vector<Group> alike;
        if (files.size() >= 2) {
            alike.push_back(std::move(files));
        }
        const bool showProgress = size_ >= kProgressThreshold;
        if (!alike.empty()) {
            AskAhead(alike.front());
        }
        int64_t offset = 0;
        // The first block is small: most files of one size differ early, unless their digests
        // agree already.
        size_t step = known == Known::kDigestsAgree ? kMaxBlock : kMinBlock;
        while (!alike.empty() && offset < size_) {
            size_t live = 0;
            for (const Group& group : alike) {
                live += group.size();
            }
            // As large a block as the step allows and a fair share of the block memory holds,
            // but never below a page: every block starts on a page of its own, where the
            // kernel copies fastest.
            const size_t share = shared_.blocks.Slots() * BlockMemory::kSlot / kFairShare;
            size_t block = std::clamp(share / live / kMinBlock * kMinBlock, kMinBlock,
                                      std::min(step, kMaxBlock));
            size_t want =
                static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(block), size_ - offset));
            BlockLease memory(shared_.blocks, live, PageMultiple(want));
            std::vector<Group> next;
            size_t first = 0;
            for (Group& group : alike) {
                SplitGroupByBlock(group, want, memory, first, next);
                first += group.size();
            }
            alike = std::move(next);
            offset += static_cast<int64_t>(want);
            step = std::min(step * 4, kMaxBlock);
            if (showProgress) {
                progress_.store(static_cast<int32_t>(offset * 100 / size_),
                                std::memory_order_relaxed);
            }
        }
        for (Group& group : alike) {
            IdenticalSet set;
            for (const OpenedFile& file : group) {
                if (file.UnchangedByPath()) {
                    set.push_back({file.File()->entry, file.Stamp()});
                } else {
                    Pass(file.File(), kChanged);
                }
            }
            // The files left are still identical to one another: each equals the bytes the
            // first file gave.
            if (set.size() >= 2) {
                out.push_back(std::move(set));
            }
        }
    }

    // Read one after another, each file would wait for the disk on its own; asked ahead
    // together, they wait once. From memory (the cache's own pages, or those the disk brought
    // in earlier) that would only cost a call per file.
    void AskAhead(const Group& files) {
        if (!shared_.pace.WaitingNow()) {
            return;
        }
        const auto ahead =
            static_cast<size_t>(std::min<int64_t>(size_, static_cast<int64_t>(kAskedAhead)));
        for (const OpenedFile& file : files) {
            platform::ReadAhead(file.Handle(), 0, ahead);
        }
    }

    // Reads the next `want` bytes of every file of `group`, into the blocks of `memory` from
    // `first` on, and adds to `next` each run of two or more files whose blocks are equal; a
    // file whose read fails or comes back short is passed over (it is not what was listed).
    // The files of `group` are moved out or closed.
    void SplitGroupByBlock(Group& group, size_t want, const BlockLease& memory, size_t first,
                           std::vector<Group>& next) {
        Group readable;
        std::vector<const char*> blocks;
        for (OpenedFile& file : group) {
            char* at = memory.Block(first + readable.size());
            size_t got = 0;
            platform::Error error = PacedRead(shared_.pace, file.Handle(), [&] {
                return platform::ReadBytes(file.Handle(), at, want, got);
            });
            if (error || got != want) {
                Pass(file.File(), error ? error : kChanged);
                continue;
            }
            blocks.push_back(at);
            readable.push_back(std::move(file));
        }
        for (const auto& run : SplitByBlock(readable.size(), blocks.data(), want)) {
            if (run.size() >= 2) {
                Group& same = next.emplace_back();
                for (size_t i : run) {
                    same.push_back(std::move(readable[i]));
                }
            }
        }
    }

    // Opens `file`, which may have been read for a digest before: then it must still be the
    // version that digest read.
    platform::Error OpenAgain(OpenedFile& file) {
        platform::Error error = file.Open(shared_.folders);
        if (!error && versions_ != nullptr &&
            !versions_->AsDigested(file.File()->entry, file.Stamp())) {
            file = OpenedFile(file.File());  // closed
            return kChanged;
        }
        return error;
    }

    // Opens one file under the budget, waiting while the system has no descriptor to give.
    platform::Error OpenAlone(OpenedFile& file, BudgetLease& lease) {
        for (;;) {
            lease.Take(1);
            platform::Error error = OpenAgain(file);
            if (!error) {
                return error;
            }
            lease.Give();
            if (!error.Is(platform::ErrorKind::NoHandles) || shared_.openFiles.GivenUp()) {
                return error;
            }
            shared_.openFiles.Refused(0);
        }
    }

    // Reads `want` bytes from `offset` for a digest; false, with `error` set when the system
    // failed, when they could not all be read.
    bool ReadForDigest(const OpenedFile& open, int64_t offset, char* buffer, size_t want,
                       platform::Error& error) {
        size_t got = 0;
        error = PacedRead(shared_.pace, open.Handle(), [&] {
            return platform::ReadBytesAt(open.Handle(), offset, buffer, want, got);
        });
        return !error && got == want;
    }

    void DigestOf(const SizeClassFile* file, char* buffer, Cover cover, Digest& out) {
        OpenedFile open(file);
        BudgetLease lease(shared_.openFiles);
        if ((out.error = OpenAlone(open, lease))) {
            return;
        }
        DigestOpened(open, buffer, cover, out);
    }

    void DigestOpened(const OpenedFile& open, char* buffer, Cover cover, Digest& out) {
        out.identity = open.Stamp().identity;
        out.modified = open.Stamp().modified;
        out.changed = open.Stamp().changed;
        bool read = open.Stamp().length == size_;
        XXH3_state_t state;
        XXH3_128bits_reset(&state);
        if (cover == Cover::kEnds && !EndsAreWhole()) {
            for (int64_t offset : {int64_t{0}, size_ - static_cast<int64_t>(kEndBlock)}) {
                read = read && ReadForDigest(open, offset, buffer, kEndBlock, out.error);
                XXH3_128bits_update(&state, buffer, kEndBlock);
            }
        } else {
            for (int64_t offset = 0; read && offset < size_;) {
                size_t want = static_cast<size_t>(
                    std::min<int64_t>(static_cast<int64_t>(BlockMemory::kSlot), size_ - offset));
                read = ReadForDigest(open, offset, buffer, want, out.error);
                XXH3_128bits_update(&state, buffer, want);
                offset += static_cast<int64_t>(want);
            }
        }
        // A digest only rules pairs out, and whatever could still group is opened again
        // (DigestedVersions), compared side by side and checked by its path there.
        if (!read && !out.error) {
            out.error = kChanged;
        }
        out.value = XXH3_128bits_digest(&state);
    }

    // What the digest of `file` reads, asked of the disk before it is read: the ends in one
    // ask where they lie close together, else each on its own.
    void AskDigestAhead(const OpenedFile& file, Cover cover) {
        const auto block = static_cast<int64_t>(kEndBlock);
        if (cover == Cover::kEnds && size_ > static_cast<int64_t>(kEndsAskedAsOne)) {
            platform::ReadAhead(file.Handle(), 0, kEndBlock);
            platform::ReadAhead(file.Handle(), size_ - block, kEndBlock);
            return;
        }
        platform::ReadAhead(
            file.Handle(), 0,
            static_cast<size_t>(std::min<int64_t>(size_, static_cast<int64_t>(kMaxBlock))));
    }

    // The digests of files `from` to `to` of `files`, read together: all opened, and while the
    // disk sets the pace now, asked for what their digests read, before the first is read. A
    // file the system has no descriptor for then is digested on its own after the others.
    void DigestTogether(const Candidates& files, size_t from, size_t to, char* buffer, Cover cover,
                        std::vector<Digest>& digests) {
        BudgetLease lease(shared_.openFiles);
        size_t next = from;
        if (to - from >= 2 && lease.Take(to - from)) {
            std::vector<OpenedFile> open;
            std::vector<size_t> at;
            open.reserve(to - from);
            at.reserve(to - from);
            for (; next < to; ++next) {
                PrefetchForOpen(files, next + 1, shared_.folders);
                OpenedFile& file = open.emplace_back(files[next]);
                platform::Error error = OpenAgain(file);
                if (!error) {
                    if (shared_.pace.WaitingNow()) {
                        AskDigestAhead(file, cover);
                    }
                    at.push_back(next);
                    continue;
                }
                open.pop_back();
                if (error.Is(platform::ErrorKind::NoHandles)) {
                    break;
                }
                digests[next].error = error;
            }
            for (size_t k = 0; k < open.size(); ++k) {
                DigestOpened(open[k], buffer, cover, digests[at[k]]);
            }
        }
        lease.Give();
        for (; next < to; ++next) {
            PrefetchForOpen(files, next + 1, shared_.folders);
            DigestOf(files[next], buffer, cover, digests[next]);
        }
    }

    // Reads what `cover` says of every file for a digest, each on its own; readers with
    // nothing else to do join in, so that the digests of many files are taken at once.
    // Where the disk sets the pace, each reader takes a few files at a time and reads them
    // together.
    std::vector<Digest> DigestAll(const Candidates& files, Cover cover) {
        std::vector<Digest> digests(files.size());
        std::atomic<size_t> next{0};
        std::atomic<size_t> finished{0};
        const std::function<void()> work = [&] {
            BlockLease buffer(shared_.blocks, 1, BlockMemory::kSlot);
            for (;;) {
                const size_t take = shared_.pace.Waiting() ? kDigestedTogether : 1;
                const size_t from = next.fetch_add(take);
                if (from >= files.size()) {
                    break;
                }
                const size_t to = std::min(files.size(), from + take);
                DigestTogether(files, from, to, buffer.Block(0), cover, digests);
                size_t done = finished.fetch_add(to - from, std::memory_order_relaxed) + to - from;
                progress_.store(static_cast<int32_t>(done * 100 / files.size()),
                                std::memory_order_relaxed);
            }
        };
        shared_.work.Share(work);
        return digests;
    }

    // Too many files to hold open: a digest of each file, of its ends or of all of it, rules
    // most pairs out. Gives the files left with an equal digest, subset by subset, each in
    // catalogue order.
    std::vector<Candidates> SplitByDigest(const Candidates& files, Cover cover) {
        std::vector<Digest> digests = DigestAll(files, cover);
        struct Keyed {
            XXH128_hash_t value;
            size_t at;
        };
        std::vector<Keyed> keyed;
        keyed.reserve(files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            if (digests[i].error) {
                Pass(files[i], digests[i].error);
            } else {
                keyed.push_back({digests[i].value, i});
            }
        }
        std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
            return a.value.high64 != b.value.high64 ? a.value.high64 < b.value.high64
                                                    : a.value.low64 < b.value.low64;
        });
        // Names of one file read alike, so they stand in one run of equal digests: told apart
        // there, each run on its own, rather than in a table of all the size's files.
        std::vector<Candidates> subsets;
        std::vector<std::pair<uint32_t, const Digest*>> noted;
        for (size_t at = 0; at < keyed.size();) {
            size_t end = at;
            while (end < keyed.size() && XXH128_isEqual(keyed[end].value, keyed[at].value)) {
                ++end;
            }
            if (end - at >= 2) {
                Candidates same;
                Aliases aliases(end - at);
                for (size_t k = at; k < end; ++k) {
                    const Digest& digest = digests[keyed[k].at];
                    if (aliases.FirstName(digest.identity, digest.modified)) {
                        same.push_back(files[keyed[k].at]);
                        noted.emplace_back(files[keyed[k].at]->entry, &digest);
                    }
                }
                if (same.size() >= 2) {
                    subsets.push_back(std::move(same));
                }
            }
            at = end;
        }
        if (versions_ != nullptr) {
            versions_->Note(noted);
        }
        return subsets;
    }

    // More candidates than may be open: each is compared with the first one left, in turns of
    // as many files as may be open, and what differs from it is taken the same way after. The
    // first file must be the same version in every turn; if it is not, the turns start again
    // without it.
    void CompareInTurns(Candidates left, std::vector<IdenticalSet>& out) {
        while (left.size() >= 2) {
            IdenticalSet set;
            Candidates rest;
            if (TurnsWithFirst(left, set, rest)) {
                if (set.size() >= 2) {
                    out.push_back(std::move(set));
                }
                left = std::move(rest);
            } else {
                left.erase(left.begin());  // everything goes back, without the first
            }
        }
    }

    // One round of turns of `left`'s first file with all the others: those identical to it go
    // to `set`, the others to `rest`. False when the first file was lost or changed.
    bool TurnsWithFirst(const Candidates& left, IdenticalSet& set, Candidates& rest) {
        const SizeClassFile* first = left.front();
        std::optional<platform::FileStamp> firstStamp;
        for (size_t i = 1; i < left.size();) {
            size_t take = std::min(MostOpen() - 1, left.size() - i);
            Candidates turn{first};
            turn.insert(turn.end(), left.begin() + static_cast<ptrdiff_t>(i),
                        left.begin() + static_cast<ptrdiff_t>(i + take));
            std::vector<IdenticalSet> found;
            std::optional<platform::FileStamp> stamp;
            const size_t passedBefore = passed_.size();
            if (!CompareSideBySide(turn, found, &stamp, Known::kDigestsAgree)) {
                continue;  // fewer files may be open now: a smaller turn
            }
            bool firstPassed =
                std::any_of(passed_.begin() + static_cast<ptrdiff_t>(passedBefore), passed_.end(),
                            [&](const PassedFile& p) { return p.entry == first->entry; });
            if (!stamp || firstPassed || (firstStamp && !SameVersion(*stamp, *firstStamp))) {
                if (!firstPassed) {
                    Pass(first, kChanged);  // gone, or changed between turns
                }
                return false;
            }
            firstStamp = stamp;
            const IdenticalSet* withFirst = nullptr;
            for (const IdenticalSet& candidate : found) {
                if (candidate.front().entry == first->entry) {
                    withFirst = &candidate;
                }
            }
            if (withFirst != nullptr && set.empty()) {
                set.push_back(withFirst->front());
            }
            for (size_t k = 1; k < turn.size(); ++k) {
                auto in = withFirst == nullptr ? IdenticalSet::const_iterator{}
                                               : std::find_if(withFirst->begin(), withFirst->end(),
                                                              [&](const SetMember& m) {
                                                                  return m.entry == turn[k]->entry;
                                                              });
                if (withFirst != nullptr && in != withFirst->end()) {
                    set.push_back(*in);
                } else {
                    rest.push_back(turn[k]);
                }
            }
            i += take;
        }
        return true;
    }

    const int64_t size_;
    std::atomic<int32_t>& progress_;
    SharedReading& shared_;
    std::vector<PassedFile> passed_;
    DigestedVersions* versions_ = nullptr;  // while the size's digests are read and met
};

}  // namespace

SizeClassResult IdenticalSets(const std::vector<SizeClassFile>& files, int64_t size,
                              std::atomic<int32_t>& progress, SharedReading& shared) {
    return SizeReader(size, progress, shared).Run(files);
}

}  // namespace twinrake
