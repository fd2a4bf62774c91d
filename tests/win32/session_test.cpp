// Whole sessions of the real program: RunTwinrake with the Win32 window and file system,
// driven by clicks that the loop takes like a user's, the picker answered through the test
// hook and the credits box dismissed when it shows.
#include <windows.h>
// windows.h first: commctrl.h builds on it.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/controls.h"
#include "platform/files.h"
#include "platform/win32/win32_backend.h"
#include "test_support.h"

namespace {

using namespace twinrake;
using wintest::Control;
using wintest::Exists;
using wintest::ListLines;
using wintest::WindowText;

void Click(int32_t identifier) {
    wintest::PostClick(Control(identifier), 10, 8);
}

int CountLines(HWND list) {
    return static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
}

bool Enabled(int32_t identifier) {
    return IsWindowEnabled(Control(identifier)) != FALSE;
}

int FindLine(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(prefix, 0) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Records every position a progress bar is set to.
std::vector<int> overallPositions;
std::vector<int> filePositions;
WNDPROC originalBarProc = nullptr;

LRESULT CALLBACK RecordingBar(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS) {
        (GetDlgCtrlID(bar) == PrgOverall ? overallPositions : filePositions)
            .push_back(static_cast<int>(wParam));
    }
    return CallWindowProcA(originalBarProc, bar, message, wParam, lParam);
}

void RecordBars() {
    overallPositions.clear();
    filePositions.clear();
    for (int32_t bar : {PrgOverall, PrgFile}) {
        originalBarProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            Control(bar), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingBar)));
    }
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::win32::SetPickerAnswer(
            [this](const std::string& title, const char* start, std::string& converted) {
                pickerTitles_.push_back(title);
                pickerStarts_.push_back(start);
                if (answers_.empty()) {
                    return false;
                }
                converted = answers_.front();
                answers_.pop_front();
                return !converted.empty();  // an empty answer is a cancel
            });
    }
    void TearDown() override { platform::win32::SetPickerAnswer(nullptr); }

    // Runs the program to its end; the credits box is answered with OK.
    int Run() {
        wintest::DialogWatcher watcher([this](HWND box) {
            creditsCaption_ = WindowText(box);
            std::vector<std::string> texts = wintest::ChildTexts(box);
            for (const std::string& text : texts) {
                if (text.rfind(".-", 0) == 0) {
                    creditsText_ = text;
                }
            }
            windowGoneAtCredits_ = wintest::MainWindow() == nullptr;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        });
        script_.Start();
        return RunTwinrake();
    }

    wintest::Script script_;
    std::deque<std::string> answers_;
    std::vector<std::string> pickerTitles_;
    std::vector<std::string> pickerStarts_;
    std::string creditsCaption_;
    std::string creditsText_;
    bool windowGoneAtCredits_ = false;
};

