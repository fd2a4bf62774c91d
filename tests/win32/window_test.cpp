// The Win32 window and its controls under a real window system: exact creation arguments,
// layout, captions as Windows-1252 bytes, the Tab cycle, events, lists, progress, the picker
// and the message box.
#include <windows.h>
// windows.h first: commctrl.h builds on it.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/controls.h"
#include "platform/win32/win32_backend.h"
#include "platform/window.h"
#include "test_support.h"

namespace {

using namespace twinrake;
using wintest::Control;
using wintest::MainWindow;
using wintest::WindowText;

struct Expected {
    int32_t identifier;
    const char* className;
    DWORD style;
    DWORD extendedStyle;
    int x, y, width, height;
    const char* caption;  // null: created without a window text
};

// The window as the program must build it, written out independently of the control table.
const Expected kExpected[] = {
    {0, "BUTTON", 0x50030000, 0, 0, 0, 195, 24, "Pfad hinzuf\xFCgen"},
    {1, "STATIC", 0x50020000, 0, 0, 25, 195, 20, "Alle Dateien"},
    {2, "LISTBOX", 0x50330141, 0x200, 0, 45, 195, 225, nullptr},
    {8, "BUTTON", 0x50030000, 0, 0, 275, 195, 20,
     "Zur\xFC"
     "cksetzen"},
    {9, "BUTTON", 0x50030000, 0, 200, 0, 368, 24, "Doppelte Dateien suchen"},
    {3, "STATIC", 0x50020000, 0, 200, 25, 368, 20, "Dateien mit gleichem Inhalt"},
    {4, "LISTBOX", 0x50330141, 0x200, 200, 45, 368, 100, nullptr},
    {5, "STATIC", 0x50020000, 0, 200, 150, 398, 20, "Doppelte Dateien:"},
    {6, "LISTBOX", 0x50330141, 0x200, 200, 170, 398, 75, nullptr},
    {7, "BUTTON", 0x50030000, 0, 200, 250, 398, 20, "L\xF6sche markierte Datei"},
    {10, "BUTTON", 0x50030000, 0, 200, 275, 398, 20, "L\xF6sche alle Dateien (mit Original)"},
    {100, "msctls_progress32", 0x50000005, 0, 573, 75, 25, 70, nullptr},
    {101, "msctls_progress32", 0x50000005, 0, 573, 45, 25, 25, nullptr},
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recorder_ = std::make_unique<wintest::CreationRecorder>();
        ASSERT_TRUE(StartUp(state_));
        main_ = MainWindow();
        ASSERT_NE(main_, nullptr);
        Drain();
    }
    void TearDown() override {
        platform::CloseMainWindow(kMainWindowNumber);
        recorder_.reset();
    }
    // Takes every message already queued (paints, activation) so that tests start idle.
    static void Drain() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    // Posts a message no window handles and waits until the wait has taken it, returning
    // every value the wait gave on the way.
    static std::vector<int32_t> WaitThrough() {
        PostThreadMessageA(GetCurrentThreadId(), WM_APP + 0x33, 0, 0);
        std::vector<int32_t> values;
        for (;;) {
            int32_t value = platform::WaitForEvent();
            if (value == WM_APP + 0x33) {
                return values;
            }
            values.push_back(value);
        }
    }
    AppState state_;
    HWND main_ = nullptr;
    std::unique_ptr<wintest::CreationRecorder> recorder_;
};

TEST_F(WindowTest, ClientAreaIsExactly600By300AndTheWindowIsCentredByTheFormula) {
    RECT client;
    ASSERT_TRUE(GetClientRect(main_, &client));
    EXPECT_EQ(client.right - client.left, 600);
    EXPECT_EQ(client.bottom - client.top, 300);

    RECT outer{0, 0, 600, 300};
    AdjustWindowRect(&outer, 0x10C80000, FALSE);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) >> 1) - (width >> 1);
    int y = (GetSystemMetrics(SM_CYSCREEN) >> 1) - (height >> 1);
    RECT placed;
    ASSERT_TRUE(GetWindowRect(main_, &placed));
    EXPECT_EQ(placed.left, x);
    EXPECT_EQ(placed.top, y);
    EXPECT_EQ(placed.right - placed.left, width);
    EXPECT_EQ(placed.bottom - placed.top, height);
    // The client area sits inside the frame where the frame's sizes say.
    POINT origin{0, 0};
    ClientToScreen(main_, &origin);
    EXPECT_EQ(origin.x, x - outer.left);
    EXPECT_EQ(origin.y, y - outer.top);
}

