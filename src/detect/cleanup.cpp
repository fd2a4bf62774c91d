#include "detect/cleanup.h"

namespace twinrake {

platform::MemberFile FileOf(const GroupMember& member) {
    return platform::MemberFile{std::string(member.directory()), std::string(member.name()),
                                member.compared};
}

platform::KeptCopy KeptAsCompared(const GroupMember& kept) {
    return platform::KeptCopy{FullPath(kept), kept.compared};
}

Refusal UnchangedFor(platform::Change change, const GroupMember& member,
                     const platform::KeptCopy* kept, platform::ChangeReport& report) {
    if (platform::Error error = platform::CheckUnchanged(change, FileOf(member), kept, report)) {
        return Refusal{report.keptRefused ? Refusal::Why::kKept : Refusal::Why::kMember, error, {}};
    }
    return Refusal{};
}

Refusal ForecastFor(platform::Change change, const GroupMember& member,
                    const platform::KeptCopy* kept, platform::ChangeReport& report) {
    if (platform::Error error = platform::ForecastChange(change, FileOf(member), kept, report)) {
        return Refusal{report.keptRefused    ? Refusal::Why::kKept
                       : report.trashRefused ? Refusal::Why::kTrash
                                             : Refusal::Why::kMember,
                       error,
                       {}};
    }
    return Refusal{};
}

Refusal CopyHoldsBytes(const std::string& programDirectory, const std::string& memberPath,
                       const std::string& copyPath, Progress& progress) {
    Comparison comparison = CompareContents(programDirectory, memberPath, copyPath, progress);
    if (comparison.likeness == Likeness::kSame) {
        return Refusal{};
    }
    return Refusal{Refusal::Why::kNoCopy, {}, comparison};
}

bool AnotherCopyRemains(const std::string& programDirectory, const DuplicateGroup& group,
                        MemberList::const_iterator marked, Progress& progress,
                        platform::KeptCopy& copy) {
    const std::string markedPath = FullPath(*marked);
    MemberList::const_iterator member = group.firstMember;
    for (int32_t k = 0; k < group.memberCount; ++k, ++member) {
        if (member == marked) {
            continue;
        }
        copy.path = FullPath(*member);
        Comparison comparison = CompareContents(programDirectory, markedPath, copy.path, progress);
        if (comparison.likeness == Likeness::kSame) {
            const platform::FileStamp& read = comparison.secondStamp;
            copy.expected = platform::ExpectedFile{member->compared.folder, read.identity,
                                                   read.length, read.modified, read.changed};
            return true;
        }
    }
    return false;
}

}  // namespace twinrake
