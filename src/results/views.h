#pragma once

#include <cstdint>

#include "catalogue/engine_state.h"

namespace twinrake {

// Bits of the RefreshViews mask; 0 alone empties the three lists and resets the captions.
inline constexpr int32_t RefreshAllFiles = 1;
inline constexpr int32_t RefreshGroups = 2;
inline constexpr int32_t RefreshMembers = 4;

inline constexpr const char* kAllFilesCaption = "Alle Dateien";
inline constexpr const char* kGroupsCaption = "Dateien mit gleichem Inhalt";
inline constexpr const char* kNoDuplicatesLine = "(keine doppelten Dateien)";

// Rebuilds the list views and captions that `mask` names from the three lists.
void RefreshViews(EngineState& state, int32_t mask);

// "Dateien mit gleichem Inhalt (n)" with the current number of groups.
void SetGroupCaption(const EngineState& state);

// A caption with a count, such as "Alle Dateien (12)".
std::string CaptionWithCount(const char* caption, int32_t count);

}  // namespace twinrake