TEST_F(WindowTest, MainWindowIsMadeWithItsClassStyleAndTitle) {
    const wintest::CreatedWindow* created = recorder_->Find(main_);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->className, "WindowClass_0");
    EXPECT_EQ(created->style, 0x10C80000u);
    // The window system adds WS_EX_WINDOWEDGE to captioned windows on its own.
    EXPECT_EQ(created->extendedStyle & ~DWORD{WS_EX_WINDOWEDGE}, 0u);
    EXPECT_EQ(created->parent, nullptr);
    EXPECT_EQ(created->menu, 0);
    EXPECT_EQ(WindowText(main_), "Twinrake");
    EXPECT_EQ(GetMenu(main_), nullptr);
    LONG style = GetWindowLongA(main_, GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_TRUE(IsWindowVisible(main_));

    WNDCLASSA windowClass{};
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "WindowClass_0", &windowClass));
    EXPECT_EQ(windowClass.style, 0u);
    EXPECT_EQ(windowClass.cbClsExtra, 0);
    EXPECT_EQ(windowClass.cbWndExtra, 0);
    EXPECT_EQ(windowClass.lpszMenuName, nullptr);
    EXPECT_EQ(windowClass.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    // Built without resources: icon 1 of the module is none, so the default icon shows.
    EXPECT_EQ(windowClass.hIcon, LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1)));
    LOGBRUSH brush{};
    ASSERT_EQ(GetObjectA(windowClass.hbrBackground, sizeof brush, &brush), int{sizeof brush});
    EXPECT_EQ(brush.lbStyle, UINT{BS_SOLID});
    EXPECT_EQ(brush.lbColor, GetSysColor(COLOR_BTNFACE));
}

TEST_F(WindowTest, ControlsAreChildrenInCreationOrder) {
    std::vector<int32_t> order;
    for (HWND child = GetWindow(main_, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        order.push_back(GetDlgCtrlID(child));
    }
    std::vector<int32_t> wanted{0, 1, 2, 8, 9, 3, 4, 5, 6, 7, 10, 100, 101};
    EXPECT_EQ(order, wanted);
    std::vector<int32_t> created;
    for (const wintest::CreatedWindow& window : recorder_->Windows()) {
        if (window.parent == main_) {
            created.push_back(static_cast<int32_t>(window.menu));
        }
    }
    EXPECT_EQ(created, wanted);
}

TEST_F(WindowTest, EveryControlHasItsClassStylesIdentifierBoxCaptionAndFont) {
    HGDIOBJ font = GetStockObject(ANSI_VAR_FONT);
    for (const Expected& wanted : kExpected) {
        SCOPED_TRACE(wanted.identifier);
        HWND control = Control(wanted.identifier);
        ASSERT_NE(control, nullptr);
        const wintest::CreatedWindow* created = recorder_->Find(control);
        ASSERT_NE(created, nullptr);
        EXPECT_EQ(created->className, wanted.className);
        EXPECT_EQ(created->style, wanted.style);
        EXPECT_EQ(created->extendedStyle, wanted.extendedStyle);
        EXPECT_EQ(GetWindowLongA(control, GWL_EXSTYLE), static_cast<LONG>(wanted.extendedStyle));
        EXPECT_EQ(created->menu, wanted.identifier);
        EXPECT_EQ(GetDlgCtrlID(control), wanted.identifier);
        EXPECT_EQ(GetParent(control), main_);

        RECT box;
        GetWindowRect(control, &box);
        MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&box), 2);
        EXPECT_EQ(box.left, wanted.x);
        EXPECT_EQ(box.top, wanted.y);
        EXPECT_EQ(box.right - box.left, wanted.width);
        EXPECT_EQ(box.bottom - box.top, wanted.height);

        EXPECT_EQ(created->hasName, wanted.caption != nullptr);
        EXPECT_EQ(WindowText(control), wanted.caption == nullptr ? "" : wanted.caption);
        EXPECT_TRUE(IsWindowEnabled(control));
        EXPECT_TRUE(IsWindowVisible(control));

        HGDIOBJ used = reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0));
        if (std::strcmp(wanted.className, "msctls_progress32") == 0) {
            EXPECT_EQ(used, nullptr);
            PBRANGE range{};
            SendMessageA(control, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
            EXPECT_EQ(range.iLow, 0);
            EXPECT_EQ(range.iHigh, 100);
            EXPECT_EQ(SendMessageA(control, PBM_GETPOS, 0, 0), 0);
        } else {
            EXPECT_EQ(used, font);
        }
        if (std::strcmp(wanted.className, "LISTBOX") == 0) {
            EXPECT_EQ(SendMessageA(control, LB_GETCOUNT, 0, 0), 0);
            EXPECT_EQ(SendMessageA(control, LB_GETHORIZONTALEXTENT, 0, 0), 0);
        }
    }
}

