// The Win32 window and its controls under a real window system: creation arguments and
// layout, captions as Windows-1252 bytes, the Tab cycle, events, lists, progress bars, the
// message box and the folder picker.
#include <windows.h>
// windows.h first: commctrl.h builds on it.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/controls.h"
#include "platform/win32/win32_backend.h"
#include "platform/window.h"
#include "test_support.h"

namespace {

using namespace twinrake;
using platform::kEventClose;
using platform::kEventControl;
using wintest::Control;
using wintest::WindowText;
using Values = std::vector<int32_t>;

// The window as the program must build it, in creation order, written out independently of
// the control table. Captions are Windows-1252 bytes: 0xFC is ü, 0xF6 is ö.
struct Expected {
    int32_t identifier;
    const char* className;
    DWORD style, extendedStyle;
    int x, y, width, height;
    const char* caption;  // null: created without a window text
};
const Expected kExpected[] = {
    {0, "BUTTON", 0x50030000, 0, 0, 0, 195, 24, "Pfad hinzuf\xFCgen"},
    {1, "STATIC", 0x50020000, 0, 0, 25, 195, 20, "Alle Dateien"},
    {2, "LISTBOX", 0x50330141, 0x200, 0, 45, 195, 225, nullptr},
    {8, "BUTTON", 0x50030000, 0, 0, 275, 195, 20, "Zur\xFC\x63ksetzen"},
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

// Every window's CreateWindowExA arguments as the window system saw them.
struct Created {
    HWND handle;
    std::string className;
    bool named;
    DWORD style, extendedStyle;
    HWND parent;
};
std::vector<Created> created;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        created.push_back({reinterpret_cast<HWND>(wParam),
                           IS_INTRESOURCE(create->lpszClass) ? "#atom" : create->lpszClass,
                           create->lpszName != nullptr, static_cast<DWORD>(create->style),
                           create->dwExStyle, create->hwndParent});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        created.clear();
        HHOOK hook = SetWindowsHookExA(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
        bool started = StartUp(state_);
        UnhookWindowsHookEx(hook);
        ASSERT_TRUE(started);
        main_ = wintest::MainWindow();
        ASSERT_NE(main_, nullptr);
        MSG message;  // paints and activation: tests start idle
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    void TearDown() override { platform::CloseMainWindow(kMainWindowNumber); }
    // Waits through everything queued so far (up to a marker) and gives every value.
    static Values WaitThrough() {
        PostThreadMessageA(GetCurrentThreadId(), WM_APP + 0x33, 0, 0);
        Values values;
        for (int32_t value; (value = platform::WaitForEvent()) != WM_APP + 0x33;) {
            values.push_back(value);
        }
        return values;
    }
    AppState state_;
    HWND main_ = nullptr;
};

TEST_F(WindowTest, WindowAndControlsAreBuiltExactly) {
    EXPECT_EQ(GetActiveWindow(), main_);
    RECT client, placed, outer{0, 0, 600, 300};
    GetClientRect(main_, &client);
    EXPECT_EQ(client.right, 600);
    EXPECT_EQ(client.bottom, 300);
    AdjustWindowRect(&outer, 0x10C80000, FALSE);
    int width = outer.right - outer.left, height = outer.bottom - outer.top;
    GetWindowRect(main_, &placed);
    EXPECT_EQ(placed.left, (GetSystemMetrics(SM_CXSCREEN) >> 1) - (width >> 1));
    EXPECT_EQ(placed.top, (GetSystemMetrics(SM_CYSCREEN) >> 1) - (height >> 1));
    EXPECT_EQ(placed.right - placed.left, width);

    // The main window, then its children (the window system may make more windows of its own).
    std::erase_if(
        created, [&](const Created& made) { return made.handle != main_ && made.parent != main_; });
    ASSERT_EQ(created.size(), 1 + std::size(kExpected));
    EXPECT_EQ(created[0].handle, main_);
    EXPECT_EQ(created[0].className, "WindowClass_0");
    EXPECT_EQ(created[0].style, 0x10C80000u);
    // The window system adds WS_EX_WINDOWEDGE to captioned windows on its own.
    EXPECT_EQ(created[0].extendedStyle & ~DWORD{WS_EX_WINDOWEDGE}, 0u);
    EXPECT_EQ(WindowText(main_), "Twinrake");
    WNDCLASSA windowClass{};
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "WindowClass_0", &windowClass));
    EXPECT_EQ(windowClass.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    LOGBRUSH brush{};
    GetObjectA(windowClass.hbrBackground, sizeof brush, &brush);
    EXPECT_EQ(brush.lbColor, GetSysColor(COLOR_BTNFACE));

    // The controls in creation order, which is also the Tab order.
    for (size_t i = 0; i < std::size(kExpected); ++i) {
        const Expected& want = kExpected[i];
        const Created& made = created[i + 1];
        SCOPED_TRACE(want.identifier);
        HWND control = made.handle;
        EXPECT_EQ(GetDlgCtrlID(control), want.identifier);
        EXPECT_EQ(made.parent, main_);
        EXPECT_EQ(made.className, want.className);
        EXPECT_EQ(made.style, want.style);
        EXPECT_EQ(made.extendedStyle, want.extendedStyle);
        RECT box;
        GetWindowRect(control, &box);
        MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&box), 2);
        EXPECT_EQ(
            (std::vector<LONG>{box.left, box.top, box.right - box.left, box.bottom - box.top}),
            (std::vector<LONG>{want.x, want.y, want.width, want.height}));
        EXPECT_EQ(made.named, want.caption != nullptr);
        EXPECT_EQ(WindowText(control), want.caption == nullptr ? "" : want.caption);
        auto font = reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0));
        if (want.identifier >= PrgOverall) {
            PBRANGE range{};
            SendMessageA(control, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
            EXPECT_EQ((Values{range.iLow, range.iHigh}), (Values{0, 100}));
            EXPECT_EQ(SendMessageA(control, PBM_GETPOS, 0, 0), 0);
        } else {
            EXPECT_EQ(font, GetStockObject(ANSI_VAR_FONT));
        }
    }
}

