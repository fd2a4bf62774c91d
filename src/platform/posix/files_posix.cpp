// Linux file system: POSIX calls. Symbolic links are never followed inside a scanned tree: a
// link is listed as a file of size 0, so every scan ends. Paths longer than the system takes
// in one call are walked a piece at a time with openat, so depth never limits a result.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/posix/internal.h"

#ifdef TWINRAKE_TEST_HOOKS
#include "platform/posix/test_hooks.h"
#endif

namespace platform {

struct OpenFile {
    int fd = -1;
    bool canAskNoWait = true;
    DiskWait waited = DiskWait::kUnknown;
#ifdef TWINRAKE_TEST_HOOKS
    uint64_t inode = 0;
    int64_t position = 0;
#endif
};

#ifdef TWINRAKE_TEST_HOOKS
namespace test {
namespace {
std::function<void(uint64_t, int64_t)>& AfterReadHook() {
    static std::function<void(uint64_t, int64_t)> hook;
    return hook;
}
std::function<void(const std::string&)>& AfterListingHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}
}  // namespace
void SetAfterRead(std::function<void(uint64_t inode, int64_t offset)> hook) {
    AfterReadHook() = std::move(hook);
}
void SetAfterListing(std::function<void(const std::string& folder)> hook) {
    AfterListingHook() = std::move(hook);
}
}  // namespace test
#endif

Error SystemError(int code) {
    switch (code) {
        case 0:
            return Error{};
        case ENOENT:
        case ENOTDIR:
            return Error{ErrorKind::Gone, code};
        case EACCES:
        case EPERM:
        case EROFS:
            return Error{ErrorKind::NotAllowed, code};
        case EMFILE:
        case ENFILE:
            return Error{ErrorKind::NoHandles, code};
        case EOPNOTSUPP:
        case ENOTTY:
        case EXDEV:
            return Error{ErrorKind::Unsupported, code};
        case EMLINK:
            return Error{ErrorKind::NameLimit, code};
        default:
            return Error{ErrorKind::Broken, code};
    }
}

std::string ErrorText(const Error& error) {
    return error.code != 0 ? std::strerror(error.code) : OwnWords(error.kind);
}

using posix::LastError;

Error ProgramDirectory(std::string& directory) {
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return LastError();
    }
    std::string path(buffer.data(), static_cast<size_t>(length));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return SystemError(ENOENT);
    }
    directory = path.substr(0, slash + 1);
    return Error{};
}

Error MakeCurrentDirectory(const std::string& directory) {
    if (directory.empty()) {
        return SystemError(ENOENT);
    }
    return chdir(directory.c_str()) == 0 ? Error{} : LastError();
}

Error AbsolutePath(const std::string& path, std::string& absolute) {
    std::string joined;
    if (path.empty() || path.front() != '/') {
        // getcwd fails (ENOENT) once the current folder was deleted: the path then names
        // nothing, and must not be taken from anywhere else.
        std::vector<char> buffer(PATH_MAX + 1);
        while (getcwd(buffer.data(), buffer.size()) == nullptr) {
            if (errno != ERANGE) {
                return LastError();
            }
            buffer.resize(buffer.size() * 2);
        }
        joined = buffer.data();
        joined.push_back('/');
    }
    joined.append(path);
    // "." parts and repeated separators name nothing of their own; ".." is kept, since after
    // a link it leads elsewhere than the text before it suggests.
    std::string clean = "/";
    size_t at = 0;
    while (at < joined.size()) {
        size_t end = joined.find('/', at);
        if (end == std::string::npos) {
            end = joined.size();
        }
        std::string_view part(joined.data() + at, end - at);
        if (!part.empty() && part != ".") {
            if (clean.back() != '/') {
                clean.push_back('/');
            }
            clean.append(part);
        }
        at = end + 1;
    }
    absolute = std::move(clean);
    return Error{};
}

void RaiseOpenFileLimit() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

