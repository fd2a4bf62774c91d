// FindDuplicates: the search over the whole catalogue (the map of its stages is in search.cpp).
#pragma once

#include <cstdint>

#include "catalogue/engine_state.h"

namespace twinrake {

// What a search may be told beyond the engine's state: for the tests and the benchmarks.
struct SearchTuning {
    // How many threads read the sizes' files; 0 as the disk wants them (one per core while
    // the files come from memory, sixteen per core (16 to 32) once reads wait for the disk,
    // one alone on a disk that turns).
    int32_t readers = 0;
    // At most this many folders held open for the search's opens; fewer where the descriptor
    // limit leaves less room.
    size_t heldFolders = SIZE_MAX;
    // At most this many sizes of many files read at once; 0: one per core.
    size_t largeSizesAtOnce = 0;
};

// Rebuilds the GroupList and MemberList from the whole FileCatalogue. Every set of two or more
// files of one positive size whose bytes are all identical becomes a group: its first member
// is the set's earliest file in catalogue order, the others follow in catalogue order, and
// the groups stand in the order of their first members. A file never stands twice among the
// groups under two names (a repeat in the catalogue, a hard link, PossiblySameFile).
// state.progress hears the whole search's share (of catalogued files whose turn has come)
// and the current size's (the reading of large files), both ending at 0. Files that could
// not be read or changed while they were read join no group; state.passedOver, when set, is
// told of each.
void FindDuplicates(EngineState& state, const SearchTuning& tuning = {});

}  // namespace twinrake
