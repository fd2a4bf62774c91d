// Linux file system: POSIX calls. Symbolic links are never followed inside a scanned tree: a
// link is listed as a file of size 0, so every scan ends. Paths longer than the system takes
// in one call are walked a piece at a time with openat, so depth never limits a result.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"

#ifdef TWINRAKE_TEST_HOOKS
#include "platform/posix/test_hooks.h"
#endif

namespace platform {

struct OpenFile {
    int fd = -1;
    int error = 0;
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
}  // namespace
void SetAfterRead(std::function<void(uint64_t inode, int64_t offset)> hook) {
    AfterReadHook() = std::move(hook);
}
}  // namespace test
#endif

std::string ProgramDirectory() {
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return {};
    }
    std::string path(buffer.data(), static_cast<size_t>(length));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool MakeCurrentDirectory(const std::string& directory) {
    return !directory.empty() && chdir(directory.c_str()) == 0;
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

std::string ErrorText(int error) {
    return std::strerror(error);
}

namespace {

int64_t Nanoseconds(const struct timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

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

bool IsNoHandles(int error) {
    return error == EMFILE || error == ENFILE;
}

// Opens `path` with `flags` at any length. A path the system would refuse as too long is
// walked in pieces, each below PATH_MAX and ending at a separator, every piece but the last
// opened as a folder relative to the one before; links on the way are followed as the
// system would follow them in one call. Gives -1 with errno set on failure.
int OpenAnyLength(const std::string& path, int flags, mode_t mode = 0) {
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

// The folder that holds the last part of `path`, opened for *at calls, and that last part.
// For a path short enough for one call, the current folder stands for it (AT_FDCWD) and the
// last part is the whole path, taken as it is.
struct Parent {
    int fd = AT_FDCWD;
    const char* leaf = nullptr;
    Parent() = default;
    Parent(const Parent&) = delete;
    Parent& operator=(const Parent&) = delete;
    ~Parent() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

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

bool MatchesEverything(const std::string& pattern) {
    return pattern.empty() || pattern == "*" || pattern == "*.*";
}

// One directory entry as a listing entry; a stat is needed only for files (their size) and
// for entries whose type the file system does not report.
void Describe(int dirFd, const dirent* raw, ListingEntry& entry) {
    entry.name.assign(raw->d_name);
    entry.isFolder = false;
    entry.size = 0;
    unsigned char type = raw->d_type;
    if (type == DT_DIR) {
        entry.isFolder = true;
        return;
    }
    if (type == DT_LNK) {
        return;
    }
    struct stat info;
    if (fstatat(dirFd, raw->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return;  // vanished since the listing was read: catalogued with size 0
    }
    if (S_ISDIR(info.st_mode)) {
        entry.isFolder = true;
    } else if (S_ISREG(info.st_mode)) {
        entry.size = static_cast<int64_t>(info.st_size);
    }
}

}  // namespace

bool ReadFolder(const std::string& folder, const std::string& pattern, FolderListing& listing) {
    // The entries (and their names' storage) of an earlier listing are written over, not
    // freed and made again: a scan lists thousands of folders.
    size_t count = 0;
    listing.identityKnown = false;
    listing.error = 0;
    DIR* dir = nullptr;
    if (folder.size() < PATH_MAX) {
        // One call, where fdopendir would take three.
        dir = opendir(folder.empty() ? "/" : folder.c_str());
    } else if (int fd = OpenAnyLength(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        dir = fdopendir(fd);
        if (dir == nullptr) {
            int saved = errno;
            close(fd);
            errno = saved;
        }
    }
    if (dir == nullptr) {
        listing.error = errno;
        listing.entries.clear();
        return false;
    }
    const int fd = dirfd(dir);
    struct stat info;
    if (fstat(fd, &info) == 0) {
        listing.identity = StampOf(info).identity;
        listing.identityKnown = true;
    }
    const bool everything = MatchesEverything(pattern);
    for (;;) {
        errno = 0;
        const dirent* raw = readdir(dir);
        if (raw == nullptr) {
            listing.error = errno;  // 0 at the end, set when the listing broke off
            break;
        }
        if (!everything && fnmatch(pattern.c_str(), raw->d_name, 0) != 0) {
            continue;
        }
        if (count == listing.entries.size()) {
            listing.entries.emplace_back();
        }
        Describe(fd, raw, listing.entries[count++]);
    }
    closedir(dir);
    listing.entries.resize(count);
    return true;
}

OpenFile* OpenForReading(const std::string& path, FileStamp& stamp, OpenFailure& failure) {
    failure = OpenFailure{};
    // O_NONBLOCK keeps a FIFO from blocking the open; such files are refused below.
    errno = 0;
    int fd = OpenAnyLength(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        failure.error = errno;
        failure.noHandles = IsNoHandles(errno);
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        failure.error = errno != 0 ? errno : EINVAL;  // EINVAL: no regular file (any more)
        close(fd);
        return nullptr;
    }
    // A wider read-ahead pays off on large files read from the disk; for small ones it would
    // only cost a call.
    if (info.st_size >= 1024 * 1024) {
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    stamp = StampOf(info);
    auto* file = new OpenFile{fd};
#ifdef TWINRAKE_TEST_HOOKS
    file->inode = stamp.identity.index;
#endif
    return file;
}

int64_t ReadBytes(OpenFile* file, void* buffer, size_t count) {
    size_t done = 0;
    auto* at = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t got = read(file->fd, at + done, count - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            file->error = errno;
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
#ifdef TWINRAKE_TEST_HOOKS
    file->position += static_cast<int64_t>(done);
    if (test::AfterReadHook()) {
        test::AfterReadHook()(file->inode, file->position);
    }
#endif
    return static_cast<int64_t>(done);
}

int ReadError(const OpenFile* file) {
    return file == nullptr ? EBADF : file->error;
}

bool StampOfOpenFile(OpenFile* file, FileStamp& stamp) {
    struct stat info;
    if (file == nullptr || fstat(file->fd, &info) != 0) {
        return false;
    }
    stamp = StampOf(info);
    return true;
}

bool StampOfPath(const std::string& path, FileStamp& stamp, int& error) {
    Parent parent;
    struct stat info;
    if (!OpenParent(path, parent) ||
        fstatat(parent.fd, parent.leaf, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        error = errno;
        return false;
    }
    error = 0;
    stamp = StampOf(info);
    return true;
}

void CloseFile(OpenFile* file) {
    if (file != nullptr) {
        close(file->fd);
        delete file;
    }
}

RemoveOutcome RemoveFileIfUnchanged(const std::string& folder, const std::string& name,
                                    const ExpectedFile& expected) {
    int fd = OpenAnyLength(folder.empty() ? std::string("/") : folder,
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR ? RemoveOutcome::Changed : RemoveOutcome::Failed;
    }
    // The folder itself must be the one the file was found in: a folder on the way swapped
    // for a link to another one leads elsewhere.
    struct stat info;
    RemoveOutcome outcome = RemoveOutcome::Failed;
    if (fstat(fd, &info) != 0) {
        outcome = RemoveOutcome::Failed;
    } else if (!(StampOf(info).identity == expected.folder)) {
        outcome = RemoveOutcome::Changed;
    } else if (fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        outcome = errno == ENOENT ? RemoveOutcome::Changed : RemoveOutcome::Failed;
    } else if (FileStamp now = StampOf(info);
               !S_ISREG(info.st_mode) || !(now.identity == expected.identity) ||
               now.length != expected.length || now.modified != expected.modified) {
        outcome = RemoveOutcome::Changed;
    } else if ((info.st_mode & S_IWUSR) == 0) {
        // unlink would ignore the file's own rights; a write-protected file stays, as it
        // does on Windows.
        outcome = RemoveOutcome::WriteProtected;
    } else {
        // Only the name is removed here, in the folder just checked; another program can
        // still rename a different file onto it between these two calls.
        outcome =
            unlinkat(fd, name.c_str(), 0) == 0 ? RemoveOutcome::Removed : RemoveOutcome::Failed;
    }
    close(fd);
    return outcome;
}

}  // namespace platform
