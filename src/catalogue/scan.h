#pragma once

#include <string>

#include "catalogue/lists.h"
#include "catalogue/passed_over.h"
#include "catalogue/progress.h"
#include "catalogue/scan_filter.h"

namespace twinrake {

// Walks `folder` and everything below it, depth first and pre-order in the platform's listing
// order, and appends a FileEntry for every file found: every name but "." and ".." (the
// pattern "*.*" of every listing). `programDirectory` is made current
// first, so a relative folder is taken relative to the program's own folder. A folder's
// listing is read whole and closed before any of its subfolders is listed, so neither the
// depth nor the open-file limit cuts the walk short. A folder that cannot be listed
// contributes nothing, and a folder that leads back to one above it (a link) is not walked
// again; `passedOver`, when set, is told of both and of listings that broke off. `progress`
// hears the catalogue grow. With `filter`, what it leaves out is neither catalogued nor named,
// and a folder it leaves out is not listed. False when `folder` itself could not be listed.
bool ScanFolder(FileCatalogue& catalogue, const std::string& programDirectory,
                const std::string& folder, const PassedOverSink& passedOver = {},
                Progress& progress = Unwatched(), const ScanFilter* filter = nullptr);

}  // namespace twinrake
