#include "oracle.h"

#include <sys/stat.h>

#include <fstream>

namespace testing_support {

using twinrake::FileEntry;
using twinrake::FullPath;

Groups GroupsOf(const twinrake::EngineState& state) {
    Groups out;
    for (const twinrake::DuplicateGroup& group : state.groupList) {
        std::vector<std::string> members;
        auto member = group.firstMember;
        for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
            members.push_back(FullPath(member->directory(), member->name()));
        }
        out.push_back(members);
    }
    return out;
}

bool Identity::SameFile(const Identity& other) const {
    return inode == other.inode &&
           (device == other.device || (size == other.size && modified == other.modified));
}

bool IdentityOf(const std::string& path, Identity& identity) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return false;
    }
    identity = {info.st_dev, info.st_ino, info.st_size,
                info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec};
    return true;
}

namespace {

int LiteralCompare(const std::string& first, const std::string& second, int64_t size) {
    std::ifstream a(first, std::ios::binary);
    if (!a) {
        return 0;
    }
    std::ifstream b(second, std::ios::binary);
    if (!b) {
        return 0;
    }
    for (int64_t p = 1; p <= size; ++p) {
        char x = 0;
        char y = 0;
        if (!a.get(x) || !b.get(y) || x != y) {
            return 0;
        }
    }
    return 1;
}

}  // namespace

Groups OracleGroups(const twinrake::FileCatalogue& catalogue) {
    std::vector<uint8_t> matched(static_cast<size_t>(catalogue.Count()), 0);
    Groups out;
    for (size_t r = 0; r < matched.size(); ++r) {
        matched[r] = 0;
        const FileEntry& reference = catalogue[r];
        std::string referencePath = FullPath(reference.directory(), reference.name());
        std::vector<std::string>* group = nullptr;
        std::vector<Identity> placed;
        for (size_t c = r + 1; c < matched.size(); ++c) {
            const FileEntry& candidate = catalogue[c];
            if (candidate.size != reference.size || candidate.size <= 0 || matched[c] != 0) {
                continue;
            }
            std::string candidatePath = FullPath(candidate.directory(), candidate.name());
            Identity ci{};
            Identity ri{};
            if (IdentityOf(candidatePath, ci) && IdentityOf(referencePath, ri)) {
                bool same = ci.SameFile(ri);
                for (const Identity& p : placed) {
                    same = same || ci.SameFile(p);
                }
                if (same) {
                    matched[c] = 1;
                    continue;
                }
            }
            if (LiteralCompare(candidatePath, referencePath, candidate.size) == 1) {
                if (group == nullptr) {
                    out.push_back({referencePath});
                    group = &out.back();
                    placed.push_back(ri);
                }
                group->push_back(candidatePath);
                placed.push_back(ci);
                matched[c] = 1;
            }
        }
    }
    return out;
}

}  // namespace testing_support
