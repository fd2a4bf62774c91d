#include "detect/identical_sets.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>
#include <unordered_set>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "detect/compare.h"
#include "detect/read_buffer.h"
#include "platform/files.h"

namespace twinrake {

namespace {

// The blocks of all files being compared side by side share this budget; a block is never
// smaller than kMinBlock, so at most kMaxOpenFiles * kMinBlock more may be needed.
constexpr size_t kBufferBudget = 8 * 1024 * 1024;
constexpr size_t kMinBlock = 4096;
constexpr size_t kMaxBlock = 64 * 1024;
// Below this many files a class is split by comparing with each distinct block found so far;
// above it, blocks are first sorted by a digest.
constexpr size_t kLinearSplit = 8;
// How long readers wait for a system that keeps refusing files before they pass a file over.
constexpr auto kPatience = std::chrono::seconds(30);
// How long a refused reader waits for others to close before it tries again.
constexpr auto kRetryPause = std::chrono::milliseconds(10);
// What a file that changed while it was read, or since it was listed, is passed over for.
const platform::Error kChanged = platform::Failed(platform::ErrorKind::Changed);

}  // namespace

OpenBudget::OpenBudget(size_t total)
    : total_(std::max<size_t>(total, 2)), lastOpened_(std::chrono::steady_clock::now()) {}

size_t OpenBudget::Total() const {
    std::lock_guard lock(mutex_);
    return total_;
}

bool OpenBudget::Acquire(size_t count) {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [&] { return count > total_ || held_ + count <= total_; });
    if (count > total_) {
        return false;
    }
    held_ += count;
    return true;
}

void OpenBudget::Release(size_t count) {
    {
        std::lock_guard lock(mutex_);
        held_ -= count;
        stuck_ = false;  // someone got somewhere
    }
    released_.notify_all();
}

void OpenBudget::Refused(size_t opened) {
    std::unique_lock lock(mutex_);
    total_ = std::max<size_t>(2, std::min(total_, held_ + opened));
    if (held_ == 0 && opened < 2 && !stuck_) {
        // Nobody holds a file that could be closed: the shortage lies outside the search.
        stuck_ = true;
        stuckSince_ = std::chrono::steady_clock::now();
    }
    released_.notify_all();  // waiters may ask for less than the new total allows
    released_.wait_for(lock, kRetryPause);
}

bool OpenBudget::GivenUp() const {
    std::lock_guard lock(mutex_);
    return stuck_ && std::chrono::steady_clock::now() - stuckSince_ > kPatience;
}

namespace {

struct OpenMember {
    const SizeClassFile* file = nullptr;
    platform::OpenFile* handle = nullptr;
    platform::FileStamp stamp;
};

void CloseAll(std::vector<OpenMember>& members) {
    for (OpenMember& member : members) {
        platform::CloseFile(member.handle);
        member.handle = nullptr;
    }
}

// Names of one file within a size (a repeat in the catalogue, a hard link, an overlay's view of
// a lower folder) are told by their inode number and last write: the length is the size's.
// Only the first name counts. An open-addressed table sized for the size's files at the start:
// no allocation per file.
class Aliases {
  public:
    explicit Aliases(size_t files) { Resize(files * 2); }

    bool FirstName(const platform::FileStamp& stamp) {
        if ((count_ + 1) * 2 > keys_.size()) {
            Resize(keys_.size() * 2);  // more names than it was made for
        }
        return Insert(Key{stamp.identity.index, stamp.modified});
    }

  private:
    struct Key {
        uint64_t index = 0;
        int64_t modified = 0;
        bool operator==(const Key&) const = default;
    };

    bool Insert(const Key& key) {
        const size_t mask = keys_.size() - 1;
        uint64_t hash = key.index * 0x9E3779B97F4A7C15ULL ^
                        static_cast<uint64_t>(key.modified) * 0xC2B2AE3D27D4EB4FULL;
        size_t at = static_cast<size_t>(hash ^ (hash >> 29)) & mask;
        for (; used_[at] != 0; at = (at + 1) & mask) {
            if (keys_[at] == key) {
                return false;
            }
        }
        used_[at] = 1;
        keys_[at] = key;
        ++count_;
        return true;
    }