// Posts Tab (or Shift+Tab) `steps` times; gives the focused control after each. Tab is no event.
Values TabWalk(int steps, bool shift) {
    Values visited;
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    for (int i = 0; i < steps; ++i) {
        keys[VK_SHIFT] = keys[VK_LSHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        PostMessageA(GetFocus() != nullptr ? GetFocus() : GetActiveWindow(), WM_KEYDOWN, VK_TAB,
                     0x000F0001);
        int32_t value = platform::WaitForEvent();
        EXPECT_TRUE(value != kEventControl && value != kEventClose) << value;
        visited.push_back(GetFocus() == nullptr ? -999 : GetDlgCtrlID(GetFocus()));
    }
    keys[VK_SHIFT] = keys[VK_LSHIFT] = 0;  // Shift released for what follows
    SetKeyboardState(keys);
    return visited;
}

TEST_F(WindowTest, TabCyclesOverEnabledTabStopsInCreationOrder) {
    SetFocus(main_);  // no control has the focus
    EXPECT_EQ(TabWalk(10, false), (Values{0, 2, 8, 9, 4, 6, 7, 10, 0, 2}));
    SetFocus(main_);
    EXPECT_EQ(TabWalk(9, true), (Values{10, 7, 6, 4, 9, 8, 2, 0, 10}));
    // From a control that is no tab stop Tab stays and Shift+Tab goes to the last.
    SetFocus(Control(LblGroups));
    EXPECT_EQ(TabWalk(1, false), Values{LblGroups});
    SetFocus(Control(LblGroups));
    EXPECT_EQ(TabWalk(1, true), Values{BtnDeleteGroup});
    // Disabled controls are skipped (the flag says "disabled").
    for (int32_t control : {BtnSearch, LstGroups, LstMembers}) {
        platform::EnableControl(control, true);
    }
    SetFocus(Control(BtnReset));
    EXPECT_EQ(TabWalk(5, false), (Values{7, 10, 0, 2, 8}));
    EXPECT_EQ(TabWalk(5, true), (Values{2, 0, 10, 7, 8}));
    // Without a focus, Tab takes the first and Shift+Tab the last remaining candidate.
    platform::EnableControl(BtnAddFolder, true);
    platform::EnableControl(BtnDeleteGroup, true);
    SetFocus(nullptr);
    EXPECT_EQ(TabWalk(1, false), Values{LstAllFiles});
    SetFocus(nullptr);
    EXPECT_EQ(TabWalk(1, true), Values{BtnDeleteMarked});
}

TEST_F(WindowTest, ButtonPressesUsersListChoicesAndCloseAreTheEvents) {
    for (int32_t button : {BtnSearch, BtnDeleteGroup}) {
        wintest::PostClick(Control(button), 20, 10);
        EXPECT_EQ(WaitThrough(), (Values{WM_LBUTTONDOWN, kEventControl}));
        EXPECT_EQ(platform::ControlIdentifier(), button);
    }
    wintest::PostClick(Control(LblAllFiles), 5, 5);
    wintest::PostClick(Control(PrgOverall), 5, 5);
    for (int32_t value : WaitThrough()) {
        EXPECT_NE(value, kEventControl);
    }
    for (const char* line : {"one", "two", "three"}) {
        platform::AppendLine(LstGroups, line);
    }
    wintest::PostListClick(Control(LstGroups), 1);
    Values values = WaitThrough();
    EXPECT_EQ(std::count(values.begin(), values.end(), kEventControl), 1);
    EXPECT_EQ(platform::ControlIdentifier(), LstGroups);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 1);
    wintest::PostClick(Control(LstGroups), 10, 3, true);
    values = WaitThrough();
    EXPECT_GE(std::count(values.begin(), values.end(), kEventControl), 1);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 0);
    // Selections made by the program raise nothing.
    platform::SelectLine(LstGroups, 2);
    platform::SelectLine(LstGroups, -1);
    platform::ClearLines(LstGroups);
    EXPECT_EQ(WaitThrough(), Values{});
    // Close is an event, and the window stays.
    PostMessageA(main_, WM_CLOSE, 0, 0);
    EXPECT_EQ(platform::WaitForEvent(), kEventClose);
    EXPECT_TRUE(IsWindowVisible(main_));
    PostMessageA(main_, WM_SYSCOMMAND, SC_CLOSE, 0);  // the caption's close box
    EXPECT_EQ(platform::WaitForEvent(), kEventClose);
    EXPECT_TRUE(IsWindowVisible(main_));
    // Other messages give their number, never one posing as an event; no event lingers.
    wintest::PostClick(Control(BtnReset), 5, 5);
    for (UINT number : {UINT{WM_APP + 7}, UINT{kEventControl}, UINT{kEventClose}}) {
        PostThreadMessageA(GetCurrentThreadId(), number, 0, 0);
    }
    values = WaitThrough();
    ASSERT_EQ(values.size(), 5u);
    EXPECT_EQ(Values(values.begin(), values.begin() + 3),
              (Values{WM_LBUTTONDOWN, kEventControl, WM_APP + 7}));
    EXPECT_TRUE(values[3] != kEventControl && values[4] != kEventClose);
}