namespace {

// Descriptors kept back for everything but the search: the window system, the listings of a
// scan, a deletion, the libraries' own files.
constexpr size_t kReserve = 32;
// More than this many open files never pays off.
constexpr size_t kMostUseful = 4096;

size_t OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return 16;  // no /proc: a guess on the safe side
    }
    size_t count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(dir);
    return count > 0 ? count - 1 : 0;  // not the listing's own
}

}  // namespace

size_t OpenFileBudget() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 2;
    }
    size_t allowed = limit.rlim_cur == RLIM_INFINITY
                         ? kMostUseful
                         : static_cast<size_t>(std::min<rlim_t>(limit.rlim_cur, kMostUseful));
    size_t used = OpenDescriptors() + kReserve;
    return allowed > used + 2 ? allowed - used : 2;
}

namespace posix {

FileStamp StampOf(const struct stat& info) {
    FileStamp stamp;
    stamp.identity.volume = static_cast<uint64_t>(info.st_dev);
    stamp.identity.index = static_cast<uint64_t>(info.st_ino);
    stamp.length = static_cast<int64_t>(info.st_size);
    stamp.modified = Nanoseconds(info.st_mtim);
    stamp.changed = Nanoseconds(info.st_ctim);
    stamp.links = static_cast<uint64_t>(info.st_nlink);
    return stamp;
}

// Opens `path` with `flags` at any length. A path the system would refuse as too long is
// walked in pieces, each below PATH_MAX and ending at a separator, every piece but the last
// opened as a folder relative to the one before; links on the way are followed as the
// system would follow them in one call. Gives -1 with errno set on failure.
int OpenAnyLength(const std::string& path, int flags, mode_t mode) {
    if (path.size() < PATH_MAX) {
        return open(path.c_str(), flags, mode);
    }
    int at = AT_FDCWD;
    size_t begin = 0;
    for (;;) {
        size_t remaining = path.size() - begin;
        if (remaining < PATH_MAX) {
            int fd = openat(at, path.c_str() + begin, flags, mode);
            int saved = errno;
            if (at != AT_FDCWD) {
                close(at);
            }
            errno = saved;
            return fd;
        }
        // The longest piece that ends at a separator and fits.
        size_t cut = path.rfind('/', begin + PATH_MAX - 2);
        if (cut == std::string::npos || cut < begin) {
            if (at != AT_FDCWD) {
                close(at);
            }
            errno = ENAMETOOLONG;  // one name longer than any the system allows
            return -1;
        }
        std::string piece = path.substr(begin, cut - begin + 1);
        int next = openat(at, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        int saved = errno;
        if (at != AT_FDCWD) {
            close(at);
        }
        if (next < 0) {
            errno = saved;
            return -1;
        }
        at = next;
        begin = cut + 1;
        while (begin < path.size() && path[begin] == '/') {
            ++begin;
        }
    }
}

bool OpenParent(const std::string& path, Parent& parent) {
    if (path.size() < PATH_MAX) {
        parent.leaf = path.c_str();
        return true;
    }
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        errno = ENAMETOOLONG;
        return false;
    }
    parent.fd =
        OpenAnyLength(path.substr(0, slash == 0 ? 1 : slash), O_PATH | O_DIRECTORY | O_CLOEXEC);
    parent.leaf = path.c_str() + slash + 1;
    return parent.fd >= 0;
}

Error OpenFolderAsListed(const std::string& folder, const FileIdentity& identity, int flags,
                         Descriptor& opened) {
    opened.fd = OpenAnyLength(folder.empty() ? std::string("/") : folder, flags);
    if (opened.fd < 0) {
        return LastError();
    }
    struct stat info;
    if (fstat(opened.fd, &info) != 0) {
        return LastError();
    }
    return StampOf(info).identity == identity ? Error{} : Failed(ErrorKind::Changed);
}

}  // namespace posix