    void Resize(size_t wanted) {
        size_t slots = 16;
        while (slots < wanted) {
            slots *= 2;
        }
        std::vector<Key> keys(slots);
        std::vector<uint8_t> used(slots, 0);
        keys.swap(keys_);
        used.swap(used_);
        count_ = 0;
        for (size_t k = 0; k < keys.size(); ++k) {
            if (used[k] != 0) {
                Insert(keys[k]);
            }
        }
    }

    std::vector<Key> keys_;
    std::vector<uint8_t> used_;
    size_t count_ = 0;
};

// Splits `count` blocks of `length` bytes at `blocks[i]` into runs of equal blocks, each run
// keeping the blocks' order, the runs ordered by their first block.
std::vector<std::vector<size_t>> SplitByBlock(size_t count, const char* const* blocks,
                                              size_t length) {
    std::vector<std::vector<size_t>> runs;
    if (count <= kLinearSplit) {
        for (size_t i = 0; i < count; ++i) {
            auto same = std::find_if(runs.begin(), runs.end(), [&](const auto& run) {
                return std::memcmp(blocks[run.front()], blocks[i], length) == 0;
            });
            if (same == runs.end()) {
                runs.push_back({i});
            } else {
                same->push_back(i);
            }
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
            size_t i = order[k];
            auto same = std::find_if(
                runs.begin() + static_cast<ptrdiff_t>(firstRun), runs.end(), [&](const auto& run) {
                    return std::memcmp(blocks[run.front()], blocks[i], length) == 0;
                });
            if (same == runs.end()) {
                runs.push_back({i});
            } else {
                same->push_back(i);
            }
        }
        at = end;
    }
    std::sort(runs.begin(), runs.end(),
              [](const auto& a, const auto& b) { return a.front() < b.front(); });
    return runs;
}

// A digest of a whole file, read on its own.
struct Digest {
    XXH128_hash_t value{};
    platform::FileStamp stamp;
    platform::Error error;  // why it could not be read; none if it changed while read
    bool ok = false;
};

// The work on the files of one size.
class SizeClassReader {
  public:
    SizeClassReader(int64_t size, std::atomic<int32_t>& progress, ReadBuffer& arena,
                    OpenBudget& budget)
        : size_(size), progress_(progress), arena_(arena), budget_(budget) {}

    SizeClassResult Run(const std::vector<SizeClassFile>& files) {
        std::vector<const SizeClassFile*> pointers;
        pointers.reserve(files.size());
        for (const SizeClassFile& file : files) {
            pointers.push_back(&file);
        }
        SizeClassResult result;
        Sets(pointers, false, result.sets);
        if (passed_.empty()) {
            return result;
        }
        // A file passed over in one attempt may have been read in a later one.
        std::unordered_set<uint32_t> grouped;
        for (const IdenticalSet& set : result.sets) {
            for (const SetMember& member : set) {
                grouped.insert(member.entry);
            }
        }
        std::erase_if(passed_, [&](const PassedFile& p) { return grouped.count(p.entry) != 0; });
        std::sort(passed_.begin(), passed_.end(),
                  [](const PassedFile& a, const PassedFile& b) { return a.entry < b.entry; });
        passed_.erase(std::unique(passed_.begin(), passed_.end(),
                                  [](const PassedFile& a, const PassedFile& b) {
                                      return a.entry == b.entry;
                                  }),
                      passed_.end());
        result.passed = std::move(passed_);
        return result;
    }

  private:
    size_t Limit() const { return std::min(kMaxOpenFiles, budget_.Total()); }
    void Pass(const SizeClassFile* file, platform::Error error) {
        passed_.push_back({file->entry, error});
    }

    void Sets(const std::vector<const SizeClassFile*>& files, bool digested,
              std::vector<IdenticalSet>& out) {
        if (files.size() < 2) {
            return;
        }
        if (files.size() <= Limit() && SideBySide(files, out, nullptr)) {
            return;
        }
        if (!digested) {
            ByDigest(files, out);
        } else {
            HeadTurns(files, out);
        }
    }

