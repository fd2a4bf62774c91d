// Mounts below a test's tree, undone at the end of the test; each refusal says why, so that a
// test can skip with the reason where mounting is not permitted (CI runs as root).
#pragma once

#include <string>
#include <vector>

#include "temp_tree.h"

namespace testing_support {

class Mounts {
  public:
    Mounts() = default;
    Mounts(const Mounts&) = delete;
    Mounts& operator=(const Mounts&) = delete;
    ~Mounts();

    bool Mount(const std::string& source, const std::string& target, const char* type,
               unsigned long flags, const std::string& options = "");
    // A fresh file system of `type` in an image file of `scratch`, through a loop device;
    // `make` are mkfs options.
    bool MountImage(const TempTree& scratch, const std::string& type, const std::string& target,
                    const std::string& make = "");
    // An overlay at `merged` over `lower`, its upper layer on a tmpfs of its own (so that lower
    // and upper lie on two file systems), with `options` such as "xino=on".
    bool Overlay(const std::string& lower, const std::string& merged, const std::string& layers,
                 const std::string& options = "");
    // A FUSE mirror of `source` at `target` (bindfs): a file system that swaps no names.
    bool Mirror(const std::string& source, const std::string& target);

    std::string refused;

  private:
    std::vector<std::string> mounted_;
};

}  // namespace testing_support
