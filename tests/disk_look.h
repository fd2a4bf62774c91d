// What a user could tell of the files on disk, to see that a command changed exactly what it
// says it changed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

namespace testing_support {

// Everything of a regular file a user could tell changed, its last access aside.
struct Look {
    dev_t device;
    ino_t inode;
    mode_t mode;
    uid_t owner;
    nlink_t names;
    int64_t modified;
    int64_t changed;
    std::string bytes;
    auto Key() const {
        return std::tie(device, inode, mode, owner, names, modified, changed, bytes);
    }
    bool operator==(const Look& other) const { return Key() == other.Key(); }
};

// False when `path` names no regular file.
bool LookAt(const std::string& path, Look& look);

// Every regular file below `root`, by path, temporary names included.
std::map<std::string, Look> Snapshot(const std::string& root);

}  // namespace testing_support
