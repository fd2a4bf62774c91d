// The Win32 backend's own helpers beyond platform/window.h and platform/files.h: the path
// rules of the folder picker and of the folder listing as pure functions, and hooks that let
// tests answer the folder picker and slow reading down. Only the backend and its tests include
// this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform::win32 {

// The picker's start folder lives in a buffer of this many bytes, terminator included.
inline constexpr size_t kPickerBufferSize = 256;

// Copies `initialFolder` into `buffer` as the picker's start folder: longer than three
// characters, it loses one trailing backslash (D:\Photos\ -> D:\Photos; D:\ stays). A folder
// that does not fit even then leaves the buffer empty (the picker starts at the desktop):
// a shortened text would name another folder. Never writes past the buffer.
void FillPickerStart(const std::string& initialFolder, char (&buffer)[kPickerBufferSize]);

// The picker's result from the path that the shell converted: with a trailing backslash
// (D:\Photos -> D:\Photos\, D:\ -> D:\); empty stays empty.
std::string FinishPickedFolder(const std::string& converted);

// The longest search text handed to FindFirstFileA.
inline constexpr size_t kMaxSearchText = 254;

// The listing's search text: `folder`, a backslash unless `folder` is empty or ends with one,
// then `pattern` or "*.*" for an empty pattern. False (and `text` untouched) when it would
// be longer than kMaxSearchText: such a folder is not listed.
bool FormSearchText(const std::string& folder, const std::string& pattern, std::string& text);

#ifdef TWINRAKE_TEST_HOOKS
// When set, PickFolder calls this instead of showing the shell's dialog: it gets the title
// and the prepared start folder and returns whether a folder was chosen, filling `converted`
// as the shell's path conversion would (no trailing backslash except on a drive root).
using PickerAnswer =
    std::function<bool(const std::string& title, const char* startFolder, std::string& converted)>;
void SetPickerAnswer(PickerAnswer answer);

// When set, called on the reading thread after every successful ReadBytes: a test can make a
// search take as long as it needs. Set it only while nothing reads.
void SetAfterRead(std::function<void()> hook);
#endif

}  // namespace platform::win32
