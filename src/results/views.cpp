#include "results/views.h"

#include <string>

#include "app/controls.h"
#include "platform/window.h"

namespace twinrake {

std::string CaptionWithCount(const char* caption, int32_t count) {
    return std::string(caption) + " (" + std::to_string(count) + ")";
}

void SetGroupCaption(const AppState& state) {
    platform::SetControlText(LblGroups, CaptionWithCount(kGroupsCaption, CountOf(state.groupList)));
}

namespace {

void ResetViews() {
    platform::ClearLines(LstAllFiles);
    platform::ClearLines(LstGroups);
    platform::ClearLines(LstMembers);
    platform::SetControlText(LblAllFiles, kAllFilesCaption);
    platform::SetControlText(LblGroups, kGroupsCaption);
}

void RefreshAllFilesView(const AppState& state) {
    platform::ClearLines(LstAllFiles);
    std::string line;
    for (const FileEntry& entry : state.fileCatalogue) {
        line.assign(entry.name());
        line.append(" (");
        line.append(std::to_string(entry.size));
        line.push_back(')');
        platform::AppendLine(LstAllFiles, line);
    }
    platform::SetControlText(LblAllFiles,
                             CaptionWithCount(kAllFilesCaption, state.fileCatalogue.Count()));
}

void RefreshGroupsView(AppState& state) {
    if (state.groupList.empty()) {
        // The earlier lines stay above it, and the caption keeps its count.
        platform::AppendLine(LstGroups, kNoDuplicatesLine);
        return;
    }
    platform::ClearLines(LstGroups);
    for (const DuplicateGroup& group : state.groupList) {
        std::string line = std::to_string(group.memberCount) + ": ";
        auto member = group.firstMember;
        for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
            if (k > 0) {
                line.append(", ");
            }
            line.append(member->name());
        }
        platform::AppendLine(LstGroups, line);
    }
    SetGroupCaption(state);
}

void RefreshMembersView(AppState& state) {
    platform::ClearLines(LstMembers);
    if (state.groupList.empty()) {
        return;
    }
    const DuplicateGroup* group = SelectGroup(state.groupList, platform::SelectedIndex(LstGroups));
    if (group == nullptr) {
        return;
    }
    auto member = group->firstMember;
    for (int32_t k = 0; k < group->memberCount; ++k, ++member) {
        platform::AppendLine(LstMembers, FullPath(member->directory(), member->name()));
    }
    platform::SelectLine(LstMembers, 0);
}

}  // namespace

void RefreshViews(AppState& state, int32_t mask) {
    if (mask == 0) {
        ResetViews();
    }
    if (mask & RefreshAllFiles) {
        RefreshAllFilesView(state);
    }
    if (mask & RefreshGroups) {
        RefreshGroupsView(state);
    }
    if (mask & RefreshMembers) {
        RefreshMembersView(state);
    }
}

}  // namespace twinrake