namespace {

using posix::OpenAnyLength;
using posix::OpenParent;
using posix::Parent;
using posix::StampOf;

bool MatchesEverything(const std::string& pattern) {
    return pattern.empty() || pattern == "*" || pattern == "*.*";
}

// What a listed name is, when the listing did not say: a look at it without following a link.
// Only files need one anyway (their size), and entries whose type the file system does not
// report. False when the entry vanished since the listing was read.
bool LookAt(int dirFd, unsigned char type, ListingEntry& entry,
            std::vector<UnreadableEntry>& unreadable) {
    if (type == DT_DIR) {
        entry.isFolder = true;
        return true;
    }
    if (type == DT_LNK) {
        return true;  // a link is never followed: a file of size 0
    }
    struct stat info;
    if (fstatat(dirFd, entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            // Listed but not to be looked at (a folder that may be read but not entered):
            // its size is unknown, so it is no entry at all.
            unreadable.push_back(UnreadableEntry{entry.name, LastError()});
        }
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        entry.isFolder = true;
    } else if (S_ISREG(info.st_mode)) {
        entry.size = static_cast<int64_t>(info.st_size);
    }
    return true;
}

DIR* OpenListing(const std::string& folder) {
    if (folder.size() < PATH_MAX) {
        // One call, where fdopendir would take three.
        return opendir(folder.empty() ? "/" : folder.c_str());
    }
    int fd = OpenAnyLength(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        int saved = errno;
        close(fd);
        errno = saved;
    }
    return dir;
}

}  // namespace

Error ReadFolder(const std::string& folder, const std::string& pattern, FolderListing& listing) {
    // The entries (and their names' storage) of an earlier listing are written over, not
    // freed and made again: a scan lists thousands of folders.
    listing.identityKnown = false;
    listing.brokeOff = Error{};
    listing.unreadable.clear();
    DIR* dir = OpenListing(folder);
    if (dir == nullptr) {
        listing.entries.clear();
        return LastError();
    }
    const int fd = dirfd(dir);
    struct stat info;
    if (fstat(fd, &info) == 0) {
        listing.identity = StampOf(info).identity;
        listing.identityKnown = true;
    }
    const bool everything = MatchesEverything(pattern);
    // First the names, then a look at those that need one: the listing is one stretch of
    // reads, and what happens between the two shows in what the looks find.
    std::vector<unsigned char> types;
    size_t count = 0;
    for (;;) {
        errno = 0;
        const dirent* raw = readdir(dir);
        if (raw == nullptr) {
            listing.brokeOff = LastError();  // no error at the end
            break;
        }
        if (!everything && fnmatch(pattern.c_str(), raw->d_name, 0) != 0) {
            continue;
        }
        if (count == listing.entries.size()) {
            listing.entries.emplace_back();
        }
        ListingEntry& entry = listing.entries[count++];
        entry.name.assign(raw->d_name);
        entry.isFolder = false;
        entry.size = 0;
        types.push_back(raw->d_type);
    }
#ifdef TWINRAKE_TEST_HOOKS
    if (test::AfterListingHook()) {
        test::AfterListingHook()(folder);
    }
#endif
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        if (LookAt(fd, types[i], listing.entries[i], listing.unreadable)) {
            if (kept != i) {
                std::swap(listing.entries[kept], listing.entries[i]);
            }
            ++kept;
        }
    }
    closedir(dir);
    listing.entries.resize(kept);
    return Error{};
}

