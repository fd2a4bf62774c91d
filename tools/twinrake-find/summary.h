// The one line of --summary, on standard error.
#pragma once

#include <cstdint>

#include "catalogue/lists.h"
#include "options.h"

namespace cli {

// What was done, for the summary of an action.
struct ActionTally {
    uint64_t acted = 0;  // members acted on (or, in a dry run, that could be)
    uint64_t left = 0;   // members left alone
    uint64_t freed = 0;  // bytes freed (or that would be); shared bytes for --reflink
};

void PrintSummary(const twinrake::GroupList& groups, const Options& options,
                  const ActionTally& tally);

}  // namespace cli
