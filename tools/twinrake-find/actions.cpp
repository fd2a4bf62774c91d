#include "actions.h"

#include "catalogue/lists.h"
#include "keeping.h"
#include "messages.h"
#include "platform/files.h"

namespace cli {

volatile std::sig_atomic_t stopRequested = 0;

namespace {

const char* PastTense(Action action) {
    switch (action) {
        case Action::kDelete:
            return "deleted";
        case Action::kLink:
            return "linked";
        case Action::kReflink:
            return "reflinked";
        case Action::kTrash:
            return "trashed";
        case Action::kNone:
            break;
    }
    return "listed";
}

// "not deleted", or in a dry run "would not delete".
std::string RefusedWord(Action action, bool dryRun) {
    if (!dryRun) {
        return "not " + std::string(PastTense(action));
    }
    switch (action) {
        case Action::kLink:
            return "would not link";
        case Action::kReflink:
            return "would not reflink";
        case Action::kTrash:
            return "would not trash";
        default:
            return "would not delete";
    }
}

platform::Change ChangeOf(Action action) {
    switch (action) {
        case Action::kLink:
            return platform::Change::kLink;
        case Action::kReflink:
            return platform::Change::kShareBlocks;
        case Action::kTrash:
            return platform::Change::kTrash;
        default:
            return platform::Change::kRemove;
    }
}

std::string Words(const platform::Error& error) {
    switch (error.kind) {
        case platform::ErrorKind::Changed:
            return "changed since the search compared it";
        case platform::ErrorKind::WriteProtected:
            return "write-protected";
        default:
            return platform::ErrorText(error);
    }
}

// The copy that stays, as the changes expect to find it: at first as the search compared it;
// after a link to it, with the change time that link gave it.
struct Kept {
    int32_t index = 0;
    platform::KeptCopy file;
    uint64_t plannedNames = 0;  // names a dry run would have given it so far
};

void SetKept(Kept& kept, int32_t index, const twinrake::GroupMember& member) {
    kept.index = index;
    kept.file = twinrake::KeptAsCompared(member);
    kept.plannedNames = 0;
}

// What the member frees when it goes: its bytes, if this was its last name.
uint64_t FreedBy(const twinrake::GroupMember& member, uint64_t names) {
    return names == 1 ? static_cast<uint64_t>(member.compared.length) : 0;
}

// The call that commits the change, after every check; `report` says what it met.
platform::Error Commit(platform::Change change, const Kept& kept,
                       const twinrake::GroupMember& member, platform::ChangeReport& report,
                       platform::Guarding guarding) {
    const platform::MemberFile file = twinrake::FileOf(member);
    switch (change) {
        case platform::Change::kRemove:
            return platform::RemoveFileIfUnchanged(file, &kept.file, &report, guarding);
        case platform::Change::kLink:
            return platform::ReplaceWithLink(file, kept.file, report, guarding);
        case platform::Change::kTrash:
            return platform::MoveToTrash(file, &kept.file, report, guarding);
        case platform::Change::kShareBlocks:
            break;
    }
    return platform::ShareBlocks(file, kept.file, report);
}

// What a dry run says of the member once the checks that the real run makes first have passed:
// everything the real run would meet, asked without changing anything.
void Forecast(Kept& kept, const twinrake::GroupMember& member, platform::Change change,
              MemberOutcome& outcome, bool& keptFull) {
    platform::ChangeReport forecast;
    outcome.refusal = twinrake::ForecastFor(change, member, &kept.file, forecast);
    outcome.trash = forecast.trash;
    if (outcome.refusal) {
        return;
    }
    if (change == platform::Change::kLink && forecast.nameLimit != 0 &&
        forecast.keptNames + kept.plannedNames >= forecast.nameLimit) {
        keptFull = true;
        return;
    }
    kept.plannedNames += change == platform::Change::kLink ? 1 : 0;
    const auto length = static_cast<uint64_t>(member.compared.length);
    outcome.freed = change == platform::Change::kShareBlocks || change == platform::Change::kTrash
                        ? length
                        : FreedBy(member, forecast.names);
    outcome.done = Done::kWouldAct;
}

// The change itself; sets `keptFull` when the kept file has all the names it may have.
void Apply(Kept& kept, const twinrake::GroupMember& member, platform::Change change,
           MemberOutcome& outcome, bool& keptFull, platform::Guarding guarding) {
    platform::ChangeReport report;
    platform::Error error = Commit(change, kept, member, report, guarding);
    if (report.keptChanged != 0) {
        kept.file.expected.changed = report.keptChanged;  // names made or removed moved it on
    }
    if (error) {
        keptFull = error.Is(platform::ErrorKind::NameLimit);
        outcome.refusal = twinrake::Refusal{report.keptRefused    ? twinrake::Refusal::Why::kKept
                                            : report.trashRefused ? twinrake::Refusal::Why::kTrash
                                                                  : twinrake::Refusal::Why::kMember,
                                            error,
                                            {}};
        outcome.trash = report.trash;
        if (!report.strandedAt.empty()) {
            outcome.strandedAt = twinrake::FullPath(member.directory(), report.strandedAt);
        }
        return;
    }
    outcome.freed = change == platform::Change::kShareBlocks ? static_cast<uint64_t>(report.shared)
                    : change == platform::Change::kTrash
                        ? static_cast<uint64_t>(member.compared.length)  // moved, not freed
                        : FreedBy(member, report.names);
    outcome.done = Done::kActed;
}

// A dry run: the checks of the member and the kept file as compared, then the bytes, then
// what the change would meet, in the order in which the real run meets them.
void ActInThought(const twinrake::EngineState& state, Kept& kept,
                  const twinrake::GroupMember& member, platform::Change change,
                  MemberOutcome& outcome, bool& keptFull) {
    platform::ChangeReport first;
    outcome.refusal = twinrake::UnchangedFor(change, member, &kept.file, first);
    if (!outcome.refusal) {
        outcome.refusal = twinrake::CopyHoldsBytes(
            state.programDirectory, twinrake::FullPath(member), kept.file.path, *state.progress);
    }
    if (!outcome.refusal) {
        Forecast(kept, member, change, outcome, keptFull);
    }
}

// The real run. The change checks that the member and the kept file are still the versions the
// search compared (their change time included, which no program sets back); where it also holds
// a lease on both, which shows that no program has them open for writing, their bytes are
// those the search compared and are not read again. Elsewhere the bytes are compared once more
// first. Sharing blocks needs neither: the file system compares the bytes itself.
void ActIndeed(const twinrake::EngineState& state, Kept& kept, const twinrake::GroupMember& member,
               platform::Change change, MemberOutcome& outcome, bool& keptFull) {
    if (change == platform::Change::kShareBlocks) {
        Apply(kept, member, change, outcome, keptFull, platform::Guarding::kIfGiven);
        return;
    }
    Apply(kept, member, change, outcome, keptFull, platform::Guarding::kRequired);
    if (!outcome.refusal.error.Is(platform::ErrorKind::Unguarded)) {
        return;
    }
    outcome.refusal = twinrake::CopyHoldsBytes(state.programDirectory, twinrake::FullPath(member),
                                               kept.file.path, *state.progress);
    if (!outcome.refusal) {
        Apply(kept, member, change, outcome, keptFull, platform::Guarding::kIfGiven);
    }
}

MemberOutcome Act(const twinrake::EngineState& state, Kept& kept,
                  const twinrake::GroupMember& member, const Options& options, bool& keptFull) {
    MemberOutcome outcome;
    outcome.done = Done::kLeft;
    outcome.keptBy = kept.index;
    outcome.keptPath = kept.file.path;
    keptFull = false;
    if (options.dryRun) {
        ActInThought(state, kept, member, ChangeOf(options.action), outcome, keptFull);
    } else {
        ActIndeed(state, kept, member, ChangeOf(options.action), outcome, keptFull);
    }
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
        case Action::kTrash:
            return "would trash";
        case Action::kNone:
            break;
    }
    return "listed";
}

std::string ReasonText(const MemberOutcome& outcome, bool quoted) {
    const std::string kept = quoted ? ForMessage(outcome.keptPath) : outcome.keptPath;
    const twinrake::Refusal& refusal = outcome.refusal;
    std::string text;
    switch (refusal.why) {
        case twinrake::Refusal::Why::kNone:
            break;
        case twinrake::Refusal::Why::kMember:
            text = Words(refusal.error);
            break;
        case twinrake::Refusal::Why::kTrash:
            text = "the trash " + (quoted ? ForMessage(outcome.trash) : outcome.trash) + ": " +
                   Words(refusal.error);
            break;
        case twinrake::Refusal::Why::kKept:
            text = refusal.error.Is(platform::ErrorKind::Changed)
                       ? "its kept copy " + kept + " changed since the search compared it"
                       : "its kept copy " + kept + ": " + Words(refusal.error);
            break;
        case twinrake::Refusal::Why::kNoCopy: {
            const twinrake::Comparison& why = refusal.comparison;
            switch (why.likeness) {
                case twinrake::Likeness::kSame:
                case twinrake::Likeness::kDiffer:
                    text = "no longer holds the same bytes as " + kept;
                    break;
                case twinrake::Likeness::kSameFile:
                    text = "is one file with " + kept;
                    break;
                case twinrake::Likeness::kUnreadable:
                    text = why.second ? "cannot read its kept copy " + kept + ": "
                                      : std::string("cannot read it: ");
                    text += platform::ErrorText(why.error);
                    break;
                case twinrake::Likeness::kChanged:
                    text = why.second ? "its kept copy " + kept + " changed while it was compared"
                                      : "changed while it was compared with " + kept;
                    break;
            }
            break;
        }
    }
    if (!outcome.strandedAt.empty()) {
        text += "; the file that was at its name is now " +
                (quoted ? ForMessage(outcome.strandedAt) : outcome.strandedAt);
    }
    return text;
}

void ActOnGroup(const twinrake::EngineState& state, const twinrake::DuplicateGroup& group,
                const Options& options, std::vector<MemberOutcome>& outcomes) {
    outcomes.assign(static_cast<size_t>(group.memberCount), MemberOutcome{});
    const Keeping keeping = ChooseKept(group, options);
    Kept kept;
    SetKept(kept, keeping.kept, *twinrake::MemberAt(group, keeping.kept));
    auto member = group.firstMember;
    for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
        MemberOutcome& outcome = outcomes[static_cast<size_t>(k)];
        outcome.keptBy = keeping.kept;
        const bool reference = BelowReference(options, twinrake::FullPath(*member));
        if (reference && (keeping.untouched || k != keeping.kept)) {
            outcome.done = Done::kReference;  // never acted on
            continue;
        }
        if (keeping.untouched) {
            outcome.done = Done::kUntouched;
            continue;
        }
        if (k == keeping.kept) {
            continue;
        }
        if (stopRequested != 0) {
            outcome.done = Done::kNotReached;
            continue;
        }
        bool keptFull = false;
        outcome = Act(state, kept, *member, options, keptFull);
        if (keptFull) {
            // As many names as one file may have: this copy stays and is kept from here on.
            SetKept(kept, k, *member);
            outcome = MemberOutcome{};
            outcome.keptBy = k;
        }
    }
}

void NameLeftMembers(const twinrake::DuplicateGroup& group, const Options& options,
                     const std::vector<MemberOutcome>& outcomes) {
    auto member = group.firstMember;
    for (const MemberOutcome& outcome : outcomes) {
        if (outcome.done == Done::kLeft) {
            Complain(twinrake::FullPath(*member), RefusedWord(options.action, options.dryRun) +
                                                      ": " + ReasonText(outcome, true));
        }
        ++member;
    }
}

}  // namespace cli