TEST_F(WindowTest, TheCaptionsAreWindows1252Bytes) {
    std::string add = WindowText(Control(BtnAddFolder));
    ASSERT_EQ(add.size(), 15u);
    EXPECT_EQ(static_cast<unsigned char>(add[11]), 0xFC);
    std::string deleteMarked = WindowText(Control(BtnDeleteMarked));
    EXPECT_EQ(static_cast<unsigned char>(deleteMarked[1]), 0xF6);
    EXPECT_EQ(static_cast<unsigned char>(std::string(kPickerTitle)[11]), 0xFC);
}

TEST_F(WindowTest, WindowIsActiveAfterStart) {
    EXPECT_EQ(GetActiveWindow(), main_);
}

std::vector<int32_t> TabWalk(int steps, bool shift) {
    std::vector<int32_t> visited;
    for (int i = 0; i < steps; ++i) {
        wintest::PostTab(shift);
        platform::WaitForEvent();
        HWND focus = GetFocus();
        visited.push_back(focus == nullptr ? -999 : GetDlgCtrlID(focus));
    }
    wintest::PostTab(false);  // leaves Shift released for what follows
    MSG message;
    PeekMessageA(&message, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE);
    return visited;
}

TEST_F(WindowTest, TabWalksTheTabStopsInCreationOrderAndWraps) {
    SetFocus(main_);  // no control has the focus
    std::vector<int32_t> wanted{0, 2, 8, 9, 4, 6, 7, 10, 0, 2};
    EXPECT_EQ(TabWalk(10, false), wanted);
}

TEST_F(WindowTest, ShiftTabWalksBackwardsAndWraps) {
    SetFocus(main_);
    std::vector<int32_t> wanted{10, 7, 6, 4, 9, 8, 2, 0, 10};
    EXPECT_EQ(TabWalk(9, true), wanted);
}

TEST_F(WindowTest, TabSkipsDisabledControls) {
    platform::EnableControl(BtnSearch, true);
    platform::EnableControl(LstGroups, true);
    platform::EnableControl(LstMembers, true);
    SetFocus(Control(BtnReset));
    std::vector<int32_t> forward{7, 10, 0, 2, 8};
    EXPECT_EQ(TabWalk(5, false), forward);
    std::vector<int32_t> backward{2, 0, 10, 7, 8};
    EXPECT_EQ(TabWalk(5, true), backward);
}

TEST_F(WindowTest, FromAControlThatIsNoTabStopTabStaysAndShiftTabGoesToTheLast) {
    HWND label = Control(LblGroups);
    SetFocus(label);
    ASSERT_EQ(GetFocus(), label);
    EXPECT_EQ(TabWalk(1, false), std::vector<int32_t>{LblGroups});
    SetFocus(label);
    EXPECT_EQ(TabWalk(1, true), std::vector<int32_t>{BtnDeleteGroup});
}

TEST_F(WindowTest, WithoutAnyFocusTabTakesTheFirstAndShiftTabTheLastCandidate) {
    platform::EnableControl(BtnAddFolder, true);
    platform::EnableControl(BtnDeleteGroup, true);
    SetFocus(nullptr);
    ASSERT_EQ(GetFocus(), nullptr);
    EXPECT_EQ(TabWalk(1, false), std::vector<int32_t>{LstAllFiles});
    SetFocus(nullptr);
    EXPECT_EQ(TabWalk(1, true), std::vector<int32_t>{BtnDeleteMarked});
}

