#pragma once

#include "app/state.h"

namespace twinrake {

// Rebuilds the GroupList and MemberList from the whole FileCatalogue. Every set of two or more
// files of one positive size whose bytes are all identical becomes a group: its first member
// is the set's earliest file in catalogue order, the others follow in catalogue order, and
// the groups stand in the order of their first members. A file never stands twice among the
// groups under two names (a repeat in the catalogue, a hard link). PrgOverall shows the share
// of catalogued files whose turn has come, PrgFile the reading of large files; both end at 0.
void FindDuplicates(AppState& state);

// BtnSearch: FindDuplicates, then the group view.
void SearchCommand(AppState& state);

}  // namespace twinrake
