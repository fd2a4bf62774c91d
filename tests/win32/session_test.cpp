// A whole session of the real program: RunTwinrake with the Win32 window and file system,
// driven by clicks that the loop takes like a user's, the picker answered through the test
// hook and the credits box dismissed when it shows.
#include <windows.h>
// windows.h first: commctrl.h builds on it.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/controls.h"
#include "platform/win32/win32_backend.h"
#include "test_support.h"

namespace {

using namespace twinrake;
using wintest::Control;
using wintest::Exists;
using wintest::ListLines;
using wintest::WindowText;
using Lines = std::vector<std::string>;

void Click(int32_t identifier) {
    wintest::PostClick(Control(identifier), 10, 8);
}

LRESULT Ask(int32_t control, UINT message) {
    return SendMessageA(Control(control), message, 0, 0);
}

int FindLine(const Lines& lines, const std::string& prefix) {
    auto found = std::find_if(lines.begin(), lines.end(),
                              [&](const std::string& line) { return line.starts_with(prefix); });
    return found == lines.end() ? -1 : static_cast<int>(found - lines.begin());
}

TEST(SessionTest, AddSearchSelectDeleteMarkedDeleteGroupAndClose) {
    wintest::ScratchFolder scratch;
    std::string bigA = wintest::Pattern(5000, 1);
    wintest::WriteBytes(scratch / "a1.dat", bigA);
    wintest::WriteBytes(scratch / "a2.dat", bigA);
    wintest::MakeFolder(scratch / "sub");
    wintest::WriteBytes(scratch / "sub\\a3.dat", bigA);
    wintest::WriteBytes(scratch / "b1.txt", "same bytes");
    wintest::WriteBytes(scratch / "b2.txt", "same bytes");
    wintest::WriteBytes(scratch / "c.txt", "other byte");
    Lines pickerCalls;
    platform::win32::SetPickerAnswer(
        [&](const std::string& title, const char* start, std::string& converted) {
            pickerCalls.push_back(title + "|" + start);
            converted = scratch.Path();
            return true;
        });

    int groupA = -1;
    Lines membersA;
    wintest::Script script;
    script.Then([] { Click(BtnAddFolder); });
    script.Then([] {
        EXPECT_EQ(Ask(LstAllFiles, LB_GETCOUNT), 6);
        EXPECT_EQ(WindowText(Control(LblAllFiles)), "Alle Dateien (6)");
        Click(BtnSearch);
    });
    script.Then([&] {
        Lines groups = ListLines(Control(LstGroups));
        ASSERT_EQ(groups.size(), 2u);
        groupA = FindLine(groups, "3: ");
        ASSERT_GE(groupA, 0);
        EXPECT_GE(FindLine(groups, "2: "), 0);  // b1 and b2, not c of the same size
        for (const char* name : {"a1.dat", "a2.dat", "a3.dat"}) {
            EXPECT_NE(groups[groupA].find(name), std::string::npos) << name;
        }
        EXPECT_EQ(WindowText(Control(LblGroups)), "Dateien mit gleichem Inhalt (2)");
        EXPECT_EQ(Ask(LstGroups, LB_GETCURSEL), LB_ERR);
        wintest::PostListClick(Control(LstGroups), groupA);
    });
    script.Then([&] {
        EXPECT_EQ(Ask(LstGroups, LB_GETCURSEL), groupA);
        membersA = ListLines(Control(LstMembers));
        ASSERT_EQ(membersA.size(), 3u);
        for (const std::string& member : membersA) {
            EXPECT_EQ(member.rfind(scratch.Path() + "\\", 0), 0u) << member;
            EXPECT_TRUE(Exists(member)) << member;
        }
        EXPECT_EQ(Ask(LstMembers, LB_GETCURSEL), 0);
        wintest::PostListClick(Control(LstMembers), 1);  // mark the middle file
    });
    script.Then([] { Click(BtnDeleteMarked); });
    script.Then([&] {
        ASSERT_EQ(membersA.size(), 3u);
        EXPECT_TRUE(Exists(membersA[0]));
        EXPECT_FALSE(Exists(membersA[1]));
        EXPECT_TRUE(Exists(membersA[2]));
        EXPECT_EQ(ListLines(Control(LstMembers)), (Lines{membersA[0], membersA[2]}));
        EXPECT_EQ(Ask(LstMembers, LB_GETCURSEL), 1);
        EXPECT_EQ(Ask(LstGroups, LB_GETCOUNT), 2);  // the group keeps its old line
        Click(BtnDeleteGroup);
    });
    script.Then([&] {
        Lines groups = ListLines(Control(LstGroups));
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].rfind("2: ", 0), 0u);
        EXPECT_EQ(Ask(LstGroups, LB_GETCURSEL), 0);
        EXPECT_EQ(Ask(LstMembers, LB_GETCOUNT), 2);
        EXPECT_EQ(WindowText(Control(LblGroups)), "Dateien mit gleichem Inhalt (1)");
        EXPECT_EQ(Ask(LstAllFiles, LB_GETCOUNT), 6);  // the catalogue stays as it was
        PostMessageA(wintest::MainWindow(), WM_CLOSE, 0, 0);
    });

    bool creditsAfterWindow = false;
    wintest::DialogWatcher watcher([&](HWND box) {
        creditsAfterWindow = wintest::MainWindow() == nullptr && WindowText(box) == "Credits";
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    script.Start();
    EXPECT_EQ(RunTwinrake(), 0);
    platform::win32::SetPickerAnswer(nullptr);
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(pickerCalls, Lines{"Pfad hinzuf\xFCgen...|"});
    EXPECT_TRUE(creditsAfterWindow);
    // Exactly the three files of the first group are gone.
    for (const char* name : {"b1.txt", "b2.txt", "c.txt"}) {
        EXPECT_TRUE(Exists(scratch / name)) << name;
    }
    for (const char* name : {"a1.dat", "a2.dat", "sub\\a3.dat"}) {
        EXPECT_FALSE(Exists(scratch / name)) << name;
    }
}

}  // namespace
