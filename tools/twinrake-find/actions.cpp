#include "actions.h"

#include "catalogue/lists.h"
#include "detect/compare.h"
#include "platform/files.h"

namespace cli {

namespace {

const char* PastTense(Action action) {
    switch (action) {
        case Action::kDelete:
            return "deleted";
        case Action::kLink:
            return "linked";
        case Action::kReflink:
            return "reflinked";
        case Action::kNone:
            break;
    }
    return "listed";
}

std::string Reason(const platform::Error& error) {
    switch (error.kind) {
        case platform::ErrorKind::Changed:
            return "changed since the search compared it";
        case platform::ErrorKind::WriteProtected:
            return "write-protected";
        default:
            return platform::ErrorText(error);
    }
}

// What the member frees when it goes: its bytes, if this was its last name.
uint64_t FreedBy(const twinrake::GroupMember& member, uint64_t names) {
    return names == 1 ? static_cast<uint64_t>(member.compared.length) : 0;
}

// The checks that change nothing, then the action (or, in a dry run, what it would free).
MemberOutcome Act(const twinrake::AppState& state, const twinrake::GroupMember& kept,
                  const std::string& keptPath, const twinrake::GroupMember& member,
                  const Options& options) {
    const std::string folder(member.directory());
    const std::string name(member.name());
    const std::string path = twinrake::FullPath(folder, name);
    // Sharing blocks changes nothing the user sees, so a write-protected file may share.
    const bool writable = options.action != Action::kReflink;
    MemberOutcome outcome;
    outcome.done = Done::kLeft;
    if (platform::Error error =
            platform::CheckFileUnchanged(folder, name, member.compared, writable)) {
        outcome.reason = Reason(error);
        return outcome;
    }
    // The file system compares the bytes itself when it shares blocks; otherwise this is
    // what makes sure the kept file still holds the member's bytes, as a file of its own.
    if ((options.action != Action::kReflink || options.dryRun) &&
        !twinrake::CompareFiles(state.programDirectory, path, keptPath, *state.progress)) {
        outcome.reason = "no longer holds the same bytes as " + keptPath;
        return outcome;
    }
    platform::Error error;
    uint64_t names = 0;
    int64_t shared = 0;
    if (options.dryRun) {
        platform::FileStamp now;
        error = platform::StampOfPath(path, now);
        outcome.freed = options.action == Action::kReflink
                            ? static_cast<uint64_t>(member.compared.length)
                            : FreedBy(member, now.links);
    } else if (options.action == Action::kDelete) {
        error = platform::RemoveFileIfUnchanged(folder, name, member.compared, &names);
        outcome.freed = FreedBy(member, names);
    } else if (options.action == Action::kLink) {
        error = platform::ReplaceWithLink(keptPath, kept.compared, folder, name, member.compared,
                                          names);
        outcome.freed = FreedBy(member, names);
    } else {
        error =
            platform::ShareBlocks(keptPath, kept.compared, folder, name, member.compared, shared);
        outcome.freed = static_cast<uint64_t>(shared);
    }
    if (error) {
        outcome.freed = 0;
        outcome.reason = Reason(error);
        return outcome;
    }
    outcome.done = options.dryRun ? Done::kWouldAct : Done::kActed;
    return outcome;
}

}  // namespace

std::string ActionWord(Action action, bool dryRun) {
    if (!dryRun) {
        return PastTense(action);
    }
    switch (action) {
        case Action::kDelete:
            return "would delete";
        case Action::kLink:
            return "would link";
        case Action::kReflink:
            return "would reflink";
        case Action::kNone:
            break;
    }
    return "listed";
}

void ActOnGroup(const twinrake::AppState& state, const twinrake::DuplicateGroup& group,
                const Options& options, std::vector<MemberOutcome>& outcomes) {
    outcomes.assign(1, MemberOutcome{});  // the first member is kept, whatever happens
    auto member = group.firstMember;
    const twinrake::GroupMember& kept = *member;
    const std::string keptPath = twinrake::FullPath(kept.directory(), kept.name());
    // A kept file that changed or went since the search keeps every other copy too.
    std::string keptChanged;
    platform::FileStamp keptNow;
    if (platform::Error error = platform::StampOfPath(keptPath, keptNow)) {
        keptChanged = "its kept copy " + keptPath + ": " + Reason(error);
    } else if (!(keptNow.identity == kept.compared.identity) ||
               keptNow.length != kept.compared.length ||
               keptNow.modified != kept.compared.modified) {
        keptChanged = "its kept copy " + keptPath + " changed since the search compared it";
    }
    for (int32_t k = 1; k < group.memberCount; ++k) {
        ++member;
        MemberOutcome outcome;
        if (!keptChanged.empty()) {
            outcome.done = Done::kLeft;
            outcome.reason = keptChanged;
        } else {
            outcome = Act(state, kept, keptPath, *member, options);
        }
        if (outcome.done == Done::kLeft) {
            Complain(twinrake::FullPath(member->directory(), member->name()),
                     "not " + std::string(PastTense(options.action)) + ": " + outcome.reason);
        }
        outcomes.push_back(std::move(outcome));
        state.progress->StillRunning();
    }
}

}  // namespace cli
