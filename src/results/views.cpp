#include "results/views.h"

#include <charconv>
#include <string>
#include <utility>

#include "app/controls.h"
#include "platform/window.h"

namespace twinrake {

std::string CaptionWithCount(const char* caption, int32_t count) {
    return std::string(caption) + " (" + std::to_string(count) + ")";
}

void SetGroupCaption(const EngineState& state) {
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

// The lists are filled in one batch each: a list of many lines then takes its storage once
// and redraws once, instead of once per line.
// How many lines are made between two moments in which the window keeps itself alive: a
// list of a million lines takes a while to make.
constexpr uint32_t kLinesBetweenBreaths = 8192;

// The characters of `value` written in decimal, its sign included.
size_t DecimalLength(int64_t value) {
    size_t length = value < 0 ? 2 : 1;
    for (uint64_t rest = value < 0 ? 0 - static_cast<uint64_t>(value)
                                   : static_cast<uint64_t>(value);
         rest >= 10; rest /= 10) {
        ++length;
    }
    return length;
}

void RefreshAllFilesView(const EngineState& state) {
    platform::ClearLines(LstAllFiles);
    platform::LineBatch lines;
    // Room for every line at once: grown as it is filled, a million lines' text would stand
    // in memory up to three times over while it is copied to larger room and trimmed.
    size_t length = 0;
    for (const FileEntry& entry : state.fileCatalogue) {
        length += entry.name().size() + DecimalLength(entry.size) + 4;  // " (", ")", the end
    }
    lines.text.reserve(length);
    uint32_t made = 0;
    char digits[24];
    for (const FileEntry& entry : state.fileCatalogue) {
        lines.text.append(entry.name());
        lines.text.append(" (");
        lines.text.append(digits, std::to_chars(digits, digits + sizeof digits, entry.size).ptr);
        lines.text.push_back(')');
        lines.EndLine();
        if (++made % kLinesBetweenBreaths == 0) {
            state.progress->StillRunning();
        }
    }
    platform::AppendLines(LstAllFiles, std::move(lines));
    platform::SetControlText(LblAllFiles,
                             CaptionWithCount(kAllFilesCaption, state.fileCatalogue.Count()));
}

void RefreshGroupsView(EngineState& state) {
    if (state.groupList.empty()) {
        // The earlier lines stay above it, and the caption keeps its count.
        platform::AppendLine(LstGroups, kNoDuplicatesLine);
        return;
    }
    platform::ClearLines(LstGroups);
    platform::LineBatch lines;
    uint32_t made = 0;
    for (const DuplicateGroup& group : state.groupList) {
        if (++made % kLinesBetweenBreaths == 0) {
            state.progress->StillRunning();
        }
        lines.text.append(std::to_string(group.memberCount));
        lines.text.append(": ");
        auto member = group.firstMember;
        for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
            if (k > 0) {
                lines.text.append(", ");
            }
            lines.text.append(member->name());
        }
        lines.EndLine();
    }
    platform::AppendLines(LstGroups, std::move(lines));
    SetGroupCaption(state);
}

void RefreshMembersView(EngineState& state) {
    platform::ClearLines(LstMembers);
    if (state.groupList.empty()) {
        return;
    }
    const DuplicateGroup* group = SelectGroup(state.groupList, platform::SelectedIndex(LstGroups));
    if (group == nullptr) {
        return;
    }
    platform::LineBatch lines;
    auto member = group->firstMember;
    for (int32_t k = 0; k < group->memberCount; ++k, ++member) {
        lines.Add(FullPath(member->directory(), member->name()));
    }
    platform::AppendLines(LstMembers, std::move(lines));
    platform::SelectLine(LstMembers, 0);
}

}  // namespace

void RefreshViews(EngineState& state, int32_t mask) {
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
