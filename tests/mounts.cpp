#include "mounts.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cli_run.h"

namespace testing_support {

Mounts::~Mounts() {
    for (auto at = mounted_.rbegin(); at != mounted_.rend(); ++at) {
        umount2(at->c_str(), MNT_DETACH);
    }
}

bool Mounts::Mount(const std::string& source, const std::string& target, const char* type,
                   unsigned long flags, const std::string& options) {
    std::filesystem::create_directories(target);
    if (mount(source.c_str(), target.c_str(), type, flags,
              options.empty() ? nullptr : options.c_str()) != 0) {
        refused = "mounting is not permitted here: " + std::string(std::strerror(errno));
        return false;
    }
    mounted_.push_back(target);
    return true;
}

bool Mounts::MountImage(const TempTree& scratch, const std::string& type, const std::string& target,
                        const std::string& make) {
    const std::string image = scratch.Path(type + std::to_string(mounted_.size()) + ".img");
    const std::string command = "truncate -s 320M " + Quote(image) + " && mkfs." + type + " -q " +
                                make + " " + Quote(image) + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        refused = "mkfs." + type + " failed or is missing";
        return false;
    }
    std::filesystem::create_directories(target);
    const std::string attach =
        "mount -o loop " + Quote(image) + " " + Quote(target) + " 2>/dev/null";
    if (std::system(attach.c_str()) != 0) {
        refused = "loop mounts are not permitted here";
        return false;
    }
    mounted_.push_back(target);
    return true;
}

bool Mounts::Overlay(const std::string& lower, const std::string& merged, const std::string& layers,
                     const std::string& options) {
    if (!Mount("tmpfs", layers, "tmpfs", 0)) {
        return false;
    }
    std::filesystem::create_directories(layers + "/upper");
    std::filesystem::create_directories(layers + "/work");
    return Mount("overlay", merged, "overlay", 0,
                 "lowerdir=" + lower + ",upperdir=" + layers + "/upper,workdir=" + layers +
                     "/work" + (options.empty() ? "" : "," + options));
}

bool Mounts::Mirror(const std::string& source, const std::string& target) {
    std::filesystem::create_directories(target);
    const std::string command = "bindfs " + Quote(source) + " " + Quote(target) + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
        refused = "bindfs is missing or FUSE mounts are not permitted here";
        return false;
    }
    mounted_.push_back(target);
    return true;
}

}  // namespace testing_support