namespace {

// O_NONBLOCK keeps a FIFO from blocking the open; such files are refused in TakeOpened.
constexpr int kReadingFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;

// Makes the descriptor `fd` of a file just opened for reading an OpenFile, or closes it.
Error TakeOpened(int fd, OpenFile*& file, FileStamp& stamp) {
    if (fd < 0) {
        return LastError();
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        Error error = LastError();
        close(fd);
        return error;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return Failed(ErrorKind::Changed);  // listed as a file, something else now
    }
    // A wider read-ahead pays off on large files read from the disk; for small ones it would
    // only cost a call.
    if (info.st_size >= 1024 * 1024) {
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    stamp = StampOf(info);
    file = new OpenFile{fd};
#ifdef TWINRAKE_TEST_HOOKS
    file->inode = stamp.identity.index;
#endif
    return Error{};
}

}  // namespace

Error OpenForReading(const std::string& path, OpenFile*& file, FileStamp& stamp) {
    return TakeOpened(OpenAnyLength(path, kReadingFlags), file, stamp);
}

namespace {

// Reads up to `count` bytes at `offset`, or from the current position for -1. It asks
// without waiting first: what the page cache holds comes at once, and a read that would have
// to wait for the disk says so, which tells whether the disk sets the pace.
ssize_t ReadAskingNoWait(OpenFile* file, void* buffer, size_t count, off_t offset) {
    struct iovec part {
        buffer, count
    };
    if (file->canAskNoWait) {
        ssize_t read = preadv2(file->fd, &part, 1, offset, RWF_NOWAIT);
        if (read >= 0 || (errno != EAGAIN && errno != EOPNOTSUPP && errno != EINVAL)) {
            return read;
        }
        if (errno == EAGAIN) {
            file->waited = DiskWait::kYes;
        } else {
            file->canAskNoWait = false;  // this file system cannot tell
            file->waited = DiskWait::kUnknown;
        }
    }
    return offset < 0 ? ::read(file->fd, buffer, count) : pread(file->fd, buffer, count, offset);
}

Error ReadFrom(OpenFile* file, off_t offset, void* buffer, size_t count, size_t& got) {
    got = 0;
    file->waited = file->canAskNoWait ? DiskWait::kNo : DiskWait::kUnknown;
    auto* at = static_cast<char*>(buffer);
    while (got < count) {
        ssize_t read = ReadAskingNoWait(file, at + got, count - got,
                                        offset < 0 ? -1 : offset + static_cast<off_t>(got));
        if (read < 0) {
            if (errno == EINTR) {
                continue;
            }
            got = 0;
            return LastError();
        }
        if (read == 0) {
            break;
        }
        got += static_cast<size_t>(read);
    }
#ifdef TWINRAKE_TEST_HOOKS
    file->position = (offset < 0 ? file->position : offset) + static_cast<int64_t>(got);
    if (test::AfterReadHook()) {
        test::AfterReadHook()(file->inode, file->position);
    }
#endif
    return Error{};
}

}  // namespace

Error ReadBytes(OpenFile* file, void* buffer, size_t count, size_t& got) {
    return ReadFrom(file, -1, buffer, count, got);
}

Error ReadBytesAt(OpenFile* file, int64_t offset, void* buffer, size_t count, size_t& got) {
    return ReadFrom(file, static_cast<off_t>(offset), buffer, count, got);
}

DiskWait LastReadWaited(const OpenFile* file) {
    return file->waited;
}

void ReadAhead(OpenFile* file, int64_t offset, size_t count) {
    posix_fadvise(file->fd, static_cast<off_t>(offset), static_cast<off_t>(count),
                  POSIX_FADV_WILLNEED);
}

Error StampOfPath(const std::string& path, FileStamp& stamp) {
    Parent parent;
    struct stat info;
    if (!OpenParent(path, parent) ||
        fstatat(parent.fd, parent.leaf, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return LastError();
    }
    stamp = StampOf(info);
    return Error{};
}

void CloseFile(OpenFile* file) {
    if (file != nullptr) {
        close(file->fd);
        delete file;
    }
}

struct HeldFolder {
    int fd;
};

size_t FolderHoldBudget() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 0;
    }
    const size_t taken = OpenDescriptors() + kReserve + kMostUseful;
    const auto allowed = static_cast<size_t>(limit.rlim_cur);
    return allowed > taken ? allowed - taken : 0;
}

namespace {

constexpr int kHoldingFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

}  // namespace

