#include "detect/identical_sets.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <thread>

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

struct OpenMember {
    uint32_t entry = 0;
    platform::OpenFile* file = nullptr;
};

void CloseAll(std::vector<OpenMember>& members) {
    for (OpenMember& member : members) {
        platform::CloseFile(member.file);
        member.file = nullptr;
    }
}

// Opens the files, keeping those whose length is `size` and that are not another name of a
// file opened before (a repeat in the catalogue, a hard link).
std::vector<OpenMember> OpenClass(const std::vector<const SizeClassFile*>& files, int32_t size) {
    std::vector<OpenMember> members;
    std::vector<platform::FileIdentity> seen;
    members.reserve(files.size());
    for (const SizeClassFile* file : files) {
        int64_t length = 0;
        platform::FileIdentity identity;
        platform::OpenFile* open = platform::OpenForReading(file->path, length, identity);
        if (open == nullptr) {
            continue;
        }
        if (length != size || std::find(seen.begin(), seen.end(), identity) != seen.end()) {
            platform::CloseFile(open);
            continue;
        }
        seen.push_back(identity);
        members.push_back({file->entry, open});
    }
    return members;
}

// Splits `members` (with their blocks of `length` bytes at `blocks[i]`) into runs of equal
// blocks, each run keeping the members' order, the runs ordered by their first member.
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

// Reads all members of the class side by side, block by block, splitting the class whenever
// blocks differ. Every byte of every file that stays in a set has been compared with the
// set's first file. Closes every file.
std::vector<std::vector<uint32_t>> CompareSideBySide(std::vector<OpenMember> members, int32_t size,
                                                     std::atomic<int32_t>& progress,
                                                     ReadBuffer& arena) {
    std::vector<std::vector<OpenMember>> classes;
    if (members.size() >= 2) {
        classes.push_back(std::move(members));
    } else {
        CloseAll(members);
    }
    std::vector<const char*> blocks;
    const bool showProgress = size >= kProgressThreshold;
    int64_t offset = 0;
    // The first block is small: most files of one size differ early.
    size_t step = kMinBlock;
    while (!classes.empty() && offset < size) {
        size_t live = 0;
        for (const auto& c : classes) {
            live += c.size();
        }
        size_t block = std::clamp(kBufferBudget / live / kMinBlock * kMinBlock, kMinBlock,
                                  std::min(step, kMaxBlock));
        size_t want =
            static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(block), size - offset));
        std::vector<std::vector<OpenMember>> next;
        // Every block starts on a page of its own, where the kernel copies fastest.
        size_t stride = (want + kMinBlock - 1) / kMinBlock * kMinBlock;
        for (auto& members_ : classes) {
            arena.Reserve(members_.size() * stride);
            std::vector<OpenMember> readable;
            blocks.clear();
            for (OpenMember& member : members_) {
                char* at = arena.data() + readable.size() * stride;
                if (platform::ReadBytes(member.file, at, want) != static_cast<int64_t>(want)) {
                    platform::CloseFile(member.file);  // a failed or short read: different
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
            progress.store(static_cast<int32_t>(offset * 100 / size), std::memory_order_relaxed);
        }
    }
    std::vector<std::vector<uint32_t>> sets;
    for (auto& members_ : classes) {
        std::vector<uint32_t> set;
        for (const OpenMember& member : members_) {
            set.push_back(member.entry);
        }
        CloseAll(members_);
        sets.push_back(std::move(set));
    }
    return sets;
}

bool IdentityLess(const platform::FileIdentity& a, const platform::FileIdentity& b) {
    return a.volume != b.volume ? a.volume < b.volume : a.index < b.index;
}

// A digest of the whole file, read on its own; false when it cannot be read as `size` bytes.
struct Digest {
    XXH128_hash_t value{};
    platform::FileIdentity identity;
};

bool DigestOf(const std::string& path, int32_t size, ReadBuffer& buffer, Digest& out) {
    int64_t length = 0;
    platform::OpenFile* file = platform::OpenForReading(path, length, out.identity);
    if (file == nullptr) {
        return false;
    }
    bool ok = length == size;
    XXH3_state_t state;
    XXH3_128bits_reset(&state);
    for (int64_t offset = 0; ok && offset < size;) {
        size_t want = static_cast<size_t>(
            std::min<int64_t>(static_cast<int64_t>(buffer.size()), size - offset));
        ok = platform::ReadBytes(file, buffer.data(), want) == static_cast<int64_t>(want);
        XXH3_128bits_update(&state, buffer.data(), want);
        offset += static_cast<int64_t>(want);
    }
    platform::CloseFile(file);
    out.value = XXH3_128bits_digest(&state);
    return ok;
}

std::vector<std::vector<uint32_t>> SetsOf(const std::vector<const SizeClassFile*>& files,
                                          int32_t size, std::atomic<int32_t>& progress,
                                          ReadBuffer& arena);

