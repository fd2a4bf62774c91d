// What the user asked twinrake-find for, from its command line.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Exit statuses. 64 and 74 are EX_USAGE and EX_IOERR of <sysexits.h>, which mingw lacks.
inline constexpr int kComplete = 0;
inline constexpr int kPassedOver = 1;  // something was passed over or left alone
inline constexpr int kNothingListed = 2;
inline constexpr int kUsageError = 64;
inline constexpr int kWriteError = 74;

enum class Format { kLines, kNull, kJson };

// What is done to every member of a group but the first.
enum class Action { kNone, kDelete, kLink, kReflink };

struct Options {
    Format format = Format::kLines;
    Action action = Action::kNone;
    bool dryRun = false;
    bool summary = false;
    bool quiet = false;
    std::vector<std::string> folders;  // as given
};

// Reads the command line into `options`. Gives -1 to go on, or the status to end with at once
// (after --help or --version, or a usage error it has described on standard error).
int ParseOptions(int argc, char** argv, Options& options);

}  // namespace cli