    // Opens all `files` at once and compares them side by side. False, having changed nothing,
    // when the budget no longer allows that many open files. `first`, when given, receives the
    // stamp of files[0], or stays unset when that file dropped out for itself.
    bool SideBySide(const std::vector<const SizeClassFile*>& files, std::vector<IdenticalSet>& out,
                    std::optional<platform::FileStamp>* first) {
        const size_t count = files.size();
        for (;;) {
            if (!budget_.Acquire(count)) {
                return false;
            }
            const size_t passedBefore = passed_.size();
            std::vector<OpenMember> members;
            members.reserve(count);
            Aliases aliases(count);
            bool refused = false;
            for (const SizeClassFile* file : files) {
                OpenMember member;
                member.file = file;
                if (platform::Error error =
                        platform::OpenForReading(file->path, member.handle, member.stamp)) {
                    if (error.Is(platform::ErrorKind::NoHandles) && !budget_.GivenUp()) {
                        refused = true;  // a lack of descriptors says nothing of the file
                        break;
                    }
                    Pass(file, error);
                } else if (member.stamp.length != size_) {
                    platform::CloseFile(member.handle);
                    Pass(file, kChanged);  // grown or shrunk since it was listed
                } else if (!aliases.FirstName(member.stamp)) {
                    platform::CloseFile(member.handle);
                } else {
                    members.push_back(member);
                }
            }
            if (refused) {
                size_t opened = members.size();
                CloseAll(members);
                passed_.resize(passedBefore);
                budget_.Release(count);
                budget_.Refused(opened);
                continue;
            }
            if (first != nullptr && !members.empty() && members.front().file == files.front()) {
                *first = members.front().stamp;
            }
            CompareOpen(std::move(members), out);
            budget_.Release(count);
            return true;
        }
    }

