// Helpers of the Windows tests: scratch files through Win32, posted mouse input, the main
// window's controls, dialogs answered as they show, and scripts that run between two waits.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace wintest {

void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
void MakeFolder(const std::string& path);
// Deletes the folder's content and, with `removeSelf`, the folder. Links are not followed.
void RemoveTree(const std::string& path, bool removeSelf = true);
std::string Pattern(size_t length, unsigned seed);  // reproducible bytes

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder() { RemoveTree(path_); }
    const std::string& Path() const { return path_; }  // without a trailing backslash
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

// A user's click (or double click) on a control; a list click hits the middle of `line`.
void PostClick(HWND control, int x, int y, bool twice = false);
void PostListClick(HWND list, int line);

HWND MainWindow();  // or null
HWND Control(int32_t identifier);
std::string WindowText(HWND window);
std::vector<std::string> ChildTexts(HWND window);  // in creation order
std::vector<std::string> ListLines(HWND list);

// Calls `onDialog` for every dialog-class window (#32770) that becomes active on this thread
// while it lives: message boxes and the folder picker.
class DialogWatcher {
  public:
    explicit DialogWatcher(std::function<void(HWND)> onDialog);
    ~DialogWatcher() { UnhookWindowsHookEx(hook_); }

  private:
    std::function<void(HWND)> onDialog_;
    HHOOK hook_;
};

// Steps that run one by one, each when the wait takes the message posted for it; the next
// step's message is posted after a step has run, so what a step posts comes first.
class Script {
  public:
    static constexpr UINT kStepMessage = WM_APP + 0x2A;
    Script();
    ~Script() { UnhookWindowsHookEx(hook_); }
    void Then(std::function<void()> step) { steps_.push_back(std::move(step)); }
    void Start() { PostThreadMessageA(GetCurrentThreadId(), kStepMessage, 0, 0); }
    bool Done() const { return steps_.empty(); }  // every step has run

  private:
    std::deque<std::function<void()>> steps_;
    HHOOK hook_;
};

}  // namespace wintest
