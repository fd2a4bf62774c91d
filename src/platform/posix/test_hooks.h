// What the tests may hook into the Linux file system, in a build made for them only.
#pragma once

#include <cstdint>
#include <functional>

namespace platform::test {

// Called on the reading thread after every ReadBytes, with the file's inode and how far it
// has been read: a test can change the file on disk at that moment.
void SetAfterRead(std::function<void(uint64_t inode, int64_t offset)> hook);

}  // namespace platform::test
