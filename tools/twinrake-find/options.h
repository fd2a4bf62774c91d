// What the user asked twinrake-find for, from its command line.
#pragma once

#include <string>
#include <vector>

#include "catalogue/scan_filter.h"

namespace cli {

// Exit statuses. 64 and 74 are EX_USAGE and EX_IOERR of <sysexits.h>, which mingw lacks.
inline constexpr int kComplete = 0;
inline constexpr int kPassedOver = 1;  // something was passed over or left alone
inline constexpr int kNothingListed = 2;
inline constexpr int kUsageError = 64;
inline constexpr int kWriteError = 74;

enum class Format { kLines, kNull, kJson };

// What is done to every member of a group but the one kept.
enum class Action { kNone, kDelete, kLink, kReflink, kTrash };

// Which member of a group is kept (among those below reference folders, where there are any).
enum class Keep { kFirst, kNewest, kOldest, kShortestPath };

struct Options {
    Format format = Format::kLines;
    Action action = Action::kNone;
    Keep keep = Keep::kFirst;
    bool dryRun = false;
    bool summary = false;
    bool quiet = false;
    std::vector<std::string> references;  // as given; searched first, never acted on
    std::vector<std::string> folders;     // as given
    twinrake::ScanFilter filter;
};

// Reads the command line into `options`. Gives -1 to go on, or the status to end with at once
// (after --help or --version, or a usage error it has described on standard error).
int ParseOptions(int argc, char** argv, Options& options);

}  // namespace cli