// Too many files to hold open: a digest of each whole file rules most pairs out; the files
// left with an equal digest are then compared byte for byte.
std::vector<std::vector<uint32_t>> SetsByDigest(const std::vector<const SizeClassFile*>& files,
                                                int32_t size, std::atomic<int32_t>& progress,
                                                ReadBuffer& arena) {
    // Each file is read on its own, so the digests are taken on every core at once.
    std::vector<Digest> digests(files.size());
    std::vector<uint8_t> readable(files.size(), 0);
    std::atomic<size_t> finished{0};
    size_t threads =
        files.size() >= 64 ? std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4) : 1;
    auto work = [&](size_t first) {
        ReadBuffer buffer(kMaxBlock);
        for (size_t i = first; i < files.size(); i += threads) {
            readable[i] = DigestOf(files[i]->path, size, buffer, digests[i]) ? 1 : 0;
            size_t done = finished.fetch_add(1, std::memory_order_relaxed) + 1;
            progress.store(static_cast<int32_t>(done * 100 / files.size()),
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
        Digest digest;
        size_t at;
    };
    std::vector<Keyed> keyed;
    // Another name of a file met before (a repeat, a hard link) joins nothing.
    std::vector<platform::FileIdentity> seen;
    for (size_t i = 0; i < files.size(); ++i) {
        if (readable[i] != 0) {
            seen.push_back(digests[i].identity);
        }
    }
    std::sort(seen.begin(), seen.end(), IdentityLess);
    std::vector<platform::FileIdentity> taken;
    for (size_t i = 0; i < files.size(); ++i) {
        if (readable[i] == 0) {
            continue;
        }
        const platform::FileIdentity& identity = digests[i].identity;
        auto range = std::equal_range(seen.begin(), seen.end(), identity, IdentityLess);
        if (range.second - range.first > 1) {
            // Names of one file: only the first of them counts.
            if (std::find(taken.begin(), taken.end(), identity) != taken.end()) {
                continue;
            }
            taken.push_back(identity);
        }
        keyed.push_back({digests[i], i});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return a.digest.value.high64 != b.digest.value.high64
                   ? a.digest.value.high64 < b.digest.value.high64
                   : a.digest.value.low64 < b.digest.value.low64;
    });
    std::vector<std::vector<uint32_t>> sets;
    for (size_t at = 0; at < keyed.size();) {
        size_t end = at;
        while (end < keyed.size() &&
               XXH128_isEqual(keyed[end].digest.value, keyed[at].digest.value)) {
            ++end;
        }
        if (end - at >= 2) {
            std::vector<const SizeClassFile*> same;
            for (size_t k = at; k < end; ++k) {
                same.push_back(files[keyed[k].at]);
            }
            for (auto& set : SetsOf(same, size, progress, arena)) {
                sets.push_back(std::move(set));
            }
        }
        at = end;
    }
    return sets;
}

std::vector<std::vector<uint32_t>> SetsOf(const std::vector<const SizeClassFile*>& files,
                                          int32_t size, std::atomic<int32_t>& progress,
                                          ReadBuffer& arena) {
    if (files.size() <= kMaxOpenFiles) {
        return CompareSideBySide(OpenClass(files, size), size, progress, arena);
    }
    // Thousands of files with one digest: each is compared with the first file left, in turns
    // of as many files as may be open; what differs from it is split the same way after.
    std::vector<std::vector<uint32_t>> sets;
    std::vector<const SizeClassFile*> left = files;
    while (left.size() >= 2) {
        const SizeClassFile* head = left.front();
        std::vector<uint32_t> set{head->entry};
        std::vector<const SizeClassFile*> rest;
        for (size_t i = 1; i < left.size(); i += kMaxOpenFiles - 1) {
            std::vector<const SizeClassFile*> turn{head};
            size_t end = std::min(left.size(), i + kMaxOpenFiles - 1);
            turn.insert(turn.end(), left.begin() + static_cast<ptrdiff_t>(i),
                        left.begin() + static_cast<ptrdiff_t>(end));
            std::vector<uint32_t> withHead;
            for (auto& found : CompareSideBySide(OpenClass(turn, size), size, progress, arena)) {
                if (found.front() == head->entry) {
                    withHead = std::move(found);
                }
            }
            for (size_t k = 1; k < turn.size(); ++k) {
                if (std::find(withHead.begin(), withHead.end(), turn[k]->entry) != withHead.end()) {
                    set.push_back(turn[k]->entry);
                } else {
                    rest.push_back(turn[k]);
                }
            }
        }
        if (set.size() >= 2) {
            sets.push_back(std::move(set));
        }
        left = std::move(rest);
    }
    return sets;
}

}  // namespace

std::vector<std::vector<uint32_t>> IdenticalSets(const std::vector<SizeClassFile>& files,
                                                 int32_t size, std::atomic<int32_t>& progress,
                                                 ReadBuffer& arena) {
    std::vector<const SizeClassFile*> pointers;
    pointers.reserve(files.size());
    for (const SizeClassFile& file : files) {
        pointers.push_back(&file);
    }
    if (files.size() > kMaxOpenFiles) {
        return SetsByDigest(pointers, size, progress, arena);
    }
    return SetsOf(pointers, size, progress, arena);
}

}  // namespace twinrake
