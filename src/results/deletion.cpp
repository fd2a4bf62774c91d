#include "results/deletion.h"

#include "app/controls.h"
#include "catalogue/progress.h"
#include "detect/cleanup.h"
#include "platform/files.h"
#include "platform/window.h"
#include "results/views.h"

namespace twinrake {

void SelectAfterRemoval(int32_t list, int32_t removed) {
    int32_t last = platform::CountLines(list) - 1;
    platform::SelectLine(list, removed > last ? removed - 1 : removed);
}

namespace {

// Deletes the member's file only while its path still names the very file the search compared,
// unchanged and not write-protected, and, with `copy`, while that copy still holds its bytes;
// otherwise the file stays, and the views go on as for any file that could not be deleted.
void DeleteIfUnchanged(const GroupMember& member, const platform::KeptCopy* copy = nullptr) {
    // A file that stays is dropped from the views all the same; the window reports nothing.
    (void)platform::RemoveFileIfUnchanged(FileOf(member), copy);
}

// The marked file is deleted only while it is still the file the search compared and another
// member of its group is still a separate file with the same bytes: files may have changed or
// gone since the search, and a "surplus copy" must never be the last one.
void DeleteMarkedIfACopyRemains(const EngineState& state, const DuplicateGroup& group,
                                MemberList::const_iterator marked) {
    platform::ChangeReport report;
    platform::KeptCopy copy;
    if (!ForecastFor(platform::Change::kRemove, *marked, nullptr, report) &&
        AnotherCopyRemains(state.programDirectory, group, marked, *state.progress, copy)) {
        DeleteIfUnchanged(*marked, &copy);
    }
}

// Takes group `g` out of the GroupList and LstGroups, then shows the members of the group
// that has become selected.
void RemoveGroup(EngineState& state, int32_t g) {
    state.groupList.erase(state.groupList.begin() + g);
    platform::RemoveLine(LstGroups, g);
    SelectAfterRemoval(LstGroups, g);
    RefreshViews(state, RefreshMembers);
    SetGroupCaption(state);
}

}  // namespace

void DeleteMarkedCommand(EngineState& state) {
    int32_t g = platform::SelectedIndex(LstGroups);
    int32_t m = platform::SelectedIndex(LstMembers);
    // Only a selection that names a group and one of its members deletes anything; indexes
    // past the end would otherwise select the last group.
    if (g < 0 || m < 0 || g >= CountOf(state.groupList)) {
        return;
    }
    DuplicateGroup& group = state.groupList[static_cast<size_t>(g)];
    if (m >= group.memberCount) {
        return;
    }
    MemberList::iterator member = MemberAt(group, m);
    DeleteMarkedIfACopyRemains(state, group, member);
    MemberList::iterator next = state.memberList.erase(member);
    platform::RemoveLine(LstMembers, m);
    SelectAfterRemoval(LstMembers, m);
    if (m == 0) {
        group.firstMember = next;
    }
    group.memberCount -= 1;
    if (group.memberCount == 1) {
        // The last copy stays on the disk; only its record goes.
        state.memberList.erase(group.firstMember);
        RemoveGroup(state, g);
    }
}

void DeleteGroupCommand(EngineState& state) {
    int32_t g = platform::SelectedIndex(LstGroups);
    if (g < 0 || g >= CountOf(state.groupList)) {
        return;
    }
    DuplicateGroup& group = state.groupList[static_cast<size_t>(g)];
    MemberList::iterator member = group.firstMember;
    for (int32_t k = 0; k < group.memberCount; ++k) {
        DeleteIfUnchanged(*member);
        member = state.memberList.erase(member);
        state.progress->StillRunning();
    }
    RemoveGroup(state, g);
}

}  // namespace twinrake
