#include "test_support.h"

#include <gtest/gtest.h>

namespace wintest {

namespace {

std::function<void(HWND)>* dialogCallback = nullptr;
std::deque<std::function<void()>>* scriptSteps = nullptr;

LRESULT CALLBACK WatchDialogs(int code, WPARAM wParam, LPARAM lParam) {
    char className[64] = {};
    if (code == HCBT_ACTIVATE &&
        GetClassNameA(reinterpret_cast<HWND>(wParam), className, sizeof className) > 0 &&
        std::string(className) == "#32770") {
        (*dialogCallback)(reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK RunSteps(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->hwnd == nullptr &&
        message->message == Script::kStepMessage && !scriptSteps->empty()) {
        std::function<void()> step = std::move(scriptSteps->front());
        scriptSteps->pop_front();
        step();
        if (!scriptSteps->empty()) {
            PostThreadMessageA(GetCurrentThreadId(), Script::kStepMessage, 0, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
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
    do {
        path_ = std::string(temp) + "twr" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(++counter);
    } while (!CreateDirectoryA(path_.c_str(), nullptr));
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    BOOL ok = bytes.empty() ||
              WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(ok && written == bytes.size()) << path;
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
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        std::string name = found.cFileName;
        std::string full = path + "\\" + name;
        if (name == "." || name == "..") {
            continue;
        }
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            DeleteFileA(full.c_str());
        } else {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                RemoveTree(full, false);
            }
            RemoveDirectoryA(full.c_str());
        }
    }
    FindClose(search);
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

void PostClick(HWND control, int x, int y, bool twice) {
    for (UINT down : {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK}) {
        PostMessageA(control, down, MK_LBUTTON, MAKELPARAM(x, y));
        PostMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        if (!twice) {
            break;
        }
    }
}

void PostListClick(HWND list, int line) {
    int height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    int top = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
    PostClick(list, 10, (line - top) * height + height / 2);
}

HWND MainWindow() {
    return FindWindowA("WindowClass_0", nullptr);
}

HWND Control(int32_t identifier) {
    return GetDlgItem(MainWindow(), identifier);
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::vector<std::string> ChildTexts(HWND window) {
    std::vector<std::string> texts;
    EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

std::vector<std::string> ListLines(HWND list) {
    std::vector<std::string> lines;
    for (WPARAM i = 0; i < static_cast<WPARAM>(SendMessageA(list, LB_GETCOUNT, 0, 0)); ++i) {
        auto length = static_cast<size_t>(SendMessageA(list, LB_GETTEXTLEN, i, 0));
        std::string line(length + 1, '\0');
        SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
        lines.push_back(line.substr(0, length));
    }
    return lines;
}

DialogWatcher::DialogWatcher(std::function<void(HWND)> onDialog)
    : onDialog_(std::move(onDialog)),
      hook_(SetWindowsHookExA(WH_CBT, WatchDialogs, nullptr, GetCurrentThreadId())) {
    dialogCallback = &onDialog_;
}

Script::Script()
    : hook_(SetWindowsHookExA(WH_GETMESSAGE, RunSteps, nullptr, GetCurrentThreadId())) {
    scriptSteps = &steps_;
}

}  // namespace wintest
