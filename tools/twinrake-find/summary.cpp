#include "summary.h"

#include <cstdio>
#include <iterator>
#include <string>

#include "actions.h"

namespace cli {

namespace {

// "18008 bytes (17.6 KiB)"
std::string Bytes(uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    std::string text = std::to_string(bytes) + " bytes (";
    if (bytes < 1024) {
        return text + std::to_string(bytes) + " B)";
    }
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    // Past 1023.95 the one decimal would round up to 1024.0 of the smaller unit.
    while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", value);
    return text + number + " " + kUnits[unit] + ")";
}

std::string Count(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

void PrintSummary(const twinrake::GroupList& groups, const Options& options,
                  const ActionTally& tally) {
    uint64_t files = 0;
    uint64_t held = 0;
    uint64_t surplus = 0;
    for (const twinrake::DuplicateGroup& group : groups) {
        auto length = static_cast<uint64_t>(group.firstMember->compared.length);
        auto members = static_cast<uint64_t>(group.memberCount);
        files += members;
        held += length * members;
        surplus += length * (members - 1);
    }
    std::string line = Count(groups.size(), "group", "groups") + ", " +
                       Count(files, "file", "files") + ", " + Bytes(held);
    if (options.action == Action::kNone) {
        line += "; deleting all but the first file of each group would free " + Bytes(surplus);
    } else {
        line += "; " + ActionWord(options.action, options.dryRun) + " " +
                Count(tally.acted, "file", "files") + ", ";
        if (options.action == Action::kReflink) {
            line += Bytes(tally.freed) + (options.dryRun ? " would be shared" : " now shared");
        } else if (options.action == Action::kTrash) {
            line += Bytes(tally.freed) + (options.dryRun ? " would be moved" : " moved") +
                    " to the trash, nothing freed";
        } else {
            line += (options.dryRun ? "would free " : "freed ") + Bytes(tally.freed);
        }
        if (tally.left > 0) {
            line += "; " + Count(tally.left, "file", "files") + " left alone";
        }
    }
    line += "\n";
    std::fputs(line.c_str(), stderr);
}

}  // namespace cli
