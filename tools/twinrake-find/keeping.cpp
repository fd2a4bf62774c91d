#include "keeping.h"

#include <string>
#include <vector>

#include "platform/files.h"

namespace cli {

namespace {

// Whether member `a` is to be kept rather than `b`, which comes later in the group.
bool Better(Keep rule, const twinrake::GroupMember& a, const twinrake::GroupMember& b) {
    switch (rule) {
        case Keep::kNewest:
            return a.compared.modified >= b.compared.modified;
        case Keep::kOldest:
            return a.compared.modified <= b.compared.modified;
        case Keep::kShortestPath:
            return a.directory().size() + a.name().size() <= b.directory().size() + b.name().size();
        case Keep::kFirst:
            break;
    }
    return true;
}

}  // namespace

bool BelowReference(const Options& options, std::string_view path) {
    for (const std::string& reference : options.references) {
        if (reference.size() == 1 && reference[0] == platform::kPathSeparator) {
            return true;  // the root holds everything
        }
        if (path.size() > reference.size() && path.substr(0, reference.size()) == reference &&
            path[reference.size()] == platform::kPathSeparator) {
            return true;
        }
    }
    return false;
}

Keeping ChooseKept(const twinrake::DuplicateGroup& group, const Options& options) {
    // The candidates: the members below reference folders where there are any; else those with
    // a name of their own; else all.
    std::vector<int32_t> references, own, all;
    std::vector<twinrake::MemberList::const_iterator> members;
    auto member = group.firstMember;
    for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
        members.push_back(member);
        all.push_back(k);
        if (BelowReference(options, twinrake::FullPath(*member))) {
            references.push_back(k);
        } else if (!platform::IsTemporaryName(member->name())) {
            own.push_back(k);
        }
    }
    const std::vector<int32_t>& candidates = !references.empty() ? references
                                             : !own.empty()      ? own
                                                                 : all;
    Keeping keeping;
    // With reference folders, only what they already hold goes.
    keeping.untouched = static_cast<int32_t>(references.size()) == group.memberCount ||
                        (!options.references.empty() && references.empty());
    keeping.kept = candidates.front();
    for (int32_t k : candidates) {
        if (!Better(options.keep, *members[static_cast<size_t>(keeping.kept)],
                    *members[static_cast<size_t>(k)])) {
            keeping.kept = k;
        }
    }
    return keeping;
}

}  // namespace cli
