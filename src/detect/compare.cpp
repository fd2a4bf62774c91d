#include "detect/compare.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "detect/read_buffer.h"

namespace twinrake {

namespace {

// Both files are read in blocks of this size; a multiple of 4, so that no 4-byte progress
// unit straddles two blocks. The buffers are the comparison's whole memory.
constexpr size_t kBlockSize = 256 * 1024;

// The percentage PrgFile shows after the unit that starts at 1-based position `p`.
int32_t UnitProgress(int64_t p, int64_t size) {
    return static_cast<int32_t>(p * 100 / size);
}

struct Buffers {
    ReadBuffer first{kBlockSize};
    ReadBuffer second{kBlockSize};
};

Buffers& SharedBuffers() {
    static Buffers buffers;
    return buffers;
}

// Reads and compares `size` bytes of both open files. With `showShare`, PrgFile's share
// follows the 4-byte units a unit-wise comparison would have reported: the position of the
// last unit read, or 100 once a difference ends the comparison.
bool SameContent(platform::OpenFile* first, platform::OpenFile* second, int64_t size,
                 bool showShare, Progress& progress) {
    Buffers& buffers = SharedBuffers();
    bool showProgress = showShare && size >= kProgressThreshold;
    int64_t offset = 0;
    while (offset < size) {
        size_t want = static_cast<size_t>(std::min<int64_t>(kBlockSize, size - offset));
        size_t gotFirst = 0;
        size_t gotSecond = 0;
        // A read that fails or comes back short leaves the pair different.
        if (platform::ReadBytes(first, buffers.first.data(), want, gotFirst) ||
            platform::ReadBytes(second, buffers.second.data(), want, gotSecond) ||
            gotFirst != want || gotSecond != want ||
            std::memcmp(buffers.first.data(), buffers.second.data(), want) != 0) {
            if (showProgress) {
                progress.FileShare(UnitProgress(size + 1, size));
            }
            return false;
        }
        offset += static_cast<int64_t>(want);
        if (showProgress) {
            int64_t lastUnit = 1 + 4 * ((offset - 1) / 4);
            progress.FileShare(UnitProgress(lastUnit, size));
        } else {
            progress.StillRunning();
        }
    }
    return true;
}

}  // namespace

bool PossiblySameFile(const platform::FileStamp& a, const platform::FileStamp& b) {
    return a.identity == b.identity || (a.identity.index == b.identity.index &&
                                        a.length == b.length && a.modified == b.modified);
}

bool UnchangedSinceOpen(const std::string& path, const platform::FileStamp& opened, int64_t size) {
    // What the path names now: when that is still the file opened, its description is the open
    // file's own, so one look tells both.
    platform::FileStamp now;
    return !platform::StampOfPath(path, now) && now.identity == opened.identity &&
           now.length == size && now.modified == opened.modified && now.changed == opened.changed &&
           now.links == opened.links;
}

int32_t CompareFiles(const std::string& programDirectory, const std::string& firstPath,
                     const std::string& secondPath, int64_t size, Progress& progress) {
    platform::FileStamp firstStamp;
    platform::FileStamp secondStamp;
    platform::OpenFile* first = nullptr;
    platform::OpenFile* second = nullptr;
    (void)platform::MakeCurrentDirectory(programDirectory);
    if (platform::OpenForReading(firstPath, first, firstStamp)) {
        return 0;
    }
    (void)platform::MakeCurrentDirectory(programDirectory);
    if (platform::OpenForReading(secondPath, second, secondStamp)) {
        platform::CloseFile(first);
        return 0;
    }
    int32_t result = 0;
    if (size < 0 || firstStamp.length != size || secondStamp.length != size) {
        // Grown or shrunk since it was listed: never identical.
        if (size >= kProgressThreshold) {
            progress.FileShare(100);
        }
    } else if (SameContent(first, second, size, true, progress) &&
               UnchangedSinceOpen(firstPath, firstStamp, size) &&
               UnchangedSinceOpen(secondPath, secondStamp, size)) {
        result = 1;
    }
    platform::CloseFile(second);
    platform::CloseFile(first);
    return result;
}

bool StillCopies(const std::string& programDirectory, const std::string& path,
                 const std::string& otherPath, Progress& progress) {
    platform::FileStamp stamp;
    platform::FileStamp otherStamp;
    platform::OpenFile* file = nullptr;
    platform::OpenFile* other = nullptr;
    (void)platform::MakeCurrentDirectory(programDirectory);
    if (platform::OpenForReading(path, file, stamp)) {
        return false;
    }
    if (platform::OpenForReading(otherPath, other, otherStamp)) {
        platform::CloseFile(file);
        return false;
    }
    bool copies = !PossiblySameFile(stamp, otherStamp) && stamp.length == otherStamp.length &&
                  SameContent(file, other, stamp.length, false, progress) &&
                  UnchangedSinceOpen(path, stamp, stamp.length) &&
                  UnchangedSinceOpen(otherPath, otherStamp, otherStamp.length);
    platform::CloseFile(other);
    platform::CloseFile(file);
    return copies;
}

}  // namespace twinrake
