// Helpers of the Windows tests: scratch folders and files through Win32, window-creation
// records, simulated mouse and keyboard input, and scripts that run between two waits.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace wintest {

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }  // without a trailing backslash
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadAll(const std::string& path);
bool Exists(const std::string& path);
void MakeFolder(const std::string& path);
// Deletes the folder's content; with `removeSelf` the folder too. Links are not followed.
void RemoveTree(const std::string& path, bool removeSelf = true);
// A reproducible byte sequence of `length` bytes.
std::string Pattern(size_t length, unsigned seed);
// The names in one folder in the platform's listing order, without "." and "..".
std::vector<std::string> RawListing(const std::string& folder);

// One CreateWindowExA call as the window system saw it.
struct CreatedWindow {
    HWND handle = nullptr;
    std::string className;
    bool hasName = false;
    std::string name;
    DWORD style = 0;
    DWORD extendedStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    HWND parent = nullptr;
    INT_PTR menu = 0;
};

// Records every window created on this thread while it lives.
class CreationRecorder {
  public:
    CreationRecorder();
    ~CreationRecorder();
    const std::vector<CreatedWindow>& Windows() const;
    const CreatedWindow* Find(HWND handle) const;
};

// Calls `onDialog` for every dialog-class window (#32770) that becomes active on this thread
// while it lives: message boxes and the folder picker.
class DialogWatcher {
  public:
    explicit DialogWatcher(std::function<void(HWND)> onDialog);
    ~DialogWatcher();
};

// The texts of a window's children, in creation order.
std::vector<std::string> ChildTexts(HWND window);

// Mouse input as a user's click on a control, posted to the control.
void PostClick(HWND control, int x, int y);
void PostDoubleClick(HWND control, int x, int y);
// Clicks the middle of line `line` of a list box.
void PostListClick(HWND list, int line);
// A Tab key press (with Shift if `shift`) posted to the focused window.
void PostTab(bool shift);

// Steps that run one by one, each when the wait takes the message posted for it. The next
// step's message is posted only after a step has run, so whatever a step posts is taken
// before the next step runs.
class Script {
  public:
    Script();
    ~Script();
    void Then(std::function<void()> step);
    void Start();  // posts the first step's message
    int Executed() const;
    int Total() const;
};

// The main window of the program, or null.
HWND MainWindow();
HWND Control(int32_t identifier);
std::string WindowText(HWND window);
std::vector<std::string> ListLines(HWND list);

}  // namespace wintest
