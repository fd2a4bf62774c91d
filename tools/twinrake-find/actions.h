// What twinrake-find does to the members of a group after the first: delete them, replace them
// by hard links, or let the file system share blocks, each only after the checks the window's
// deletion makes. The first member, the copy catalogued first, is never touched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/state.h"
#include "options.h"

namespace cli {

enum class Done {
    kKept,      // the group's first member
    kActed,     // the action was done
    kWouldAct,  // a dry run found that the action could be done now
    kLeft,      // a check failed or the system refused: nothing was changed
};

struct MemberOutcome {
    Done done = Done::kKept;
    std::string reason;  // why it was left alone
    uint64_t freed = 0;  // the bytes the action freed, or would free
};

// Acts on every member of `group` after the first, in order. `outcomes` receives one entry
// per member, the first included. Each member left alone is named on standard error.
void ActOnGroup(const twinrake::AppState& state, const twinrake::DuplicateGroup& group,
                const Options& options, std::vector<MemberOutcome>& outcomes);

// What the output calls an action: "deleted", or "would delete" in a dry run.
std::string ActionWord(Action action, bool dryRun);

}  // namespace cli
