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

}  // namespace platform::posix
