// The checks before a cleanup changes a member of a group, the same for the window's deletions
// and for twinrake-find's actions: a member goes (or gives up its bytes to a link or to shared
// blocks) only while it is still the file the search compared and another file, at that moment
// a separate physical file, still holds the same bytes. The calls that then commit are the
// platform's (files.h), each with the member checks once more just before it.
#pragma once

#include <string>

#include "catalogue/lists.h"
#include "catalogue/progress.h"
#include "detect/compare.h"
#include "platform/files.h"

namespace twinrake {

// Why a member was left as it was.
struct Refusal {
    enum class Why : uint8_t {
        kNone,
        kMember,  // the member is not as compared, or the system will not let it change: `error`
        kKept,    // the kept file is not as compared any more: `error`
        kNoCopy,  // the other file does not hold the member's bytes now: `comparison`
        kTrash,   // the trash cannot take the member: `error`
    };
    Why why = Why::kNone;
    platform::Error error;
    Comparison comparison;
    explicit operator bool() const { return why != Why::kNone; }
};

// The member as the platform's changes name it.
platform::MemberFile FileOf(const GroupMember& member);

// The kept copy as the platform's changes expect to find it: as the search compared it.
platform::KeptCopy KeptAsCompared(const GroupMember& kept);

// What CheckUnchanged finds of `member` and `kept`: the first checks of every change, which a
// real run makes before the byte comparison. Changes nothing.
Refusal UnchangedFor(platform::Change change, const GroupMember& member,
                     const platform::KeptCopy* kept, platform::ChangeReport& report);

// What ForecastChange finds for `change` of `member`; with `kept`, the kept copy must still be
// as `kept` describes it. Changes nothing.
Refusal ForecastFor(platform::Change change, const GroupMember& member,
                    const platform::KeptCopy* kept, platform::ChangeReport& report);

// Whether the file at `copyPath` holds the bytes of the member at `memberPath` right now, as a
// separate physical file.
Refusal CopyHoldsBytes(const std::string& programDirectory, const std::string& memberPath,
                       const std::string& copyPath, Progress& progress);

// Whether another member of `group` than `marked` holds the marked file's bytes right now, as a
// separate physical file: the condition for the marked file to go. `copy` receives the first
// such member as it was read, which the deletion then checks once more.
bool AnotherCopyRemains(const std::string& programDirectory, const DuplicateGroup& group,
                        MemberList::const_iterator marked, Progress& progress,
                        platform::KeptCopy& copy);

}  // namespace twinrake
