// Linux file system: POSIX calls. Symbolic links are never followed: a link is listed as a
// file of size 0, so every scan ends.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "platform/files.h"

namespace platform {

struct Listing {
    DIR* dir = nullptr;
    std::string pattern;  // empty when every name matches
};

struct OpenFile {
    int fd = -1;
};

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

namespace {

bool MatchesEverything(const std::string& pattern) {
    return pattern.empty() || pattern == "*" || pattern == "*.*";
}

// Fills `entry` from one directory entry; a stat is needed only for files (their size) and
// for entries whose type the file system does not report.
void Describe(DIR* dir, const dirent* raw, ListingEntry& entry) {
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
    if (fstatat(dirfd(dir), raw->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return;  // vanished since the listing was read: catalogued with size 0
    }
    if (S_ISDIR(info.st_mode)) {
        entry.isFolder = true;
    } else if (S_ISREG(info.st_mode)) {
        entry.size = static_cast<int32_t>(static_cast<uint32_t>(info.st_size));
    }
}

bool NextMatching(Listing* listing, ListingEntry& entry) {
    for (;;) {
        errno = 0;
        const dirent* raw = readdir(listing->dir);
        if (raw == nullptr) {
            return false;  // the end, or a listing that broke off
        }
        if (!listing->pattern.empty() && fnmatch(listing->pattern.c_str(), raw->d_name, 0) != 0) {
            continue;
        }
        Describe(listing->dir, raw, entry);
        return true;
    }
}

}  // namespace

Listing* ListFirst(const std::string& folder, const std::string& pattern, ListingEntry& entry) {
    DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
    if (dir == nullptr) {
        return nullptr;
    }
    auto* listing = new Listing{dir, MatchesEverything(pattern) ? std::string() : pattern};
    if (!NextMatching(listing, entry)) {
        ListClose(listing);
        return nullptr;
    }
    return listing;
}

bool ListNext(Listing* listing, ListingEntry& entry) {
    return listing != nullptr && NextMatching(listing, entry);
}

void ListClose(Listing* listing) {
    if (listing != nullptr) {
        closedir(listing->dir);
        delete listing;
    }
}

OpenFile* OpenForReading(const std::string& path, int64_t& length, FileIdentity& identity) {
    // O_NONBLOCK keeps a FIFO from blocking the open; such files are refused below.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    // A wider read-ahead pays off on large files read from the disk; for small ones it would
    // only cost a call.
    if (info.st_size >= 1024 * 1024) {
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    length = static_cast<int64_t>(info.st_size);
    identity.volume = static_cast<uint64_t>(info.st_dev);
    identity.index = static_cast<uint64_t>(info.st_ino);
    return new OpenFile{fd};
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
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

void CloseFile(OpenFile* file) {
    if (file != nullptr) {
        close(file->fd);
        delete file;
    }
}

bool RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

}  // namespace platform
