// What twinrake-find does to the members of a group but the one it keeps: delete them, replace
// them by hard links, or let the file system share blocks, each only after the checks the
// window's deletion makes (detect/cleanup.h). A dry run makes every check the real run makes
// and stops short of the call that commits, so it says what the real run would do.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/engine_state.h"
#include "detect/cleanup.h"
#include "options.h"

namespace cli {

enum class Done {
    kKept,        // the copy that stays: the group's first (or, once that one has all the
                  // names its file system allows, the member that takes over from it)
    kActed,       // the action was done
    kWouldAct,    // a dry run found that the action could be done now
    kLeft,        // a check failed or the system refused: nothing was changed
    kNotReached,  // the run was stopped before this member
    kReference,   // below a reference folder: never acted on
    kUntouched,   // with reference folders, its group holds no member below one
};

struct MemberOutcome {
    Done done = Done::kKept;
    int32_t keptBy = 0;  // the member kept when this one was acted on, counted in the group
    uint64_t freed = 0;  // the bytes the action freed, or would free
    // Why it was left alone, and what a reason names: the kept file's path.
    twinrake::Refusal refusal;
    std::string keptPath;
    std::string strandedAt;  // see platform::ChangeReport
    std::string trash;       // the trash meant for it (--trash)
};

// Set by a signal handler: the cleanup ends after the member in hand.
extern volatile std::sig_atomic_t stopRequested;

// Acts on every member of `group` but the kept one, in order, until a stop is requested.
// `outcomes` receives one entry per member. Safe on several threads at once, one group each.
void ActOnGroup(const twinrake::EngineState& state, const twinrake::DuplicateGroup& group,
                const Options& options, std::vector<MemberOutcome>& outcomes);
// Names on standard error each member of `group` that was left alone, with the reason.
void NameLeftMembers(const twinrake::DuplicateGroup& group, const Options& options,
                     const std::vector<MemberOutcome>& outcomes);

// What the output calls an action: "deleted", or "would delete" in a dry run.
std::string ActionWord(Action action, bool dryRun);

// Why a member was left alone, in words; with `quoted`, the paths in it are quoted as in
// messages (Quoted).
std::string ReasonText(const MemberOutcome& outcome, bool quoted);

}  // namespace cli
