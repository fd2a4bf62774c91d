// What the tests may hook into the Linux file system, in a build made for them only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform::test {

// Called on the reading thread after every ReadBytes, with the file's inode and how far it
// has been read: a test can change the file on disk at that moment.
void SetAfterRead(std::function<void(uint64_t inode, int64_t offset)> hook);

// Called after a folder's names were read and before its entries are looked at: a test can
// change the folder at that moment.
void SetAfterListing(std::function<void(const std::string& folder)> hook);

}  // namespace platform::test
