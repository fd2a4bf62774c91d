// The windowing operations on Win32, ANSI throughout: one main window of class WindowClass_N,
// standard controls addressed by their child identifiers, a Tab keyboard table, and a wait
// that turns one retrieved message into one event value.
#include <windows.h>
// windows.h first: the common-controls and shell headers build on it.
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/win32_backend.h"
#include "platform/window.h"

namespace platform {

struct MainWindow {
    HWND handle = nullptr;
    int32_t number = -1;
};

namespace {

constexpr WORD kTabCommand = 1212;
constexpr WORD kShiftTabCommand = 1213;

constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kLabelStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_GROUP |
                             WS_TABSTOP | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS | LBS_NOTIFY;
constexpr DWORD kProgressStyle = WS_CHILD | WS_VISIBLE | PBS_SMOOTH | PBS_VERTICAL;

struct Control {
    HWND handle = nullptr;
    ControlKind kind = ControlKind::Label;
};

struct WindowState {
    MainWindow main;
    HWND parent = nullptr;  // where new controls go
    HACCEL keyboardTable = nullptr;
    HBRUSH background = nullptr;
    HGDIOBJ font = nullptr;
    std::string className;
    std::map<int32_t, Control> controls;
    // Set by the window procedure while one message is dispatched.
    bool closeRequested = false;
    bool controlRaised = false;
    int32_t raisingControl = -1;
    int32_t latestControl = -1;
    // While KeepWindowAlive runs, what would become an event (or start a modal loop that takes
    // input) is held here and posted when it returns: the loop then takes it after the command.
    bool keepingAlive = false;
    std::vector<MSG> held;
};

WindowState& State() {
    static WindowState state;
    return state;
}

const Control* Find(int32_t identifier, ControlKind kind) {
    auto found = State().controls.find(identifier);
    if (found == State().controls.end() || found->second.kind != kind) {
        return nullptr;
    }
    return &found->second;
}

HWND FindAny(int32_t identifier) {
    auto found = State().controls.find(identifier);
    return found == State().controls.end() ? nullptr : found->second.handle;
}

BOOL CALLBACK CollectCandidate(HWND child, LPARAM collected) {
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (IsWindowEnabled(child) && IsWindowVisible(child) && (style & WS_TABSTOP) != 0) {
        reinterpret_cast<std::vector<HWND>*>(collected)->push_back(child);
    }
    return TRUE;
}

// Tab and Shift+Tab: the enabled, visible tab stops of the active window in creation order,
// wrapping at both ends. A focused control that is no tab stop keeps Tab from moving.
void MoveFocus(bool forward) {
    HWND active = GetActiveWindow();
    if (active == nullptr) {
        return;
    }
    std::vector<HWND> candidates;
    EnumChildWindows(active, CollectCandidate, reinterpret_cast<LPARAM>(&candidates));
    if (candidates.empty()) {
        return;
    }
    HWND focus = GetFocus();
    if (focus != nullptr && !IsChild(active, focus)) {
        focus = nullptr;
    }
    if (focus == nullptr) {
        SetFocus(forward ? candidates.front() : candidates.back());
        return;
    }
    size_t at = 0;
    while (at < candidates.size() && candidates[at] != focus) {
        ++at;
    }
    if (at == candidates.size()) {
        if (!forward) {
            SetFocus(candidates.back());
        }
        return;
    }
    if (forward) {
        SetFocus(candidates[(at + 1) % candidates.size()]);
    } else {
        SetFocus(candidates[(at + candidates.size() - 1) % candidates.size()]);
    }
}

// Only a press of a button and a selection change or double click of a list are events.
void NoteNotification(HWND from, WORD code) {
    int32_t identifier = GetDlgCtrlID(from);
    auto found = State().controls.find(identifier);
    if (found == State().controls.end() || found->second.handle != from) {
        return;
    }
    ControlKind kind = found->second.kind;
    bool event = (kind == ControlKind::PushButton && code == BN_CLICKED) ||
                 (kind == ControlKind::List && (code == LBN_SELCHANGE || code == LBN_DBLCLK));
    if (event) {
        State().controlRaised = true;
        State().raisingControl = identifier;
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Sent by another thread or program while a command runs: a close, a button press, a
    // system command (moving, the system menu, closing). Acting on it now would record an
    // event that the next wait forgets, or pump input in a modal loop.
    if (State().keepingAlive &&
        (message == WM_CLOSE || message == WM_COMMAND || message == WM_SYSCOMMAND)) {
        MSG later{};
        later.hwnd = window;
        later.message = message;
        later.wParam = wParam;
        later.lParam = lParam;
        State().held.push_back(later);
        return 0;
    }
    switch (message) {
        case WM_CLOSE:
            // The loop ends on it; the window is destroyed afterwards, by CloseMainWindow.
            State().closeRequested = true;
            return 0;
        case WM_COMMAND: {
            HWND from = reinterpret_cast<HWND>(lParam);
            if (from == nullptr) {
                // The keyboard table (notification code 1) or a menu, which we have none of.
                if (HIWORD(wParam) == 1 && LOWORD(wParam) == kTabCommand) {
                    MoveFocus(true);
                } else if (HIWORD(wParam) == 1 && LOWORD(wParam) == kShiftTabCommand) {
                    MoveFocus(false);
                }
                return 0;
            }
            NoteNotification(from, HIWORD(wParam));
            return 0;
        }
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

int CALLBACK PickerCallback(HWND dialog, UINT message, LPARAM, LPARAM startFolder) {
    if (message == BFFM_INITIALIZED) {
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, startFolder);
    }
    return 0;
}

// A function of the shell library by name; the detour over void(*)() tells the compiler that
// the type change is meant.
template <typename Function>
Function ShellFunction(HMODULE shell, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(shell, name)));
}

// The folder dialog of the new style needs COM, apartment-threaded, on the calling thread.
// OLE32 is loaded at run time like SHELL32 and stays loaded, since COM stays set up for the
// thread from then on.
void SetUpComOnce() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    constexpr DWORD kApartmentThreaded = 0x2;
    if (HMODULE ole = LoadLibraryA("OLE32.DLL")) {
        using InitFunction = HRESULT(WINAPI*)(LPVOID, DWORD);
        if (auto init = ShellFunction<InitFunction>(ole, "CoInitializeEx")) {
            init(nullptr, kApartmentThreaded);
        }
    }
}

#ifdef TWINRAKE_TEST_HOOKS
win32::PickerAnswer& PickerHook() {
    static win32::PickerAnswer hook;
    return hook;
}
#endif

}  // namespace

