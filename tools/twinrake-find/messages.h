// What twinrake-find says on standard error of what it passed over or left alone: one message
// per thing, "twinrake-find: PATH: REASON". A name may hold any byte but NUL and '/', so a
// name that would break a message apart is quoted; with --null messages end with a NUL byte
// and hold names as they are, as the output does.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// Whether messages end with a NUL byte (and quote nothing) rather than a newline.
void SetMessagesNulEnded(bool nulEnded);
bool MessagesNulEnded();

// `text` as it is, unless it holds a control character; then quoted as GNU ls and rm quote
// such a name (shell-escape style): 'a'$'\n''b' for "a", a newline and "b".
std::string Quoted(std::string_view text);

// A path or name for a message: Quoted, or as it is where messages are NUL-ended.
std::string ForMessage(std::string_view text);

// "twinrake-find: MESSAGE" on standard error, the message taken as it is.
void Say(const std::string& message);

// "twinrake-find: PATH: REASON" on standard error, PATH as ForMessage gives it; the reason
// is taken as it is.
void Complain(const std::string& path, const std::string& reason);

}  // namespace cli
