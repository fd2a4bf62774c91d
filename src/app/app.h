// Start-up, the event loop with its commands, and the end with the credits box.
#pragma once

#include <cstdint>

#include "app/state.h"

namespace twinrake {

inline constexpr const char* kPickerTitle = "Pfad hinzufügen...";
inline constexpr const char* kCreditsCaption = "Credits";
extern const char* const kCreditsText;

// The whole program: start-up, loop, shutdown. Returns the exit code, 0 on every path.
int RunTwinrake();

// Records ProgramDirectory and creates the window with its controls. False when the window
// cannot be made or cannot take controls; nothing is shown then.
bool StartUp(AppState& state);

// Waits for events until the window is closed, applying the control-state rules on every
// pass before a command runs.
void RunLoop(AppState& state);

// Destroys the window, then shows the credits box and waits for it.
void ShutDown();

// Enables and disables controls to match the data; controls not named keep their state.
void ApplyControlStates(const AppState& state);

// Runs the command bound to control `identifier`; events of other controls are ignored.
void RunCommand(AppState& state, int32_t identifier);

void AddFolderCommand(AppState& state);
// BtnSearch: FindDuplicates, then the group view.
void SearchCommand(AppState& state);
void ResetCommand(AppState& state);
void GroupSelectedCommand(AppState& state);

}  // namespace twinrake