namespace win32 {

void FillPickerStart(const std::string& initialFolder, char (&buffer)[kPickerBufferSize]) {
    buffer[0] = '\0';
    size_t length = std::strlen(initialFolder.c_str());
    if (length > 3 && initialFolder[length - 1] == '\\') {
        --length;
    }
    if (length >= kPickerBufferSize) {
        return;
    }
    std::memcpy(buffer, initialFolder.data(), length);
    buffer[length] = '\0';
}

std::string FinishPickedFolder(const std::string& converted) {
    std::string folder = converted;
    if (!folder.empty() && folder.back() != '\\') {
        folder.push_back('\\');
    }
    return folder;
}

#ifdef TWINRAKE_TEST_HOOKS
void SetPickerAnswer(PickerAnswer answer) {
    PickerHook() = std::move(answer);
}
#endif

}  // namespace win32

MainWindow* CreateMainWindow(int32_t number, int32_t clientWidth, int32_t clientHeight,
                             uint32_t style, bool centred, const std::string& title) {
    WindowState& state = State();
    if (state.main.handle != nullptr) {
        return nullptr;  // the program has one window
    }
    // Before any window: the progress bar class comes from here.
    InitCommonControls();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    state.font = GetStockObject(ANSI_VAR_FONT);
    // The button face colour of the moment the program started; later changes do not follow.
    LOGBRUSH face{BS_SOLID, GetSysColor(COLOR_BTNFACE), 0};
    state.background = CreateBrushIndirect(&face);
    state.className = "WindowClass_" + std::to_string(number);

    WNDCLASSA windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = state.background;
    windowClass.lpszClassName = state.className.c_str();
    RegisterClassA(&windowClass);

    RECT outer{0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&outer, style, FALSE);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    int x = 0;
    int y = 0;
    if (centred) {
        x = (GetSystemMetrics(SM_CXSCREEN) >> 1) - (width >> 1);
        y = (GetSystemMetrics(SM_CYSCREEN) >> 1) - (height >> 1);
    }
    HWND handle = CreateWindowExA(0, state.className.c_str(), title.c_str(), style, x, y, width,
                                  height, nullptr, nullptr, instance, nullptr);
    if (handle == nullptr) {
        UnregisterClassA(state.className.c_str(), instance);
        DeleteObject(state.background);
        state.background = nullptr;
        return nullptr;
    }
    ACCEL keys[2] = {
        {FVIRTKEY | FNOINVERT, VK_TAB, kTabCommand},
        {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, kShiftTabCommand},
    };
    state.keyboardTable = CreateAcceleratorTableA(keys, 2);
    state.main.handle = handle;
    state.main.number = number;
    return &state.main;
}