    // Reads the open members side by side, block by block, splitting them whenever blocks
    // differ. Every byte of every file that stays in a set has been compared with the set's
    // first file, and each was checked unchanged after its last block. Closes every file.
    void CompareOpen(std::vector<OpenMember> members, std::vector<IdenticalSet>& out) {
        std::vector<std::vector<OpenMember>> classes;
        if (members.size() >= 2) {
            classes.push_back(std::move(members));
        } else {
            CloseAll(members);
        }
        std::vector<const char*> blocks;
        const bool showProgress = size_ >= kProgressThreshold;
        int64_t offset = 0;
        // The first block is small: most files of one size differ early.
        size_t step = kMinBlock;
        while (!classes.empty() && offset < size_) {
            size_t live = 0;
            for (const auto& c : classes) {
                live += c.size();
            }
            size_t block = std::clamp(kBufferBudget / live / kMinBlock * kMinBlock, kMinBlock,
                                      std::min(step, kMaxBlock));
            size_t want =
                static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(block), size_ - offset));
            std::vector<std::vector<OpenMember>> next;
            // Every block starts on a page of its own, where the kernel copies fastest.
            size_t stride = (want + kMinBlock - 1) / kMinBlock * kMinBlock;
            for (auto& group : classes) {
                arena_.Reserve(group.size() * stride);
                std::vector<OpenMember> readable;
                blocks.clear();
                for (OpenMember& member : group) {
                    char* at = arena_.data() + readable.size() * stride;
                    size_t got = 0;
                    platform::Error error = platform::ReadBytes(member.handle, at, want, got);
                    if (error || got != want) {
                        // A failed read, or one cut short: the file is not what was listed.
                        Pass(member.file, error ? error : kChanged);
                        platform::CloseFile(member.handle);
                        continue;
                    }
                    readable.push_back(member);
                    blocks.push_back(at);
                }
                for (const auto& run : SplitByBlock(readable.size(), blocks.data(), want)) {
                    std::vector<OpenMember> split;
                    for (size_t i : run) {
                        split.push_back(readable[i]);
                    }
                    if (split.size() >= 2) {
                        next.push_back(std::move(split));
                    } else {
                        CloseAll(split);
                    }
                }
            }
            classes = std::move(next);
            offset += static_cast<int64_t>(want);
            step = std::min(step * 4, kMaxBlock);
            if (showProgress) {
                progress_.store(static_cast<int32_t>(offset * 100 / size_),
                                std::memory_order_relaxed);
            }
        }
        for (auto& group : classes) {
            IdenticalSet set;
            for (OpenMember& member : group) {
                if (UnchangedSinceOpen(member.file->path, member.stamp, size_)) {
                    set.push_back({member.file->entry, member.stamp});
                } else {
                    Pass(member.file, kChanged);
                }
            }
            CloseAll(group);
            // The files left are still identical to one another: each equals the bytes the
            // first file gave.
            if (set.size() >= 2) {
                out.push_back(std::move(set));
            }
        }
    }

    // Opens one file under the budget, waiting while the system has no descriptor to give.
    // The caller releases one from the budget after closing the file.
    platform::OpenFile* OpenOne(const SizeClassFile* file, platform::FileStamp& stamp,
                                platform::Error& error) {
        for (;;) {
            budget_.Acquire(1);
            platform::OpenFile* handle = nullptr;
            error = platform::OpenForReading(file->path, handle, stamp);
            if (!error) {
                return handle;
            }
            budget_.Release(1);
            if (!error.Is(platform::ErrorKind::NoHandles) || budget_.GivenUp()) {
                return nullptr;
            }
            budget_.Refused(0);
        }
    }

    void DigestOf(const SizeClassFile* file, ReadBuffer& buffer, Digest& out) {
        platform::OpenFile* handle = OpenOne(file, out.stamp, out.error);
        if (handle == nullptr) {
            return;
        }
        bool ok = out.stamp.length == size_;
        XXH3_state_t state;
        XXH3_128bits_reset(&state);
        for (int64_t offset = 0; ok && offset < size_;) {
            size_t want = static_cast<size_t>(
                std::min<int64_t>(static_cast<int64_t>(buffer.size()), size_ - offset));
            size_t got = 0;
            if (platform::Error error = platform::ReadBytes(handle, buffer.data(), want, got)) {
                out.error = error;
            }
            ok = got == want;
            XXH3_128bits_update(&state, buffer.data(), want);
            offset += static_cast<int64_t>(want);
        }
        // A digest only rules pairs out, and whatever could still group is compared again
        // side by side and checked by its path there: here the open file's own description is
        // enough to tell a change.
        platform::FileStamp now;
        out.ok = ok && !platform::StampOfOpenFile(handle, now) && now.length == size_ &&
                 now.modified == out.stamp.modified && now.changed == out.stamp.changed &&
                 now.links == out.stamp.links;
        platform::CloseFile(handle);
        budget_.Release(1);
        out.value = XXH3_128bits_digest(&state);
    }

    // Too many files to hold open: a digest of each whole file rules most pairs out; the files
    // left with an equal digest are then compared byte for byte.
    void ByDigest(const std::vector<const SizeClassFile*>& files, std::vector<IdenticalSet>& out) {
        // Each file is read on its own, so the digests are taken on every core at once.
        std::vector<Digest> digests(files.size());
        std::atomic<size_t> finished{0};
        size_t threads =
            files.size() >= 64 ? std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4) : 1;
        auto work = [&](size_t first) {
            ReadBuffer buffer(kMaxBlock);
            for (size_t i = first; i < files.size(); i += threads) {
                DigestOf(files[i], buffer, digests[i]);
                size_t done = finished.fetch_add(1, std::memory_order_relaxed) + 1;
                progress_.store(static_cast<int32_t>(done * 100 / files.size()),
                                std::memory_order_relaxed);
            }
        };
        std::vector<std::thread> helpers;
        for (size_t t = 1; t < threads; ++t) {
            helpers.emplace_back(work, t);
        }
        work(0);
        for (std::thread& helper : helpers) {
            helper.join();
        }
        struct Keyed {
            XXH128_hash_t value;
            size_t at;
        };
        std::vector<Keyed> keyed;
        Aliases aliases(files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            if (!digests[i].ok) {
                Pass(files[i], digests[i].error ? digests[i].error : kChanged);
            } else if (aliases.FirstName(digests[i].stamp)) {
                keyed.push_back({digests[i].value, i});
            }
        }
        std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
            return a.value.high64 != b.value.high64 ? a.value.high64 < b.value.high64
                                                    : a.value.low64 < b.value.low64;
        });
        for (size_t at = 0; at < keyed.size();) {
            size_t end = at;
            while (end < keyed.size() && XXH128_isEqual(keyed[end].value, keyed[at].value)) {
                ++end;
            }
            if (end - at >= 2) {
                std::vector<const SizeClassFile*> same;
                for (size_t k = at; k < end; ++k) {
                    same.push_back(files[keyed[k].at]);
                }
                Sets(same, true, out);
            }
            at = end;
        }
    }

    // More files with one digest than may be open: each is compared with the first file left,
    // in turns of as many files as may be open; what differs from it is split the same way
    // after. The first file must be the same, unchanged, in every turn.
    void HeadTurns(const std::vector<const SizeClassFile*>& files, std::vector<IdenticalSet>& out) {
        std::vector<const SizeClassFile*> left = files;
        while (left.size() >= 2) {
            const SizeClassFile* head = left.front();
            std::optional<platform::FileStamp> headStamp;
            IdenticalSet set;
            std::vector<const SizeClassFile*> rest;
            bool headLost = false;
            size_t i = 1;
            while (i < left.size() && !headLost) {
                size_t take = std::min(Limit() - 1, left.size() - i);
                std::vector<const SizeClassFile*> turn{head};
                turn.insert(turn.end(), left.begin() + static_cast<ptrdiff_t>(i),
                            left.begin() + static_cast<ptrdiff_t>(i + take));
                std::vector<IdenticalSet> found;
                std::optional<platform::FileStamp> stamp;
                const size_t passedBefore = passed_.size();
                if (!SideBySide(turn, found, &stamp)) {
                    continue;  // fewer files may be open now: a smaller turn
                }
                bool headPassed = std::any_of(
                    passed_.begin() + static_cast<ptrdiff_t>(passedBefore), passed_.end(),
                    [&](const PassedFile& p) { return p.entry == head->entry; });
                if (!stamp || headPassed ||
                    (headStamp && (stamp->modified != headStamp->modified ||
                                   stamp->changed != headStamp->changed ||
                                   !(stamp->identity == headStamp->identity)))) {
                    headLost = true;  // gone, or changed between turns: start again without it
                    if (!headPassed) {
                        Pass(head, kChanged);
                    }
                    break;
                }
                headStamp = stamp;
                const IdenticalSet* withHead = nullptr;
                for (const IdenticalSet& candidate : found) {
                    if (candidate.front().entry == head->entry) {
                        withHead = &candidate;
                    }
                }
                if (withHead != nullptr && set.empty()) {
                    set.push_back(withHead->front());
                }
                for (size_t k = 1; k < turn.size(); ++k) {
                    auto in = withHead == nullptr
                                  ? IdenticalSet::const_iterator{}
                                  : std::find_if(withHead->begin(), withHead->end(),
                                                 [&](const SetMember& m) {
                                                     return m.entry == turn[k]->entry;
                                                 });
                    if (withHead != nullptr && in != withHead->end()) {
                        set.push_back(*in);
                    } else {
                        rest.push_back(turn[k]);
                    }
                }
                i += take;
            }
            if (headLost) {
                // Whatever was matched with it goes back, with the files not yet compared.
                std::vector<const SizeClassFile*> again;
                for (const SizeClassFile* file : left) {
                    if (file != head) {
                        again.push_back(file);
                    }
                }
                left = std::move(again);
                continue;
            }
            if (set.size() >= 2) {
                out.push_back(std::move(set));
            }
            left = std::move(rest);
        }
    }

    const int64_t size_;
    std::atomic<int32_t>& progress_;
    ReadBuffer& arena_;
    OpenBudget& budget_;
    std::vector<PassedFile> passed_;
};

}  // namespace

SizeClassResult IdenticalSets(const std::vector<SizeClassFile>& files, int64_t size,
                              std::atomic<int32_t>& progress, ReadBuffer& arena,
                              OpenBudget& budget) {
    return SizeClassReader(size, progress, arena, budget).Run(files);
}

}  // namespace twinrake