TEST_F(WindowTest, TabRaisesNoEvent) {
    SetFocus(Control(BtnAddFolder));
    wintest::PostTab(false);
    int32_t value = platform::WaitForEvent();
    EXPECT_NE(value, platform::kEventControl);
    EXPECT_NE(value, platform::kEventClose);
    EXPECT_EQ(GetFocus(), Control(LstAllFiles));
}

TEST_F(WindowTest, AButtonPressIsAControlEventOfThatButton) {
    wintest::PostClick(Control(BtnSearch), 20, 10);
    EXPECT_EQ(platform::WaitForEvent(), WM_LBUTTONDOWN);
    EXPECT_EQ(platform::WaitForEvent(), platform::kEventControl);
    EXPECT_EQ(platform::ControlIdentifier(), BtnSearch);
    wintest::PostClick(Control(BtnDeleteGroup), 20, 10);
    std::vector<int32_t> values = WaitThrough();
    EXPECT_EQ(values, (std::vector<int32_t>{WM_LBUTTONDOWN, platform::kEventControl}));
    EXPECT_EQ(platform::ControlIdentifier(), BtnDeleteGroup);
}

TEST_F(WindowTest, LabelsAndProgressBarsRaiseNothing) {
    wintest::PostClick(Control(LblAllFiles), 5, 5);
    wintest::PostClick(Control(PrgOverall), 5, 5);
    for (int32_t value : WaitThrough()) {
        EXPECT_NE(value, platform::kEventControl);
    }
}

TEST_F(WindowTest, ListSelectionChangeAndDoubleClickAreControlEvents) {
    for (const char* line : {"one", "two", "three"}) {
        platform::AppendLine(LstGroups, line);
    }
    wintest::PostListClick(Control(LstGroups), 1);
    std::vector<int32_t> values = WaitThrough();
    EXPECT_NE(std::find(values.begin(), values.end(), platform::kEventControl), values.end());
    EXPECT_EQ(platform::ControlIdentifier(), LstGroups);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 1);

    wintest::PostDoubleClick(Control(LstGroups), 10, 3);
    values = WaitThrough();
    EXPECT_GE(std::count(values.begin(), values.end(), platform::kEventControl), 1);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 0);
}

TEST_F(WindowTest, SelectionsMadeByTheProgramRaiseNoEvent) {
    platform::AppendLine(LstMembers, "a");
    platform::AppendLine(LstMembers, "b");
    platform::SelectLine(LstMembers, 1);
    platform::SelectLine(LstMembers, -1);
    platform::ClearLines(LstMembers);
    EXPECT_EQ(WaitThrough(), std::vector<int32_t>{});
}

