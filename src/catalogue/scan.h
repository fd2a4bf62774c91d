#pragma once

#include <cstdint>
#include <string>

#include "catalogue/lists.h"

namespace twinrake {

// Walks `folder` and everything below it, depth first and pre-order in the platform's listing
// order, and appends a FileEntry for every file found. `programDirectory` is made current
// first, so a relative folder is taken relative to the program's own folder. A folder that
// cannot be listed contributes nothing; nothing is reported.
void ScanFolder(FileCatalogue& catalogue, const std::string& programDirectory,
                const std::string& folder, const std::string& pattern, int32_t depth);

}  // namespace twinrake
