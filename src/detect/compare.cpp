#include "detect/compare.h"

#include <algorithm>
#include <cstring>

#include "detect/identical_sets.h"
#include "detect/read_buffer.h"

namespace twinrake {

namespace {

// Both files are read in blocks of this size; the buffers are the comparison's whole memory.
constexpr size_t kBlockSize = 256 * 1024;

struct Buffers {
    ReadBuffer first{kBlockSize};
    ReadBuffer second{kBlockSize};
};

// One pair for each thread that compares: the window's deletions run on its own thread, the
// command line's cleanup on a few.
Buffers& SharedBuffers() {
    thread_local Buffers buffers;
    return buffers;
}

// A file opened for the comparison, closed when it goes.
struct Opened {
    platform::OpenFile* handle = nullptr;
    platform::FileStamp stamp;
    ~Opened() { platform::CloseFile(handle); }
};

// Reads and compares `size` bytes of both open files.
Comparison SameContent(platform::OpenFile* first, platform::OpenFile* second, int64_t size,
                       Progress& progress) {
    Buffers& buffers = SharedBuffers();
    for (int64_t offset = 0; offset < size;) {
        size_t want = static_cast<size_t>(std::min<int64_t>(kBlockSize, size - offset));
        size_t gotFirst = 0;
        size_t gotSecond = 0;
        if (platform::Error error =
                platform::ReadBytes(first, buffers.first.data(), want, gotFirst)) {
            return Comparison{Likeness::kUnreadable, error, false, {}};
        }
        if (platform::Error error =
                platform::ReadBytes(second, buffers.second.data(), want, gotSecond)) {
            return Comparison{Likeness::kUnreadable, error, true, {}};
        }
        // A read that comes back short means the file was cut meanwhile.
        if (gotFirst != want || gotSecond != want) {
            return Comparison{Likeness::kChanged, {}, gotFirst == want, {}};
        }
        if (std::memcmp(buffers.first.data(), buffers.second.data(), want) != 0) {
            return Comparison{Likeness::kDiffer, {}, false, {}};
        }
        offset += static_cast<int64_t>(want);
        progress.StillRunning();
    }
    return Comparison{};
}

// Whether the file opened at `path` as `opened`, now read to its end, is still that version:
// when `path` still names the file that was opened, its description is the open file's own,
// so one look tells both.
bool UnchangedByPath(const std::string& path, const platform::FileStamp& opened) {
    platform::FileStamp now;
    return !platform::StampOfPath(path, now) && SameVersion(now, opened);
}

}  // namespace

bool PossiblySameFile(const platform::FileStamp& a, const platform::FileStamp& b) {
    if (a.identity == b.identity) {
        return true;
    }
    return a.identity.volume != b.identity.volume && a.length == b.length &&
           a.modified == b.modified &&
           static_cast<uint32_t>(a.identity.index) == static_cast<uint32_t>(b.identity.index);
}

Comparison CompareContents(const std::string& programDirectory, const std::string& path,
                           const std::string& otherPath, Progress& progress) {
    Opened file;
    Opened other;
    (void)platform::MakeCurrentDirectory(programDirectory);
    if (platform::Error error = platform::OpenForReading(path, file.handle, file.stamp)) {
        return Comparison{Likeness::kUnreadable, error, false, {}};
    }
    if (platform::Error error = platform::OpenForReading(otherPath, other.handle, other.stamp)) {
        return Comparison{Likeness::kUnreadable, error, true, {}};
    }
    if (PossiblySameFile(file.stamp, other.stamp)) {
        return Comparison{Likeness::kSameFile, {}, false, {}};
    }
    if (file.stamp.length != other.stamp.length) {
        return Comparison{Likeness::kDiffer, {}, false, {}};
    }
    Comparison result = SameContent(file.handle, other.handle, file.stamp.length, progress);
    if (result.likeness != Likeness::kSame) {
        return result;
    }
    if (!UnchangedByPath(path, file.stamp)) {
        return Comparison{Likeness::kChanged, {}, false, {}};
    }
    if (!UnchangedByPath(otherPath, other.stamp)) {
        return Comparison{Likeness::kChanged, {}, true, {}};
    }
    result.secondStamp = other.stamp;
    return result;
}

bool CompareFiles(const std::string& programDirectory, const std::string& path,
                  const std::string& otherPath, Progress& progress) {
    return CompareContents(programDirectory, path, otherPath, progress).likeness == Likeness::kSame;
}

}  // namespace twinrake
