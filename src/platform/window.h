// The windowing operations the core needs, as plain functions over control identifiers.
// One implementation is linked per executable: Win32 (Twinrake.exe), Qt 6 (twinrake) or the
// scripted fake of the tests. Text is the platform's own 8-bit text (Windows-1252 on Windows,
// UTF-8 and file-name bytes on Linux). An operation addressed to a control that does not
// exist does nothing (queries give 0 or -1). No exceptions cross this header.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Values returned by WaitForEvent.
inline constexpr int32_t kEventControl = 13100;  // a control raised an event
inline constexpr int32_t kEventClose = 16;       // the user asked to close the window

// The main window's style: overlapped, caption, system menu, visible; no sizing frame and no
// minimise or maximise box. Backends other than Win32 honour the meaning of these bits.
inline constexpr uint32_t kMainWindowStyle = 0x10C80000;

// The message box type of a box with a single OK button.
inline constexpr uint32_t kMessageBoxOk = 0;

enum class ControlKind { PushButton, Label, List, ProgressBar };

struct Box {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct MainWindow;  // opaque to the core

// Creates the main window with a client area of `clientWidth` x `clientHeight`, centred on
// the primary screen when `centred` is set, visible at once. nullptr if it cannot be made.
MainWindow* CreateMainWindow(int32_t number, int32_t clientWidth, int32_t clientHeight,
                             uint32_t style, bool centred, const std::string& title);

// Makes `window` the parent of the controls created next; false when there is no window.
bool SetControlParent(MainWindow* window);

// Creates one child control. `caption` may be null (lists and progress bars have none).
// A progress bar gets the range rangeMin..rangeMax and starts at rangeMin. A control that
// cannot be created is simply missing.
void CreateControl(int32_t identifier, ControlKind kind, const Box& box, const char* caption,
                   int32_t rangeMin, int32_t rangeMax);

// Blocks until the next message is taken and returns its value: kEventControl, kEventClose
// or any other value (no event). Returns once for every message taken.
int32_t WaitForEvent();

// The identifier of the control that raised the latest kEventControl.
int32_t ControlIdentifier();

// Lines to be appended to a list in one go: their texts back to back, each ended by a NUL
// byte; text after the last NUL would be one more line. A list fills from a batch far faster
// than line by line: it takes its storage once and redraws once.
struct LineBatch {
    std::string text;

    // Ends the line whose text was appended to `text` since the previous line ended.
    void EndLine() { text.push_back('\0'); }
    void Add(std::string_view line) {
        text.append(line);
        EndLine();
    }
    // Calls take(line) for every line, in order; each line is a string_view into `text`
    // followed by a NUL byte.
    template <typename Take>
    void ForEach(Take take) const {
        std::string_view rest = text;
        while (!rest.empty()) {
            size_t end = std::min(rest.find('\0'), rest.size());
            take(rest.substr(0, end));
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
    }
};

// List lines. Appending selects nothing; clearing leaves no line selected; removing moves
// the later lines up. SelectLine(list, -1) selects no line. Selections made here raise no
// control event. AppendLines appends the batch's lines in their order, exactly as that many
// AppendLine calls would.
void AppendLine(int32_t list, const std::string& text);
void AppendLines(int32_t list, LineBatch lines);
void ClearLines(int32_t list);
void RemoveLine(int32_t list, int32_t index);
int32_t CountLines(int32_t list);
int32_t SelectedIndex(int32_t list);  // -1 for none
void SelectLine(int32_t list, int32_t index);

void SetControlText(int32_t control, const std::string& text);
void EnableControl(int32_t control, bool disabled);
void SetProgress(int32_t bar, int32_t percent);

// Called while a command runs, at least every few tens of milliseconds: lets the window
// repaint and answer the window system (exposure, a desktop asking whether it still lives)
// without taking any input. Clicks, keys and close requests made meanwhile wait, and the
// command's end is where WaitForEvent takes them, in their order; no command starts and the
// loop does not end inside this call.
void KeepWindowAlive();

// Opens the folder picker with `title`, starting at `initialFolder` (may be empty). Returns
// the chosen folder ending with the path separator, or empty text on cancel or failure.
std::string PickFolder(const std::string& title, const std::string& initialFolder);

// Shows a message box owned by the foreground window and returns when it is dismissed.
void ShowMessageBox(const std::string& caption, const std::string& text, uint32_t type);

// Destroys the main window, its controls and whatever belongs to it; nothing if it is gone.
void CloseMainWindow(int32_t number);

}  // namespace platform
