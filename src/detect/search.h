#pragma once

#include "app/state.h"

namespace twinrake {

// Rebuilds the GroupList and MemberList from the whole FileCatalogue: every catalogued file in
// turn is the reference, compared with every later unmatched file of the same positive size;
// each reference heads a group of the files found identical to it. A file never joins a group
// that already holds it physically (a repeat in the catalogue or a hard link): such a
// candidate is marked as placed but not added.
void FindDuplicates(AppState& state);

// BtnSearch: FindDuplicates, then the group view.
void SearchCommand(AppState& state);

}  // namespace twinrake