Error HoldFolder(const std::string& folder, const FileIdentity& identity, HeldFolder*& held) {
    posix::Descriptor opened;
    if (Error error = posix::OpenFolderAsListed(folder, identity, kHoldingFlags, opened)) {
        return error;
    }
    held = new HeldFolder{std::exchange(opened.fd, -1)};
    return Error{};
}

Error HoldFolderIn(const HeldFolder* above, std::string_view below, const FileIdentity& identity,
                   HeldFolder*& held) {
    char path[PATH_MAX];
    if (below.empty()) {
        return SystemError(EINVAL);
    }
    if (below.size() >= sizeof path) {
        return SystemError(ENAMETOOLONG);
    }
    *std::copy(below.begin(), below.end(), path) = '\0';
    posix::Descriptor opened(openat(above->fd, path, kHoldingFlags));
    struct stat info;
    if (opened.fd < 0 || fstat(opened.fd, &info) != 0) {
        return LastError();
    }
    if (StampOf(info).identity != identity) {
        return Failed(ErrorKind::Changed);  // another folder stands there now
    }
    held = new HeldFolder{std::exchange(opened.fd, -1)};
    return Error{};
}

void ReleaseFolder(HeldFolder* held) {
    if (held != nullptr) {
        close(held->fd);
        delete held;
    }
}

Error OpenForReadingIn(const HeldFolder* folder, std::string_view below, std::string_view name,
                       OpenFile*& file, FileStamp& stamp) {
    // Put together on the stack, not on the heap: one open per file of the search.
    char path[PATH_MAX];
    const size_t length = below.empty() ? name.size() : below.size() + 1 + name.size();
    if (name.size() > NAME_MAX || length >= sizeof path) {
        return SystemError(ENAMETOOLONG);
    }
    char* at = path;
    if (!below.empty()) {
        at = std::copy(below.begin(), below.end(), at);
        *at++ = '/';
    }
    at = std::copy(name.begin(), name.end(), at);
    *at = '\0';
    return TakeOpened(openat(folder->fd, path, kReadingFlags), file, stamp);
}

bool OnSpinningDisk(const std::string& path) {
    struct stat info;
    if (stat(path.empty() ? "/" : path.c_str(), &info) != 0 || major(info.st_dev) == 0) {
        return false;  // no block device of its own: memory, network, overlay, ...
    }
    std::string device = "/sys/dev/block/" + std::to_string(major(info.st_dev)) + ":" +
                         std::to_string(minor(info.st_dev));
    char resolved[PATH_MAX];
    if (realpath(device.c_str(), resolved) == nullptr) {
        return false;
    }
    // Disks of virtual machines say they turn whatever backs them.
    std::string where = resolved;
    for (const char* virtualDisk : {"/virtio", "/vbd-", "/xen", "/vmbus", "/VMBUS"}) {
        if (where.find(virtualDisk) != std::string::npos) {
            return false;
        }
    }
    // A partition's queue is its disk's.
    for (const char* queue : {"/queue/rotational", "/../queue/rotational"}) {
        if (FILE* flag = std::fopen((where + queue).c_str(), "r")) {
            int rotational = std::fgetc(flag);
            std::fclose(flag);
            return rotational == '1';
        }
    }
    return false;
}

uint64_t PlaceOnDisk(OpenFile* file) {
    // The request with room for the one extent asked for after it.
    alignas(fiemap) unsigned char request[sizeof(fiemap) + sizeof(fiemap_extent)] = {};
    auto* map = reinterpret_cast<fiemap*>(request);
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_extent_count = 1;
    if (ioctl(file->fd, FS_IOC_FIEMAP, map) == 0 && map->fm_mapped_extents == 1) {
        return map->fm_extents[0].fe_physical;
    }
    struct stat info;
    return fstat(file->fd, &info) == 0 ? static_cast<uint64_t>(info.st_ino) : 0;
}

}  // namespace platform
