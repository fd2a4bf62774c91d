#include "detect/search.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <vector>

#include "app/controls.h"
#include "detect/compare.h"
#include "detect/identical_sets.h"
#include "platform/files.h"
#include "platform/window.h"
#include "results/views.h"

namespace twinrake {

namespace {

// The catalogue's files of positive size ordered by size, ties in catalogue order: the files
// of one size stand side by side here, the first of them first, without a walk over the
// whole catalogue for every file.
struct SizeIndex {
    std::vector<uint32_t> order;     // catalogue indexes
    std::vector<uint32_t> position;  // catalogue index -> place in `order`
};

SizeIndex BuildSizeIndex(const FileCatalogue& catalogue) {
    SizeIndex index;
    index.position.assign(static_cast<size_t>(catalogue.Count()), 0);
    for (uint32_t i = 0; i < index.position.size(); ++i) {
        if (catalogue[i].size > 0) {
            index.order.push_back(i);
        }
    }
    std::stable_sort(index.order.begin(), index.order.end(),
                     [&](uint32_t a, uint32_t b) { return catalogue[a].size < catalogue[b].size; });
    for (uint32_t at = 0; at < index.order.size(); ++at) {
        index.position[index.order[at]] = at;
    }
    return index;
}

std::string PathOf(const FileEntry& entry) {
    return FullPath(entry.directory(), entry.name());
}

bool HeadsItsSize(const SizeIndex& index, uint32_t entry, const FileCatalogue& catalogue) {
    uint32_t at = index.position[entry];
    return at == 0 || catalogue[index.order[at - 1]].size != catalogue[entry].size;
}

// Appends a group with its members, the first file first, all in catalogue order.
void AppendGroup(AppState& state, const std::vector<uint32_t>& set) {
    MemberList::iterator first = state.memberList.end();
    for (uint32_t entry : set) {
        const FileEntry& file = state.fileCatalogue[entry];
        auto member = state.memberList.insert(
            state.memberList.end(),
            GroupMember{std::string(file.directory()), std::string(file.name())});
        if (first == state.memberList.end()) {
            first = member;
        }
    }
    state.groupList.push_back(DuplicateGroup{static_cast<int32_t>(set.size()), first});
}

}  // namespace

void FindDuplicates(AppState& state) {
    state.groupList.clear();
    state.memberList.clear();
    ForgetProgress();
    FileCatalogue& catalogue = state.fileCatalogue;
    const int32_t total = catalogue.Count();
    int32_t done = 0;
    SizeIndex index = BuildSizeIndex(catalogue);
    // Sets found while their size was read, waiting for their first file's turn: the groups
    // then stand in the catalogue order of their first members.
    std::map<uint32_t, std::vector<uint32_t>> pending;
    std::vector<SizeClassFile> sameSize;

    for (uint32_t r = 0; r < static_cast<uint32_t>(total); ++r) {
        FileEntry& reference = catalogue[r];
        reference.matched = 0;
        ShowProgress(PrgFile, 0);
        if (reference.size > 0 && HeadsItsSize(index, r, catalogue)) {
            // The first file of its size: all files of this size are read now, together.
            sameSize.clear();
            for (size_t at = index.position[r]; at < index.order.size(); ++at) {
                const FileEntry& entry = catalogue[index.order[at]];
                if (entry.size != reference.size) {
                    break;
                }
                sameSize.push_back({index.order[at], PathOf(entry)});
            }
            if (sameSize.size() >= 2) {
                platform::MakeCurrentDirectory(state.programDirectory);
                for (auto& set : IdenticalSets(sameSize, reference.size)) {
                    // Placed in a group: kept out of later groups until its own turn.
                    for (size_t k = 1; k < set.size(); ++k) {
                        catalogue[set[k]].matched = 1;
                    }
                    uint32_t head = set.front();
                    pending.emplace(head, std::move(set));
                }
            }
        }
        if (auto found = pending.find(r); found != pending.end()) {
            AppendGroup(state, found->second);
            pending.erase(found);
        }
        done += 1;
        ShowProgress(PrgOverall, static_cast<int32_t>(int64_t{done} * 100 / total));
    }
    ShowProgress(PrgOverall, 0);
}

void SearchCommand(AppState& state) {
    FindDuplicates(state);
    RefreshViews(state, RefreshGroups);
}

}  // namespace twinrake