TEST_F(WindowTest, CloseIsAnsweredWithoutDestroyingTheWindow) {
    PostMessageA(main_, WM_CLOSE, 0, 0);
    EXPECT_EQ(platform::WaitForEvent(), platform::kEventClose);
    EXPECT_TRUE(IsWindow(main_));
    EXPECT_TRUE(IsWindowVisible(main_));
    // The close box of the caption goes the same way.
    PostMessageA(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(platform::WaitForEvent(), platform::kEventClose);
    EXPECT_TRUE(IsWindow(main_));
}

TEST_F(WindowTest, OtherMessagesGiveTheirNumberAndNeverPoseAsEvents) {
    PostThreadMessageA(GetCurrentThreadId(), WM_APP + 7, 0, 0);
    EXPECT_EQ(platform::WaitForEvent(), WM_APP + 7);
    PostThreadMessageA(GetCurrentThreadId(), 13100, 0, 0);
    EXPECT_NE(platform::WaitForEvent(), platform::kEventControl);
    PostThreadMessageA(GetCurrentThreadId(), 16, 0, 0);
    EXPECT_NE(platform::WaitForEvent(), platform::kEventClose);
    // An event does not linger into the next wait.
    wintest::PostClick(Control(BtnReset), 5, 5);
    platform::WaitForEvent();
    EXPECT_EQ(platform::WaitForEvent(), platform::kEventControl);
    PostMessageA(main_, WM_MOUSEMOVE, 0, 0);
    EXPECT_EQ(platform::WaitForEvent(), WM_MOUSEMOVE);
}

TEST_F(WindowTest, ListLinesKeepTheirOrderAndSelectionRules) {
    platform::AppendLine(LstAllFiles, "zebra (3)");
    platform::AppendLine(LstAllFiles, "apfel (1)");
    platform::AppendLine(LstAllFiles,
                         "M\xFC"
                         "ll (2)");
    EXPECT_EQ(platform::CountLines(LstAllFiles), 3);
    EXPECT_EQ(platform::SelectedIndex(LstAllFiles), -1);  // appending selects nothing
    EXPECT_EQ(wintest::ListLines(Control(LstAllFiles)),
              (std::vector<std::string>{"zebra (3)", "apfel (1)",
                                        "M\xFC"
                                        "ll (2)"}));

    platform::SelectLine(LstAllFiles, 2);
    EXPECT_EQ(platform::SelectedIndex(LstAllFiles), 2);
    platform::AppendLine(LstAllFiles, "neu (0)");
    EXPECT_EQ(platform::SelectedIndex(LstAllFiles), 2);  // appending keeps the selection

    platform::RemoveLine(LstAllFiles, 0);
    EXPECT_EQ(wintest::ListLines(Control(LstAllFiles)), (std::vector<std::string>{"apfel (1)",
                                                                                  "M\xFC"
                                                                                  "ll (2)",
                                                                                  "neu (0)"}));
    platform::SelectLine(LstAllFiles, -1);
    EXPECT_EQ(platform::SelectedIndex(LstAllFiles), -1);
    platform::SelectLine(LstAllFiles, 0);
    platform::ClearLines(LstAllFiles);
    EXPECT_EQ(platform::CountLines(LstAllFiles), 0);
    EXPECT_EQ(platform::SelectedIndex(LstAllFiles), -1);
}

TEST_F(WindowTest, OperationsOnMissingOrOtherControlsDoNothing) {
    platform::AppendLine(77, "x");
    EXPECT_EQ(platform::CountLines(77), 0);
    EXPECT_EQ(platform::SelectedIndex(77), -1);
    platform::SetControlText(77, "x");
    platform::EnableControl(77, true);
    platform::SetProgress(77, 50);
    platform::AppendLine(BtnSearch, "x");  // a button holds no lines
    EXPECT_EQ(platform::CountLines(BtnSearch), 0);
    EXPECT_EQ(WindowText(Control(BtnSearch)), "Doppelte Dateien suchen");
    platform::SetProgress(LstGroups, 50);
    EXPECT_EQ(platform::CountLines(LstGroups), 0);
}

TEST_F(WindowTest, CaptionsAndEnabledStates) {
    platform::SetControlText(LblGroups, "Dateien mit gleichem Inhalt (12)");
    EXPECT_EQ(WindowText(Control(LblGroups)), "Dateien mit gleichem Inhalt (12)");
    platform::SetControlText(LblAllFiles, "\xC4\xD6\xDC\xDF");
    EXPECT_EQ(WindowText(Control(LblAllFiles)), "\xC4\xD6\xDC\xDF");
    platform::EnableControl(BtnDeleteMarked, true);  // the flag says "disabled"
    EXPECT_FALSE(IsWindowEnabled(Control(BtnDeleteMarked)));
    platform::EnableControl(BtnDeleteMarked, false);
    EXPECT_TRUE(IsWindowEnabled(Control(BtnDeleteMarked)));
}

TEST_F(WindowTest, ProgressPositionsArePaintedAtOnce) {
    HWND bar = Control(PrgOverall);
    for (int32_t percent : {50, 100, 0, 99}) {
        InvalidateRect(bar, nullptr, TRUE);
        platform::SetProgress(PrgOverall, percent);
        EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), percent);
        // Nothing is left to paint although no message was taken.
        EXPECT_FALSE(GetUpdateRect(bar, nullptr, FALSE)) << percent;
    }
    // A bar uncovered during a search is repainted by the next position even when that
    // position is the one it already shows.
    InvalidateRect(bar, nullptr, TRUE);
    platform::SetProgress(PrgOverall, 99);
    EXPECT_FALSE(GetUpdateRect(bar, nullptr, FALSE));
    platform::SetProgress(PrgFile, 7);
    EXPECT_EQ(SendMessageA(Control(PrgFile), PBM_GETPOS, 0, 0), 7);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 99);
}