bool SetControlParent(MainWindow* window) {
    if (window == nullptr || window->handle == nullptr || !IsWindow(window->handle)) {
        return false;
    }
    State().parent = window->handle;
    return true;
}

void CreateControl(int32_t identifier, ControlKind kind, const Box& box, const char* caption,
                   int32_t rangeMin, int32_t rangeMax) {
    WindowState& state = State();
    if (state.parent == nullptr || state.controls.contains(identifier)) {
        return;
    }
    const char* windowClass = "BUTTON";
    DWORD style = kButtonStyle;
    DWORD extendedStyle = 0;
    switch (kind) {
        case ControlKind::PushButton:
            break;
        case ControlKind::Label:
            windowClass = "STATIC";
            style = kLabelStyle;
            break;
        case ControlKind::List:
            windowClass = "LISTBOX";
            style = kListStyle;
            extendedStyle = WS_EX_CLIENTEDGE;
            caption = nullptr;
            break;
        case ControlKind::ProgressBar:
            windowClass = PROGRESS_CLASSA;
            style = kProgressStyle;
            caption = nullptr;
            break;
    }
    HWND handle = CreateWindowExA(extendedStyle, windowClass, caption, style, box.x, box.y,
                                  box.width, box.height, state.parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(identifier)),
                                  GetModuleHandleA(nullptr), nullptr);
    if (handle == nullptr) {
        return;  // simply missing
    }
    state.controls[identifier] = Control{handle, kind};
    if (kind == ControlKind::ProgressBar) {
        SendMessageA(handle, PBM_SETRANGE, 0, MAKELPARAM(rangeMin, rangeMax));
        SendMessageA(handle, PBM_SETPOS, static_cast<WPARAM>(rangeMin), 0);
    } else {
        SendMessageA(handle, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), TRUE);
    }
}

int32_t WaitForEvent() {
    WindowState& state = State();
    state.closeRequested = false;
    state.controlRaised = false;
    MSG message{};
    BOOL taken = GetMessageA(&message, nullptr, 0, 0);
    if (taken == -1) {
        return kEventClose;  // the queue is unusable: waiting again would spin
    }
    HWND main = state.main.handle;
    bool translated = main != nullptr && state.keyboardTable != nullptr &&
                      GetActiveWindow() == main &&
                      TranslateAcceleratorA(main, state.keyboardTable, &message) != 0;
    if (!translated) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (state.closeRequested) {
        return kEventClose;
    }
    if (state.controlRaised) {
        state.latestControl = state.raisingControl;
        return kEventControl;
    }
    int32_t number = static_cast<int32_t>(message.message);
    // A message whose number happens to equal an event value must not pose as that event.
    if (number == kEventClose || number == kEventControl) {
        return WM_NULL;
    }
    return number;
}

