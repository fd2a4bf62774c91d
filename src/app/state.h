// Everything the program keeps between two commands, owned by start-up and handed by
// reference to the routines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "catalogue/lists.h"

namespace twinrake {

// A folder that could not be listed, or a file that could not be read or changed while it was
// read, and the system's reason. The window stays silent about them; twinrake-find names each.
struct PassedOver {
    std::string path;
    std::string reason;
};

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
    // Told, on the thread that runs the scan or the search, of everything passed over. Unset in
    // the window.
    std::function<void(const PassedOver&)> passedOver;
};

}  // namespace twinrake
