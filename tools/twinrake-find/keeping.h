// Which member of a group stays: those below a reference folder are never acted on, and the
// kept copy is one of them where there is one; among the candidates --keep decides, ties by
// the order of the folders. A temporary name that a killed run left is never kept.
#pragma once

#include <cstdint>
#include <string_view>

#include "catalogue/lists.h"
#include "options.h"

namespace cli {

// Whether `path` lies below one of the reference folders of `options` (made absolute).
bool BelowReference(const Options& options, std::string_view path);

// What the rules make of a group.
struct Keeping {
    int32_t kept = 0;  // the member kept
    // None is acted on: every member lies below a reference folder, or (with reference folders)
    // none does.
    bool untouched = false;
};

Keeping ChooseKept(const twinrake::DuplicateGroup& group, const Options& options);

}  // namespace cli
