// Everything the program keeps between two commands, owned by start-up and handed by
// reference to the routines: the engine's state and what only the window needs.
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/engine_state.h"

namespace twinrake {

struct AppState : EngineState {
    // The folder added last, exactly as the picker returned it: the picker's initial folder
    // and the guard against adding the same folder twice in a row.
    std::string lastFolder;
    int32_t lastEvent = 0;
};

}  // namespace twinrake
