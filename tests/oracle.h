// The search as first described, as the yardstick of the real one: every pair walked, every
// byte read one at a time; plus the rule that another name of a file already placed joins
// nothing.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "catalogue/engine_state.h"

namespace testing_support {

using Groups = std::vector<std::vector<std::string>>;

// The groups' members' full paths, group by group.
Groups GroupsOf(const twinrake::EngineState& state);

// What may make two names one file: the same device and inode, or the same inode, length and
// last write on two devices (an overlay's view of its lower folder).
struct Identity {
    dev_t device;
    ino_t inode;
    off_t size;
    int64_t modified;
    bool SameFile(const Identity& other) const;
};
bool IdentityOf(const std::string& path, Identity& identity);

Groups OracleGroups(const twinrake::FileCatalogue& catalogue);

}  // namespace testing_support
