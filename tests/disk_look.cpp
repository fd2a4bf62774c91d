#include "disk_look.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace testing_support {

namespace {

int64_t Nanoseconds(const struct timespec& time) {
    return int64_t{time.tv_sec} * 1000000000 + time.tv_nsec;
}

}  // namespace

bool LookAt(const std::string& path, Look& look) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    look = Look{info.st_dev,
                info.st_ino,
                info.st_mode,
                info.st_uid,
                info.st_nlink,
                Nanoseconds(info.st_mtim),
                Nanoseconds(info.st_ctim),
                {}};
    std::ifstream in(path, std::ios::binary);
    look.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::map<std::string, Look> Snapshot(const std::string& root) {
    std::map<std::string, Look> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        Look look;
        if (LookAt(entry.path().string(), look)) {
            files[entry.path().string()] = look;
        }
    }
    return files;
}

}  // namespace testing_support
