// What the two halves of the Linux backend share: reading (files_posix.cpp) and changing
// members of a group (changes_posix.cpp). Not for the core.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"

namespace platform::posix {

inline Error LastError() {
    return SystemError(errno);
}

inline int64_t Nanoseconds(const struct timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileStamp StampOf(const struct stat& info);

// Opens `path` with `flags` at any length; -1 with errno set on failure.
int OpenAnyLength(const std::string& path, int flags, mode_t mode = 0);

// A descriptor closed again when it goes out of scope.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int opened) : fd(opened) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

// Opens `folder` (the root for an empty text) with `flags` only while it is still the folder
// with `identity`: Changed when another folder is there now. `opened` closes it again.
Error OpenFolderAsListed(const std::string& folder, const FileIdentity& identity, int flags,
                         Descriptor& opened);

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

// False with errno set when the folder of a long path cannot be opened.
bool OpenParent(const std::string& path, Parent& parent);

// The freedesktop.org trash for a file: its folder (holding files/ and info/), and whether it is
// the home trash or the one at `top`, the top of the file's own file system.
struct TrashPlace {
    std::string folder;
    std::string top;
    bool home = false;
};

// The trash for a file on `device` in `memberFolder`. With `create`, its folders are made where
// missing; without, it is only found out whether a real run could make and use them. EXDEV
// where it would lie on another file system.
Error FindTrash(const std::string& memberFolder, dev_t device, bool create, TrashPlace& place);

// Takes a name in the trash for the file at `path` named `name`: its .trashinfo (the path and
// the time, for a file manager to restore it from) is made first, so that the name is this
// change's. `trashName` receives the name under files/.
Error ReserveTrashName(const TrashPlace& place, const std::string& path, const std::string& name,
                       std::string& trashName);
void ForgetTrashName(const TrashPlace& place, const std::string& trashName);

}  // namespace platform::posix
