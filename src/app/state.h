// Everything the program keeps between two commands, owned by start-up and handed by
// reference to the routines.
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/lists.h"
#include "catalogue/passed_over.h"
#include "catalogue/progress.h"

namespace twinrake {

struct AppState {
    // The folder of the program's own executable, ending with the separator; made current
    // before every folder listing and every file open.
    std::string programDirectory;
    FileCatalogue fileCatalogue;
    GroupList groupList;
    MemberList memberList;
    // The folder added last, exactly as the picker returned it: the picker's initial folder
    // and the guard against adding the same folder twice in a row.
    std::string lastFolder;
    int32_t lastEvent = 0;
    // Told of everything the scan and the search pass over; unset in the window.
    PassedOverSink passedOver;
    // Told how far the scan, the search and the deletions have got.
    Progress* progress = &Unwatched();
};

}  // namespace twinrake