TEST_F(WindowTest, AVerticalBarFillsFromTheBottom) {
    HWND bar = Control(PrgOverall);
    RECT inner;
    GetClientRect(bar, &inner);
    int middle = inner.right / 2;
    auto colours = [&] {
        HDC dc = GetDC(bar);
        COLORREF top = GetPixel(dc, middle, 4);
        COLORREF bottom = GetPixel(dc, middle, inner.bottom - 4);
        ReleaseDC(bar, dc);
        return std::make_pair(top, bottom);
    };
    platform::SetProgress(PrgOverall, 0);
    auto empty = colours();
    EXPECT_EQ(empty.first, empty.second);
    platform::SetProgress(PrgOverall, 50);
    auto half = colours();
    EXPECT_EQ(half.first, empty.first);
    EXPECT_NE(half.second, empty.second);
    platform::SetProgress(PrgOverall, 100);
    auto full = colours();
    EXPECT_EQ(full.first, half.second);
    EXPECT_EQ(full.second, half.second);
}

TEST_F(WindowTest, MessageBoxIsOwnedByTheForegroundWindowAndHasOneOkButton) {
    HWND foreground = GetForegroundWindow();
    ASSERT_EQ(foreground, main_);
    int seen = 0;
    wintest::DialogWatcher watcher([&](HWND box) {
        ++seen;
        EXPECT_EQ(GetWindow(box, GW_OWNER), foreground);
        EXPECT_EQ(WindowText(box), "Credits");
        std::vector<std::string> texts = wintest::ChildTexts(box);
        EXPECT_NE(std::find(texts.begin(), texts.end(), std::string("Zeile 1\n\nZeile 3")),
                  texts.end());
        EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
        EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
        EXPECT_EQ(GetDlgItem(box, IDNO), nullptr);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    platform::ShowMessageBox("Credits", "Zeile 1\n\nZeile 3", platform::kMessageBoxOk);
    EXPECT_EQ(seen, 1);
}

TEST_F(WindowTest, CloseDestroysWindowClassAndControlsOnce) {
    platform::CloseMainWindow(1);  // another number: not ours
    EXPECT_TRUE(IsWindow(main_));
    HWND list = Control(LstGroups);
    platform::CloseMainWindow(kMainWindowNumber);
    EXPECT_FALSE(IsWindow(main_));
    EXPECT_FALSE(IsWindow(list));
    WNDCLASSA windowClass{};
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "WindowClass_0", &windowClass));
    platform::CloseMainWindow(kMainWindowNumber);  // already closed: nothing
    platform::AppendLine(LstGroups, "x");
    EXPECT_EQ(platform::CountLines(LstGroups), 0);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), -1);
    // The program can build its window again afterwards (the class is free again).
    AppState again;
    ASSERT_TRUE(StartUp(again));
    EXPECT_NE(MainWindow(), nullptr);
    EXPECT_EQ(platform::CountLines(LstGroups), 0);
}

TEST(WindowFailureTest, NoParentMeansNoControls) {
    EXPECT_FALSE(platform::SetControlParent(nullptr));
    platform::CreateControl(55, platform::ControlKind::List, {0, 0, 10, 10}, nullptr, 0, 0);
    platform::AppendLine(55, "x");
    EXPECT_EQ(platform::CountLines(55), 0);
}

TEST(WindowFailureTest, OnlyOneMainWindowAtATime) {
    platform::MainWindow* first =
        platform::CreateMainWindow(0, 600, 300, platform::kMainWindowStyle, true, "Twinrake");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(platform::CreateMainWindow(0, 600, 300, platform::kMainWindowStyle, true, "X"),
              nullptr);
    platform::CloseMainWindow(0);
    EXPECT_EQ(MainWindow(), nullptr);
}

// The folder picker's path rules.

struct GuardedBuffer {
    char buffer[platform::win32::kPickerBufferSize];
    char guard[32];
};

std::string Start(const std::string& initial) {
    GuardedBuffer guarded;
    std::memset(&guarded, 'G', sizeof guarded);
    platform::win32::FillPickerStart(initial, guarded.buffer);
    for (char byte : guarded.guard) {
        EXPECT_EQ(byte, 'G') << "written past the buffer";
    }
    EXPECT_NE(std::memchr(guarded.buffer, '\0', sizeof guarded.buffer), nullptr);
    return guarded.buffer;
}

