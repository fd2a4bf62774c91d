#include "detect/search.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "app/controls.h"
#include "detect/compare.h"
#include "platform/window.h"
#include "results/views.h"

namespace twinrake {

namespace {

// The catalogue's files of positive size ordered by size, ties in catalogue order, so that
// the candidates of a reference are the entries that follow it here while the size is the
// same: the same candidates, in the same order, as a walk over the whole rest of the
// catalogue, without that walk's quadratic cost.
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

}  // namespace

void FindDuplicates(AppState& state) {
    state.groupList.clear();
    state.memberList.clear();
    ForgetProgress();
    FileCatalogue& catalogue = state.fileCatalogue;
    const int32_t total = catalogue.Count();
    int32_t done = 0;
    SizeIndex index = BuildSizeIndex(catalogue);
    // The identities of the open group's files, the reference's first.
    std::vector<platform::FileIdentity> groupFiles;

    for (uint32_t r = 0; r < static_cast<uint32_t>(total); ++r) {
        FileEntry& reference = catalogue[r];
        reference.matched = 0;
        DuplicateGroup* group = nullptr;
        groupFiles.clear();
        ShowProgress(PrgFile, 0);
        std::string referencePath;
        if (reference.size > 0) {
            for (size_t at = index.position[r] + 1; at < index.order.size(); ++at) {
                FileEntry& candidate = catalogue[index.order[at]];
                if (candidate.size != reference.size) {
                    break;
                }
                if (candidate.matched != 0) {
                    continue;
                }
                if (referencePath.empty()) {
                    referencePath = PathOf(reference);
                }
                PairResult result = ComparePair(state.programDirectory, PathOf(candidate),
                                                referencePath, candidate.size, true, groupFiles);
                if (result.verdict == PairVerdict::SameFile) {
                    // Another name for a file already placed: keep it out of every group.
                    candidate.matched = 1;
                    continue;
                }
                if (result.verdict != PairVerdict::Identical) {
                    continue;
                }
                if (group == nullptr) {
                    auto first = state.memberList.insert(
                        state.memberList.end(), GroupMember{std::string(reference.directory()),
                                                            std::string(reference.name())});
                    group = &state.groupList.emplace_back(DuplicateGroup{1, first});
                    groupFiles.push_back(result.secondIdentity);
                }
                group->memberCount += 1;
                state.memberList.push_back(
                    GroupMember{std::string(candidate.directory()), std::string(candidate.name())});
                groupFiles.push_back(result.firstIdentity);
                candidate.matched = 1;
            }
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