TEST_F(SessionTest, AddSearchSelectDeleteAndClose) {
    wintest::ScratchFolder scratch;
    std::string bigA = wintest::Pattern(5000, 1);
    wintest::WriteBytes(scratch / "a1.dat", bigA);
    wintest::WriteBytes(scratch / "a2.dat", bigA);
    wintest::MakeFolder(scratch / "sub");
    wintest::WriteBytes(scratch / "sub\\a3.dat", bigA);
    wintest::WriteBytes(scratch / "b1.txt", "same bytes");
    wintest::WriteBytes(scratch / "b2.txt", "same bytes");
    wintest::WriteBytes(scratch / "c.txt", "other byte");  // same size as the b files
    wintest::WriteBytes(scratch / "e1", "");
    wintest::WriteBytes(scratch / "e2", "");
    std::string folder = scratch.Path() + "\\";
    answers_.push_back(folder);

    int groupA = -1;
    std::vector<std::string> membersA;
    script_.Then([] {
        ASSERT_NE(wintest::MainWindow(), nullptr);
        Click(BtnAddFolder);
    });
    script_.Then([&] {
        // Before any folder the first pass disabled these.
        EXPECT_EQ(CountLines(Control(LstAllFiles)), 8);
        EXPECT_EQ(WindowText(Control(LblAllFiles)), "Alle Dateien (8)");
        EXPECT_FALSE(Enabled(BtnSearch));  // the rules run before the command
        RecordBars();
        Click(BtnSearch);
    });
    script_.Then([&] {
        EXPECT_TRUE(Enabled(BtnSearch));
        std::vector<std::string> groups = ListLines(Control(LstGroups));
        ASSERT_EQ(groups.size(), 2u);
        groupA = FindLine(groups, "3: ");
        int groupB = FindLine(groups, "2: ");
        ASSERT_GE(groupA, 0);
        ASSERT_GE(groupB, 0);
        for (const char* name : {"a1.dat", "a2.dat", "a3.dat"}) {
            EXPECT_NE(groups[groupA].find(name), std::string::npos) << name;
        }
        EXPECT_NE(groups[groupB].find("b1.txt"), std::string::npos);
        EXPECT_NE(groups[groupB].find("b2.txt"), std::string::npos);
        EXPECT_EQ(WindowText(Control(LblGroups)), "Dateien mit gleichem Inhalt (2)");
        EXPECT_EQ(SendMessageA(Control(LstGroups), LB_GETCURSEL, 0, 0), LB_ERR);
        // The bars were set through the window system during the search, PrgOverall up to
        // 100, and both show 0 at its end.
        EXPECT_NE(std::find(overallPositions.begin(), overallPositions.end(), 100),
                  overallPositions.end())
            << ::testing::PrintToString(overallPositions);
        ASSERT_FALSE(overallPositions.empty());
        EXPECT_EQ(overallPositions.back(), 0);
        ASSERT_FALSE(filePositions.empty());
        EXPECT_EQ(filePositions.back(), 0);
        EXPECT_EQ(SendMessageA(Control(PrgOverall), PBM_GETPOS, 0, 0), 0);
        EXPECT_EQ(SendMessageA(Control(PrgFile), PBM_GETPOS, 0, 0), 0);
        wintest::PostListClick(Control(LstGroups), groupA);
    });
    script_.Then([&] {
        EXPECT_EQ(SendMessageA(Control(LstGroups), LB_GETCURSEL, 0, 0), groupA);
        membersA = ListLines(Control(LstMembers));
        ASSERT_EQ(membersA.size(), 3u);
        for (const std::string& member : membersA) {
            EXPECT_EQ(member.rfind(scratch.Path() + "\\", 0), 0u) << member;
            EXPECT_TRUE(Exists(member)) << member;
        }
        EXPECT_EQ(SendMessageA(Control(LstMembers), LB_GETCURSEL, 0, 0), 0);
        wintest::PostListClick(Control(LstMembers), 1);  // mark the middle file
    });
    script_.Then([&] {
        EXPECT_TRUE(Enabled(BtnDeleteMarked));
        EXPECT_EQ(SendMessageA(Control(LstMembers), LB_GETCURSEL, 0, 0), 1);
        Click(BtnDeleteMarked);
    });
    script_.Then([&] {
        ASSERT_EQ(membersA.size(), 3u);
        EXPECT_TRUE(Exists(membersA[0]));
        EXPECT_FALSE(Exists(membersA[1]));
        EXPECT_TRUE(Exists(membersA[2]));
        EXPECT_EQ(ListLines(Control(LstMembers)),
                  (std::vector<std::string>{membersA[0], membersA[2]}));
        EXPECT_EQ(SendMessageA(Control(LstMembers), LB_GETCURSEL, 0, 0), 1);
        EXPECT_EQ(CountLines(Control(LstGroups)), 2);  // the group keeps its old line
        EXPECT_EQ(WindowText(Control(LblGroups)), "Dateien mit gleichem Inhalt (2)");
        Click(BtnDeleteGroup);
    });
    script_.Then([&] {
        EXPECT_FALSE(Exists(membersA[0]));
        EXPECT_FALSE(Exists(membersA[2]));
        std::vector<std::string> groups = ListLines(Control(LstGroups));
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].rfind("2: ", 0), 0u);
        EXPECT_EQ(SendMessageA(Control(LstGroups), LB_GETCURSEL, 0, 0), 0);
        EXPECT_EQ(ListLines(Control(LstMembers)).size(), 2u);
        EXPECT_EQ(WindowText(Control(LblGroups)), "Dateien mit gleichem Inhalt (1)");
        // The catalogue view is untouched by deletions.
        EXPECT_EQ(CountLines(Control(LstAllFiles)), 8);
        PostMessageA(wintest::MainWindow(), WM_CLOSE, 0, 0);
    });

    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(script_.Executed(), script_.Total());
    EXPECT_EQ(pickerTitles_, std::vector<std::string>{"Pfad hinzuf\xFCgen..."});
    EXPECT_EQ(pickerStarts_, std::vector<std::string>{""});
    EXPECT_EQ(creditsCaption_, "Credits");
    EXPECT_EQ(creditsText_.rfind(".-\xB4\xAF`- Twinrake -\xB4\xAF`-.\n\n", 0), 0u) << creditsText_;
    EXPECT_TRUE(windowGoneAtCredits_);
    EXPECT_EQ(wintest::MainWindow(), nullptr);
    // Exactly the three files of the first group are gone.
    for (const char* name : {"b1.txt", "b2.txt", "c.txt", "e1", "e2"}) {
        EXPECT_TRUE(Exists(scratch / name)) << name;
    }
    for (const char* name : {"a1.dat", "a2.dat", "sub\\a3.dat"}) {
        EXPECT_FALSE(Exists(scratch / name)) << name;
    }
}

