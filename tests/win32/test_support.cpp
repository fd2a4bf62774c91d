#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace wintest {

namespace {

std::vector<CreatedWindow>& Created() {
    static std::vector<CreatedWindow> windows;
    return windows;
}

HHOOK creationHook = nullptr;
HHOOK dialogHook = nullptr;
std::function<void(HWND)> dialogCallback;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        auto* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        CreatedWindow window;
        window.handle = reinterpret_cast<HWND>(wParam);
        ULONG_PTR className = reinterpret_cast<ULONG_PTR>(create->lpszClass);
        if (HIWORD(className) != 0) {
            window.className = create->lpszClass;
        } else {
            window.className = "#" + std::to_string(LOWORD(className));
        }
        window.hasName = create->lpszName != nullptr;
        if (window.hasName) {
            window.name = create->lpszName;
        }
        window.style = static_cast<DWORD>(create->style);
        window.extendedStyle = create->dwExStyle;
        window.x = create->x;
        window.y = create->y;
        window.width = create->cx;
        window.height = create->cy;
        window.parent = create->hwndParent;
        window.menu = reinterpret_cast<INT_PTR>(create->hMenu);
        Created().push_back(window);
    }
    return CallNextHookEx(creationHook, code, wParam, lParam);
}

LRESULT CALLBACK WatchDialogs(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        char className[64] = {};
        GetClassNameA(reinterpret_cast<HWND>(wParam), className, sizeof className);
        if (std::string(className) == "#32770" && dialogCallback) {
            dialogCallback(reinterpret_cast<HWND>(wParam));
        }
    }
    return CallNextHookEx(dialogHook, code, wParam, lParam);
}

constexpr UINT kStepMessage = WM_APP + 0x2A;
HHOOK scriptHook = nullptr;
std::deque<std::function<void()>> steps;
int executed = 0;
int total = 0;

LRESULT CALLBACK RunSteps(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->hwnd == nullptr &&
        message->message == kStepMessage && !steps.empty()) {
        std::function<void()> step = std::move(steps.front());
        steps.pop_front();
        ++executed;
        step();
        if (!steps.empty()) {
            PostThreadMessageA(GetCurrentThreadId(), kStepMessage, 0, 0);
        }
    }
    return CallNextHookEx(scriptHook, code, wParam, lParam);
}

BOOL CALLBACK CollectText(HWND child, LPARAM texts) {
    reinterpret_cast<std::vector<std::string>*>(texts)->push_back(WindowText(child));
    return TRUE;
}

}  // namespace

ScratchFolder::ScratchFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    static unsigned counter = 0;
    for (;;) {
        char name[64];
        std::snprintf(name, sizeof name, "twr%lu_%u", GetCurrentProcessId(), ++counter);
        path_ = std::string(temp) + name;
        if (CreateDirectoryA(path_.c_str(), nullptr)) {
            break;
        }
    }
    if (!path_.empty() && path_.back() == '\\') {
        path_.pop_back();
    }
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(path_);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    BOOL ok = bytes.empty() ||
              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(ok) << path;
    ASSERT_EQ(written, bytes.size()) << path;
}

std::string ReadAll(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolder(const std::string& path) {
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path << " " << GetLastError();
}

void RemoveTree(const std::string& path, bool removeSelf) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            std::string full = path + "\\" + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL | (found.dwFileAttributes &
                                                                      FILE_ATTRIBUTE_DIRECTORY));
            bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if (!link) {
                    RemoveTree(full, false);
                }
                RemoveDirectoryA(full.c_str());
            } else {
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (removeSelf) {
        RemoveDirectoryA(path.c_str());
    }
}

std::string Pattern(size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

std::vector<std::string> RawListing(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    std::string text = folder;
    if (text.back() != '\\') {
        text.push_back('\\');
    }
    HANDLE search = FindFirstFileA((text + "*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

CreationRecorder::CreationRecorder() {
    Created().clear();
    creationHook = SetWindowsHookExA(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
}

CreationRecorder::~CreationRecorder() {
    UnhookWindowsHookEx(creationHook);
    creationHook = nullptr;
}

const std::vector<CreatedWindow>& CreationRecorder::Windows() const {
    return Created();
}

const CreatedWindow* CreationRecorder::Find(HWND handle) const {
    for (const CreatedWindow& window : Created()) {
        if (window.handle == handle) {
            return &window;
        }
    }
    return nullptr;
}

DialogWatcher::DialogWatcher(std::function<void(HWND)> onDialog) {
    dialogCallback = std::move(onDialog);
    dialogHook = SetWindowsHookExA(WH_CBT, WatchDialogs, nullptr, GetCurrentThreadId());
}

DialogWatcher::~DialogWatcher() {
    UnhookWindowsHookEx(dialogHook);
    dialogHook = nullptr;
    dialogCallback = nullptr;
}

std::vector<std::string> ChildTexts(HWND window) {
    std::vector<std::string> texts;
    EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

void PostClick(HWND control, int x, int y) {
    PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

void PostDoubleClick(HWND control, int x, int y) {
    PostClick(control, x, y);
    PostMessageA(control, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

void PostListClick(HWND list, int line) {
    int height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    int top = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
    PostClick(list, 10, (line - top) * height + height / 2);
}

void PostTab(bool shift) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    keys[VK_LSHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    HWND target = GetFocus() != nullptr ? GetFocus() : GetActiveWindow();
    PostMessageA(target, WM_KEYDOWN, VK_TAB, 0x000F0001);
}

Script::Script() {
    steps.clear();
    executed = 0;
    total = 0;
    scriptHook = SetWindowsHookExA(WH_GETMESSAGE, RunSteps, nullptr, GetCurrentThreadId());
}

Script::~Script() {
    UnhookWindowsHookEx(scriptHook);
    scriptHook = nullptr;
    steps.clear();
}

void Script::Then(std::function<void()> step) {
    steps.push_back(std::move(step));
    ++total;
}

void Script::Start() {
    PostThreadMessageA(GetCurrentThreadId(), kStepMessage, 0, 0);
}

int Script::Executed() const {
    return executed;
}
int Script::Total() const {
    return total;
}

HWND MainWindow() {
    return FindWindowA("WindowClass_0", nullptr);
}

HWND Control(int32_t identifier) {
    HWND main = MainWindow();
    return main == nullptr ? nullptr : GetDlgItem(main, identifier);
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::vector<std::string> ListLines(HWND list) {
    std::vector<std::string> lines;
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::string line(static_cast<size_t>(length) + 1, '\0');
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(line.data()));
        line.resize(static_cast<size_t>(length));
        lines.push_back(line);
    }
    return lines;
}

}  // namespace wintest