TEST(PickerPathTest, StartFolderLosesOneTrailingBackslashBeyondThreeCharacters) {
    EXPECT_EQ(Start("D:\\Photos\\"), "D:\\Photos");
    EXPECT_EQ(Start("D:\\"), "D:\\");
    EXPECT_EQ(Start("D:"), "D:");
    EXPECT_EQ(Start(""), "");
    EXPECT_EQ(Start("ab\\"), "ab\\");
    EXPECT_EQ(Start("abc\\"), "abc");
    EXPECT_EQ(Start("D:\\x\\\\"), "D:\\x\\");
    EXPECT_EQ(Start("D:\\Fotos"), "D:\\Fotos");
    EXPECT_EQ(Start("C:\\M\xFCll\\"), "C:\\M\xFCll");
}

TEST(PickerPathTest, StartFolderNeverOverrunsTheBuffer) {
    std::string longest = "C:\\" + std::string(252, 'a');  // 255 characters
    EXPECT_EQ(Start(longest), longest);
    EXPECT_EQ(Start(longest + "\\"), longest);  // fits once the backslash is gone
    EXPECT_EQ(Start(longest + "b"), "");        // 256 characters: starts at the desktop
    EXPECT_EQ(Start(std::string(5000, 'x') + "\\"), "");
}

TEST(PickerPathTest, PickedFolderEndsWithOneBackslash) {
    using platform::win32::FinishPickedFolder;
    EXPECT_EQ(FinishPickedFolder("D:\\Photos"), "D:\\Photos\\");
    EXPECT_EQ(FinishPickedFolder("D:\\"), "D:\\");
    EXPECT_EQ(FinishPickedFolder("\\\\server\\share"), "\\\\server\\share\\");
    EXPECT_EQ(FinishPickedFolder(""), "");
}

class PickerHookTest : public ::testing::Test {
  protected:
    void TearDown() override { platform::win32::SetPickerAnswer(nullptr); }
};

TEST_F(PickerHookTest, PickFolderHandsOverTheStartFolderAndFinishesTheAnswer) {
    std::vector<std::string> starts;
    std::vector<std::string> titles;
    std::vector<std::string> answers{"D:\\", "D:\\Photos"};
    platform::win32::SetPickerAnswer(
        [&](const std::string& title, const char* start, std::string& converted) {
            titles.push_back(title);
            starts.push_back(start);
            if (answers.empty()) {
                return false;
            }
            converted = answers.front();
            answers.erase(answers.begin());
            return true;
        });
    EXPECT_EQ(platform::PickFolder(kPickerTitle, "D:\\Photos\\"), "D:\\");
    EXPECT_EQ(platform::PickFolder(kPickerTitle, "D:\\"), "D:\\Photos\\");
    EXPECT_EQ(platform::PickFolder(kPickerTitle, ""), "");  // cancelled
    EXPECT_EQ(starts, (std::vector<std::string>{"D:\\Photos", "D:\\", ""}));
    ASSERT_EQ(titles.size(), 3u);
    EXPECT_EQ(titles[0], "Pfad hinzuf\xFCgen...");
}

// The shell's own dialog, answered the moment it becomes active.
std::string PickWithDialog(const std::string& initial, int button, std::string* title = nullptr) {
    HWND owner = GetForegroundWindow();
    int dialogs = 0;
    wintest::DialogWatcher watcher([&](HWND dialog) {
        ++dialogs;
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
        if (title != nullptr) {
            std::vector<std::string> texts = wintest::ChildTexts(dialog);
            *title = std::find(texts.begin(), texts.end(), std::string(kPickerTitle)) != texts.end()
                         ? kPickerTitle
                         : "";
        }
        PostMessageA(dialog, WM_COMMAND, button, 0);
    });
    std::string chosen = platform::PickFolder(kPickerTitle, initial);
    EXPECT_EQ(dialogs, 1);
    return chosen;
}

TEST(PickerDialogTest, OkReturnsTheStartFolderWithATrailingBackslash) {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string folder = windows;
    std::string title;
    EXPECT_EQ(PickWithDialog(folder + "\\", IDOK, &title), folder + "\\");
    EXPECT_EQ(title, kPickerTitle);
    EXPECT_EQ(PickWithDialog(folder, IDOK), folder + "\\");
    std::string root = folder.substr(0, 3);  // C:\ keeps its one backslash
    EXPECT_EQ(PickWithDialog(root, IDOK), root);
}

TEST(PickerDialogTest, CancelReturnsEmptyText) {
    EXPECT_EQ(PickWithDialog("C:\\", IDCANCEL), "");
}

}  // namespace