TEST_F(WindowTest, ListsTextsEnabledStatesAndProgressPositions) {
    const char* mull = "M\xFCll (2)";
    for (const char* line : {"zebra (3)", "apfel (1)", mull}) {
        platform::AppendLine(LstAllFiles, line);
    }
    EXPECT_EQ(platform::SelectedIndex(LstAllFiles), -1);  // appending selects nothing
    platform::SelectLine(LstAllFiles, 2);
    platform::AppendLine(LstAllFiles, "neu (0)");
    EXPECT_EQ(platform::SelectedIndex(LstAllFiles), 2);  // and keeps the selection
    platform::RemoveLine(LstAllFiles, 0);
    EXPECT_EQ(platform::CountLines(LstAllFiles), 3);
    EXPECT_EQ(wintest::ListLines(Control(LstAllFiles)),
              (std::vector<std::string>{"apfel (1)", mull, "neu (0)"}));
    platform::SelectLine(LstAllFiles, -1);
    EXPECT_EQ(platform::SelectedIndex(LstAllFiles), -1);
    platform::SelectLine(LstAllFiles, 0);
    platform::ClearLines(LstAllFiles);
    EXPECT_EQ(platform::CountLines(LstAllFiles), 0);
    EXPECT_EQ(platform::SelectedIndex(LstAllFiles), -1);
    // A batch goes after the lines there and keeps the selection; the list, its redrawing
    // suspended meanwhile, stays visible and is due to be painted.
    HWND groups = Control(LstGroups);
    platform::AppendLine(LstGroups, "eins");
    platform::SelectLine(LstGroups, 0);
    platform::LineBatch batch;
    for (const char* line : {"zwei", "", mull}) {
        batch.Add(line);
    }
    batch.text += "vier";  // an unended rest is a line too
    ValidateRect(groups, nullptr);
    platform::AppendLines(LstGroups, std::move(batch));
    EXPECT_EQ(wintest::ListLines(groups),
              (std::vector<std::string>{"eins", "zwei", "", mull, "vier"}));
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 0);
    EXPECT_TRUE(IsWindowVisible(groups));
    EXPECT_TRUE(GetUpdateRect(groups, nullptr, FALSE));

    platform::SetControlText(LblAllFiles, "\xC4\xD6\xDC\xDF (12)");
    EXPECT_EQ(WindowText(Control(LblAllFiles)), "\xC4\xD6\xDC\xDF (12)");
    platform::EnableControl(BtnDeleteMarked, true);  // the flag says "disabled"
    EXPECT_FALSE(IsWindowEnabled(Control(BtnDeleteMarked)));
    platform::EnableControl(BtnDeleteMarked, false);
    EXPECT_TRUE(IsWindowEnabled(Control(BtnDeleteMarked)));

    // Missing controls: nothing happens.
    platform::AppendLine(77, "x");
    platform::SetControlText(77, "x");
    platform::SetProgress(77, 50);
    EXPECT_EQ(platform::SelectedIndex(77), -1);

    HWND bar = Control(PrgOverall);
    // 99 twice: a bar uncovered during a search is repainted at a repeated position too.
    for (int32_t percent : {50, 100, 0, 99, 99}) {
        InvalidateRect(bar, nullptr, TRUE);
        platform::SetProgress(PrgOverall, percent);
        EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), percent);
        EXPECT_FALSE(GetUpdateRect(bar, nullptr, FALSE)) << percent;  // no message taken
    }
    platform::SetProgress(PrgFile, 7);
    EXPECT_EQ(SendMessageA(Control(PrgFile), PBM_GETPOS, 0, 0), 7);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 99);
}