int32_t ControlIdentifier() {
    return State().latestControl;
}

void AppendLine(int32_t list, const std::string& text) {
    if (const Control* control = Find(list, ControlKind::List)) {
        SendMessageA(control->handle, LB_INSERTSTRING, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void AppendLines(int32_t list, LineBatch lines) {
    const Control* control = Find(list, ControlKind::List);
    if (control == nullptr || lines.text.empty()) {
        return;
    }
    HWND handle = control->handle;
    // A list box redraws and grows its storage line by line; for many lines, both once.
    SendMessageA(handle, WM_SETREDRAW, FALSE, 0);
    auto count = std::count(lines.text.begin(), lines.text.end(), '\0') +
                 (lines.text.back() != '\0' ? 1 : 0);
    SendMessageA(handle, LB_INITSTORAGE, static_cast<WPARAM>(count),
                 static_cast<LPARAM>(lines.text.size()));
    lines.ForEach([handle](std::string_view line) {
        // Each line is followed by a NUL in the batch's text.
        SendMessageA(handle, LB_INSERTSTRING, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(line.data()));
    });
    SendMessageA(handle, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(handle, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
}

void ClearLines(int32_t list) {
    if (const Control* control = Find(list, ControlKind::List)) {
        SendMessageA(control->handle, LB_RESETCONTENT, 0, 0);
    }
}

void RemoveLine(int32_t list, int32_t index) {
    if (const Control* control = Find(list, ControlKind::List)) {
        SendMessageA(control->handle, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    }
}

int32_t CountLines(int32_t list) {
    const Control* control = Find(list, ControlKind::List);
    if (control == nullptr) {
        return 0;
    }
    LRESULT count = SendMessageA(control->handle, LB_GETCOUNT, 0, 0);
    return count < 0 ? 0 : static_cast<int32_t>(count);
}

int32_t SelectedIndex(int32_t list) {
    const Control* control = Find(list, ControlKind::List);
    if (control == nullptr) {
        return -1;
    }
    LRESULT index = SendMessageA(control->handle, LB_GETCURSEL, 0, 0);
    return index < 0 ? -1 : static_cast<int32_t>(index);
}

void SelectLine(int32_t list, int32_t index) {
    if (const Control* control = Find(list, ControlKind::List)) {
        SendMessageA(control->handle, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

void SetControlText(int32_t control, const std::string& text) {
    if (HWND handle = FindAny(control)) {
        SetWindowTextA(handle, text.c_str());
    }
}

void EnableControl(int32_t control, bool disabled) {
    if (HWND handle = FindAny(control)) {
        EnableWindow(handle, disabled ? FALSE : TRUE);
    }
}

void SetProgress(int32_t bar, int32_t percent) {
    if (const Control* control = Find(bar, ControlKind::ProgressBar)) {
        SendMessageA(control->handle, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
        // A command lets the window paint only every few tens of milliseconds: paint now, or
        // the bar would lag behind.
        UpdateWindow(control->handle);
    }
}

void KeepWindowAlive() {
    WindowState& state = State();
    if (state.keepingAlive) {
        return;  // called from a window procedure inside this very call
    }
    state.keepingAlive = true;
    // Only paint and sent messages (answered inside PeekMessage itself): input and posted
    // messages stay queued, in their order, for the loop to take after the command. Each call
    // of PeekMessage also tells the system that the thread still reads its queue.
    constexpr UINT kPaintAndSent = PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE;
    // Bounded: other threads may keep sending.
    constexpr int kMostRounds = 64;
    for (int round = 0; round < kMostRounds; ++round) {
        MSG message;
        if (!PeekMessageA(&message, nullptr, 0, 0, kPaintAndSent)) {
            // A call that answered a sent message returns nothing more, paint or not: look
            // again while anything is due.
            if (HIWORD(GetQueueStatus(QS_PAINT | QS_SENDMESSAGE)) == 0) {
                break;
            }
            continue;
        }
        if (message.message != WM_PAINT) {
            state.held.push_back(message);  // not asked for (WM_QUIT): the loop's to take
            continue;
        }
        DispatchMessageA(&message);
        // WM_PAINT stays due until its window validates; one whose procedure does not would
        // come back at every call. Its children have their own paint.
        RedrawWindow(message.hwnd, nullptr, nullptr,
                     RDW_VALIDATE | RDW_NOINTERNALPAINT | RDW_NOCHILDREN);
    }
    state.keepingAlive = false;
    for (const MSG& held : state.held) {
        PostMessageA(held.hwnd, held.message, held.wParam, held.lParam);
    }
    state.held.clear();
}

std::string PickFolder(const std::string& title, const std::string& initialFolder) {
    HMODULE shell = LoadLibraryA("SHELL32.DLL");
    if (shell == nullptr) {
        return {};
    }
    char startFolder[win32::kPickerBufferSize];
    win32::FillPickerStart(initialFolder, startFolder);

    std::string chosen;
#ifdef TWINRAKE_TEST_HOOKS
    if (PickerHook()) {
        std::string converted;
        if (PickerHook()(title, startFolder, converted)) {
            chosen = win32::FinishPickedFolder(converted);
        }
        FreeLibrary(shell);
        return chosen;
    }
#endif
    using BrowseFunction = LPITEMIDLIST(WINAPI*)(LPBROWSEINFOA);
    using PathFunction = BOOL(WINAPI*)(LPCITEMIDLIST, LPSTR);
    using FreeFunction = void(WINAPI*)(LPITEMIDLIST);
    auto browse = ShellFunction<BrowseFunction>(shell, "SHBrowseForFolder");
    auto toPath = ShellFunction<PathFunction>(shell, "SHGetPathFromIDList");
    auto freeItem = ShellFunction<FreeFunction>(shell, "ILFree");
    if (browse != nullptr && toPath != nullptr) {
        SetUpComOnce();
        BROWSEINFOA info{};
        info.hwndOwner = GetForegroundWindow();
        info.pidlRoot = nullptr;
        info.pszDisplayName = nullptr;
        info.lpszTitle = title.c_str();
        info.ulFlags = BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
        info.lpfn = PickerCallback;
        info.lParam = reinterpret_cast<LPARAM>(startFolder);
        LPITEMIDLIST item = browse(&info);
        if (item != nullptr) {
            // The shell writes up to MAX_PATH characters here.
            char converted[MAX_PATH + 1] = {};
            if (toPath(item, converted)) {
                chosen = win32::FinishPickedFolder(converted);
            }
            if (freeItem != nullptr) {
                freeItem(item);
            }
        }
    }
    FreeLibrary(shell);
    return chosen;
}

void ShowMessageBox(const std::string& caption, const std::string& text, uint32_t type) {
    MessageBoxA(GetForegroundWindow(), text.c_str(), caption.c_str(), type);
}

void CloseMainWindow(int32_t number) {
    WindowState& state = State();
    if (state.main.handle == nullptr || state.main.number != number) {
        return;
    }
    if (IsWindow(state.main.handle)) {
        DestroyWindow(state.main.handle);
    }
    UnregisterClassA(state.className.c_str(), GetModuleHandleA(nullptr));
    if (state.keyboardTable != nullptr) {
        DestroyAcceleratorTable(state.keyboardTable);
    }
    if (state.background != nullptr) {
        DeleteObject(state.background);
    }
    state.main = MainWindow{};
    state.parent = nullptr;
    state.keyboardTable = nullptr;
    state.background = nullptr;
    state.controls.clear();
}

}  // namespace platform
