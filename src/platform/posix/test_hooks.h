// What the tests may hook into the Linux file system, in a build made for them only. Only the
// Step names are known to every build; the setters exist in the hooked build alone.
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

// The calls that commit a change to a member, each after the checks before it.
enum class Step {
    kCheck,     // the checks a change makes first, after those before it (a byte comparison)
    kAside,     // the member's move to a temporary name
    kLink,      // the new name of the kept file
    kExchange,  // the swap of the link and the member
    kUnlink,    // the removal of the temporary name that holds the member
    kPutBack,   // the move of a file that is not the member back to its name
    kShare,     // each request to share blocks
};

// Called just before each of those calls: a test can change the folder at that moment.
void SetBeforeStep(std::function<void(Step step)> hook);

// Makes renames with flags fail as on a file system that knows none (NFS, most FUSE file
// systems): no swap of two names, no refusal to replace.
void SetRenameFlagsRefused(bool refused);

// Makes the system give no leases, as NFS and FUSE file systems give none.
void SetLeasesRefused(bool refused);

}  // namespace platform::test
