// What the engine keeps between a scan, a search and a cleanup: the three lists and those
// told of its work. The window keeps more (app/state.h); twinrake-find keeps only this.
#pragma once

#include <string>

#include "catalogue/lists.h"
#include "catalogue/passed_over.h"
#include "catalogue/progress.h"

namespace twinrake {

struct EngineState {
    // The folder of the program's own executable, ending with the separator; made current
    // before every folder listing and every file open, so that a relative path is taken from
    // there.
    std::string programDirectory;
    FileCatalogue fileCatalogue;
    GroupList groupList;
    MemberList memberList;
    // Told of everything the scan and the search pass over; unset in the window.
    PassedOverSink passedOver;
    // Told how far the scan, the search and the deletions have got.
    Progress* progress = &Unwatched();
};

}  // namespace twinrake
