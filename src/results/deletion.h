// The two commands that change the disk. Both delete at once, without asking, and keep the
// GroupList, the MemberList, LstGroups, LstMembers and the group caption in step.
#pragma once

#include <cstdint>

#include "catalogue/engine_state.h"

namespace twinrake {

// Deletes the file marked in LstMembers from the group selected in LstGroups.
void DeleteMarkedCommand(EngineState& state);

// Deletes every file of the group selected in LstGroups, its first member included.
void DeleteGroupCommand(EngineState& state);

// After line `removed` of `list` is gone: selects the line that followed it, or the new last
// line, or none when the list is empty.
void SelectAfterRemoval(int32_t list, int32_t removed);

}  // namespace twinrake
