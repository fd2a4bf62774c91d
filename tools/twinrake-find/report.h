// How twinrake-find writes what it found, and what it did, to standard output: one Report per
// output format, each in a file of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "actions.h"
#include "catalogue/lists.h"
#include "options.h"
#include "output.h"

namespace cli {

class Report {
  public:
    virtual ~Report() = default;
    // One group, in order. Without an action `outcomes` is empty; with one it holds what
    // happened to each member, the first included.
    virtual void Group(const twinrake::DuplicateGroup& group,
                       const std::vector<MemberOutcome>& outcomes) = 0;
    // After the last group: `freed` is what the action freed, or would free; `stopped` when a
    // signal ended the action before every group was reached.
    virtual void Finish(uint64_t freed, bool stopped) = 0;
};

// Text lines, or with `nulEnded` NUL-ended paths (--null).
std::unique_ptr<Report> LinesReport(Output& out, const Options& options, bool nulEnded);
// One JSON document (--json).
std::unique_ptr<Report> JsonReport(Output& out, const Options& options);

inline std::unique_ptr<Report> MakeReport(Output& out, const Options& options) {
    return options.format == Format::kJson
               ? JsonReport(out, options)
               : LinesReport(out, options, options.format == Format::kNull);
}

}  // namespace cli