TEST_F(SessionTest, RepeatedPicksCancelResetAndAFileThatCannotBeDeleted) {
    wintest::ScratchFolder scratch;
    wintest::MakeFolder(scratch / "A");
    wintest::MakeFolder(scratch / "B");
    wintest::WriteBytes(scratch / "A\\x.txt", "twin");
    wintest::WriteBytes(scratch / "B\\y.txt", "twin");
    std::string a = scratch / "A\\";
    std::string b = scratch / "B\\";
    answers_ = {a, a, b, "", a};
    HANDLE held = INVALID_HANDLE_VALUE;

    script_.Then([] { Click(BtnAddFolder); });
    script_.Then([] {
        EXPECT_EQ(CountLines(Control(LstAllFiles)), 1);
        Click(BtnAddFolder);  // the same folder again: nothing
    });
    script_.Then([] {
        EXPECT_EQ(CountLines(Control(LstAllFiles)), 1);
        Click(BtnAddFolder);  // B
    });
    script_.Then([] {
        EXPECT_EQ(CountLines(Control(LstAllFiles)), 2);
        Click(BtnAddFolder);  // cancelled
    });
    script_.Then([] {
        EXPECT_EQ(CountLines(Control(LstAllFiles)), 2);
        Click(BtnAddFolder);  // A after B: catalogued a second time
    });
    script_.Then([] {
        EXPECT_EQ(CountLines(Control(LstAllFiles)), 3);
        Click(BtnSearch);
    });
    script_.Then([&] {
        // x.txt twice in the catalogue is one physical file: the group is x and y.
        std::vector<std::string> groups = ListLines(Control(LstGroups));
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0], "2: x.txt, y.txt");
        wintest::PostListClick(Control(LstGroups), 0);
    });
    script_.Then([&] {
        EXPECT_EQ(ListLines(Control(LstMembers)),
                  (std::vector<std::string>{scratch / "A\\x.txt", scratch / "B\\y.txt"}));
        held = CreateFileA((scratch / "A\\x.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(held, INVALID_HANDLE_VALUE);
        Click(BtnDeleteMarked);  // x.txt is marked and cannot be deleted now
    });
    script_.Then([&] {
        EXPECT_TRUE(Exists(scratch / "A\\x.txt"));
        EXPECT_TRUE(Exists(scratch / "B\\y.txt"));
        EXPECT_EQ(CountLines(Control(LstGroups)), 0);  // removed all the same
        EXPECT_EQ(CountLines(Control(LstMembers)), 0);
        EXPECT_EQ(WindowText(Control(LblGroups)), "Dateien mit gleichem Inhalt (0)");
        Click(BtnReset);
    });
    script_.Then([&] {
        EXPECT_EQ(CountLines(Control(LstAllFiles)), 0);
        EXPECT_EQ(WindowText(Control(LblAllFiles)), "Alle Dateien");
        Click(BtnAddFolder);  // the picker starts nowhere after a reset; answered by cancel
    });
    script_.Then([&] {
        for (int32_t control : {BtnSearch, BtnReset, LstMembers, BtnDeleteMarked, BtnDeleteGroup}) {
            EXPECT_FALSE(Enabled(control)) << control;
        }
        EXPECT_TRUE(Enabled(BtnAddFolder));
        EXPECT_TRUE(Enabled(LstAllFiles));
        SendMessageA(wintest::MainWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
    });

    EXPECT_EQ(Run(), 0);
    if (held != INVALID_HANDLE_VALUE) {
        CloseHandle(held);
    }
    EXPECT_EQ(script_.Executed(), script_.Total());
    EXPECT_EQ(pickerStarts_, (std::vector<std::string>{"", scratch / "A", scratch / "A",
                                                       scratch / "B", scratch / "B", ""}));
    EXPECT_EQ(creditsCaption_, "Credits");
}

}  // namespace