// A window whose painting never validates: without help, its WM_PAINT would never go.
int lazyPaints = 0;
LRESULT CALLBACK PaintLazily(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        ++lazyPaints;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(WindowTest, KeepingAliveTakesNoInputAndPaintsEachWindowOnce) {
    // A click, a posted message and a close box pressed while a command runs.
    wintest::PostClick(Control(BtnSearch), 20, 10);
    PostThreadMessageA(GetCurrentThreadId(), WM_APP + 7, 0, 0);
    PostMessageA(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
    WNDCLASSA lazyClass{};
    lazyClass.lpfnWndProc = PaintLazily;
    lazyClass.hInstance = GetModuleHandleA(nullptr);
    lazyClass.lpszClassName = "LazyPaint";
    ASSERT_NE(RegisterClassA(&lazyClass), 0);
    lazyPaints = 0;
    HWND lazy = CreateWindowExA(0, "LazyPaint", nullptr, WS_CHILD | WS_VISIBLE, 300, 150, 20, 20,
                                main_, nullptr, lazyClass.hInstance, nullptr);
    ASSERT_NE(lazy, nullptr);
    HWND groups = Control(LstGroups);
    InvalidateRect(groups, nullptr, TRUE);

    platform::KeepWindowAlive();
    platform::KeepWindowAlive();
    EXPECT_FALSE(GetUpdateRect(groups, nullptr, FALSE));
    EXPECT_EQ(lazyPaints, 1);
    DestroyWindow(lazy);
    UnregisterClassA("LazyPaint", lazyClass.hInstance);
    // Everything waits for the loop, in its order.
    EXPECT_EQ(WaitThrough(), (Values{WM_LBUTTONDOWN, kEventControl, WM_APP + 7, kEventClose}));
    EXPECT_EQ(platform::ControlIdentifier(), BtnSearch);
}

// Waits up to two seconds, without taking any message, until another thread sends one.
bool SentMessageArrives() {
    for (int i = 0; i < 2000 && HIWORD(GetQueueStatus(QS_SENDMESSAGE)) == 0; ++i) {
        Sleep(1);
    }
    return HIWORD(GetQueueStatus(QS_SENDMESSAGE)) != 0;
}

TEST_F(WindowTest, KeepingAliveAnswersSentMessagesAndKeepsWhatTheyAskForForTheLoop) {
    // What another program might send while a command runs: a press of a button, a close.
    HWND search = Control(BtnSearch);
    std::atomic<int> answered{0};
    std::thread other([&] {
        DWORD_PTR result = 0;
        answered +=
            SendMessageTimeoutA(main_, WM_COMMAND, MAKEWPARAM(BtnSearch, BN_CLICKED),
                                reinterpret_cast<LPARAM>(search), SMTO_NORMAL, 5000, &result) != 0;
        answered +=
            SendMessageTimeoutA(main_, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, 5000, &result) != 0;
    });
    // The same call paints, though the peek that answers a sent message returns nothing.
    HWND groups = Control(LstGroups);
    InvalidateRect(groups, nullptr, TRUE);
    EXPECT_TRUE(SentMessageArrives());
    platform::KeepWindowAlive();
    EXPECT_FALSE(GetUpdateRect(groups, nullptr, FALSE));
    for (int i = 0; i < 2000 && answered < 2; ++i) {
        platform::KeepWindowAlive();
        Sleep(1);
    }
    other.join();
    EXPECT_EQ(answered, 2);
    EXPECT_EQ(WaitThrough(), (Values{kEventControl, kEventClose}));
    EXPECT_EQ(platform::ControlIdentifier(), BtnSearch);
    EXPECT_TRUE(IsWindowVisible(main_));
}

TEST_F(WindowTest, MessageBoxIsOwnedByTheForegroundWindowAndHasOneOkButton) {
    ASSERT_EQ(GetForegroundWindow(), main_);
    int seen = 0;
    wintest::DialogWatcher watcher([&](HWND box) {
        ++seen;
        EXPECT_EQ(GetWindow(box, GW_OWNER), main_);
        EXPECT_EQ(WindowText(box), "Credits");
        std::vector<std::string> texts = wintest::ChildTexts(box);
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Zeile 1\n\nZeile 3"), texts.end());
        EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
        EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    platform::ShowMessageBox("Credits", "Zeile 1\n\nZeile 3", platform::kMessageBoxOk);
    EXPECT_EQ(seen, 1);
}

TEST_F(WindowTest, OneWindowAtATimeAndCloseDestroysItsClassAndControlsOnce) {
    EXPECT_EQ(platform::CreateMainWindow(0, 600, 300, 0x10C80000, true, "X"), nullptr);  // one
    platform::CloseMainWindow(1);  // another number: not ours
    EXPECT_TRUE(IsWindow(main_));
    HWND list = Control(LstGroups);
    platform::CloseMainWindow(kMainWindowNumber);
    EXPECT_FALSE(IsWindow(main_));
    EXPECT_FALSE(IsWindow(list));
    WNDCLASSA windowClass{};
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "WindowClass_0", &windowClass));
    platform::CloseMainWindow(kMainWindowNumber);  // already closed: nothing
    AppState again;
    EXPECT_TRUE(StartUp(again));
    EXPECT_NE(wintest::MainWindow(), nullptr);
}

// FillPickerStart into a buffer followed by a guard that must stay untouched.
std::string Start(const std::string& initial) {
    struct {
        char buffer[platform::win32::kPickerBufferSize];
        char guard[32];
    } guarded;
    std::memset(&guarded, 'G', sizeof guarded);
    platform::win32::FillPickerStart(initial, guarded.buffer);
    EXPECT_EQ(std::string(guarded.guard, sizeof guarded.guard), std::string(32, 'G'))
        << "written past the buffer";
    EXPECT_NE(std::memchr(guarded.buffer, '\0', sizeof guarded.buffer), nullptr);
    return guarded.buffer;
}

TEST(PickerPathTest, StartLosesOneTrailingBackslashBeyondThreeCharactersAndMustFit) {
    EXPECT_EQ(Start("D:\\Photos\\"), "D:\\Photos");
    EXPECT_EQ(Start("D:\\"), "D:\\");
    EXPECT_EQ(Start(""), "");
    EXPECT_EQ(Start("ab\\"), "ab\\");
    EXPECT_EQ(Start("abc\\"), "abc");
    EXPECT_EQ(Start("D:\\x\\\\"), "D:\\x\\");
    std::string longest = "C:\\" + std::string(252, 'a');  // 255 characters
    EXPECT_EQ(Start(longest), longest);
    EXPECT_EQ(Start(longest + "\\"), longest);  // fits once the backslash is gone
    EXPECT_EQ(Start(longest + "b"), "");        // 256: starts at the desktop

    using platform::win32::FinishPickedFolder;
    EXPECT_EQ(FinishPickedFolder("D:\\Photos"), "D:\\Photos\\");
    EXPECT_EQ(FinishPickedFolder("D:\\"), "D:\\");
    EXPECT_EQ(FinishPickedFolder(""), "");
}

// The shell's own dialog, answered with `button` the moment it becomes active.
std::string PickWithDialog(const std::string& initial, int button) {
    HWND owner = GetForegroundWindow();
    int dialogs = 0;
    wintest::DialogWatcher watcher([&](HWND dialog) {
        ++dialogs;
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
        std::vector<std::string> texts = wintest::ChildTexts(dialog);
        EXPECT_NE(std::find(texts.begin(), texts.end(), kPickerTitle), texts.end());
        PostMessageA(dialog, WM_COMMAND, button, 0);
    });
    std::string chosen = platform::PickFolder(kPickerTitle, initial);
    EXPECT_EQ(dialogs, 1);
    return chosen;
}

TEST(PickerDialogTest, OkGivesTheStartFolderWithOneTrailingBackslashAndCancelNothing) {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string folder = windows;
    EXPECT_EQ(PickWithDialog(folder + "\\", IDOK), folder + "\\");
    EXPECT_EQ(PickWithDialog(folder, IDOK), folder + "\\");
    EXPECT_EQ(PickWithDialog(folder.substr(0, 3), IDOK), folder.substr(0, 3));  // C:\ stays
    EXPECT_EQ(PickWithDialog(folder, IDCANCEL), "");
}

}  // namespace
