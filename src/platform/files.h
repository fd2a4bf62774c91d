// The file-system operations the core needs, as plain functions. One implementation per
// platform is linked in (posix for Linux, win32 for Windows); tests may link a scripted one.
// Text is the platform's own 8-bit text; nothing here converts it.
//
// One error convention holds for every function below: an operation that can fail returns an
// Error, and an Error that tests false is success. Otherwise its kind says what happened in
// the same words on every platform, so that every caller tells "gone" from "not allowed" from
// "broken" alike, and its code is the system's own (errno, GetLastError) for ErrorText. What an
// operation gives back through its reference arguments is valid only on success, unless its
// comment says otherwise. No exceptions cross this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class ErrorKind : uint8_t {
    None,            // success
    Gone,            // the path names nothing (any more), or a folder on it is no folder
    NotAllowed,      // the system does not let this user do it
    NoHandles,       // no descriptor or handle left; passes once other files are closed
    Changed,         // the file is no longer the one expected, or not as expected
    WriteProtected,  // the file's own rights keep it from being changed
    Unsupported,     // the file system or the platform cannot do this
    NameLimit,       // the file has as many names as its file system gives one file
    InUse,           // another program holds the file open for writing
    Unguarded,       // no lease could be had where one was required; nothing was changed
    Broken,          // anything else: an input/output error, a name too long, a loop of links
};

// Marked so that no caller drops one by accident; one that means to ignore it says so.
struct [[nodiscard]] Error {
    ErrorKind kind = ErrorKind::None;
    int code = 0;  // the system's code; 0 for Changed and WriteProtected, which have none

    explicit operator bool() const { return kind != ErrorKind::None; }
    bool Is(ErrorKind other) const { return kind == other; }
    bool operator==(const Error&) const = default;
};

// The Error for a system code, of the kind the code stands for; Error{} for 0.
Error SystemError(int code);
inline Error Failed(ErrorKind kind) {
    return Error{kind, 0};
}

// The system's own words for an error, or ours for an error without a system code.
std::string ErrorText(const Error& error);

// Our words for an error of `kind` that has no system code; the backends' ErrorText use them.
inline const char* OwnWords(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::None:
            return "no error";
        case ErrorKind::Changed:
            return "changed since it was compared";
        case ErrorKind::WriteProtected:
            return "write-protected";
        case ErrorKind::NameLimit:
            return "too many links";
        case ErrorKind::InUse:
            return "open for writing by another program";
        case ErrorKind::Unguarded:
            return "no lease to be had";
        default:
            return "failed";
    }
}

// The separator between a folder and a name in full paths.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The folder of the running executable, ending with kPathSeparator.
Error ProgramDirectory(std::string& directory);

// Makes `directory` the process's current directory.
Error MakeCurrentDirectory(const std::string& directory);

// `path` as an absolute path: relative to the current directory, with "." parts and repeated
// separators left out. ".." parts stay where a link could make them mean something else.
// Fails when the current directory itself cannot be named (it was deleted).
Error AbsolutePath(const std::string& path, std::string& absolute);

// Raises the number of files this process may hold open as far as the system lets it (on
// Linux the soft limit to the hard one). Called once at start-up; a refusal changes nothing.
void RaiseOpenFileLimit();

// How many files the search may hold open at once, all its threads together: what the limit
// in force leaves after the files already open and a reserve for the rest of the program.
// At least 2.
size_t OpenFileBudget();

// What tells one physical file from another (device and inode, or volume serial and file
// index). Two open handles on the same file yield equal identities.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What a file looks like at one moment: enough to tell whether it is still the file that was
// read, unchanged.
struct FileStamp {
    FileIdentity identity;
    int64_t length = 0;
    int64_t modified = 0;  // last write of the content, in the platform's finest unit
    int64_t changed = 0;   // last change of content or description (names, rights)
    uint64_t links = 0;    // number of names
};

// One entry of a folder listing.
struct ListingEntry {
    std::string name;
    bool isFolder = false;
    int64_t size = 0;  // the true size, all 64 bits; 0 for a link and anything but a file
};

// An entry whose name the listing gave but that could not be looked at.
struct UnreadableEntry {
    std::string name;
    Error error;
};

// A folder's whole listing, read at once.
struct FolderListing {
    std::vector<ListingEntry> entries;  // in the platform's order; "." and ".." as folders
    // Entries that could not be looked at (a folder the user may read but not enter). They
    // are not among `entries`: their size and kind are unknown. An entry that vanished
    // between the listing and the look at it is in neither.
    std::vector<UnreadableEntry> unreadable;
    FileIdentity identity;  // of the folder listed
    bool identityKnown = false;
    Error brokeOff;  // why the listing broke off part-way; `entries` holds what came before
};

// Reads the listing of `folder` (without a trailing separator; "" names the root of the file
// system where there is one), keeping the names that match `pattern` ("*.*" or "" match every
// name), and closes it again: nothing stays open. On failure the folder could not be listed
// at all and `listing` holds no entries.
Error ReadFolder(const std::string& folder, const std::string& pattern, FolderListing& listing);

struct OpenFile;  // a file open for reading

// ReadFolder, OpenForReading, ReadBytes, StampOfPath and CloseFile may run
// on several threads at once: the scan lists folders ahead of its walk, and the search reads
// files of different sizes side by side.

// Opens the regular file `path` for reading while others may still read it, at any path length,
// not following a link in its last part, and gives the file's stamp at the moment of opening.
// Anything but a regular file fails as Broken.
Error OpenForReading(const std::string& path, OpenFile*& file, FileStamp& stamp);

// Reads up to `count` bytes from the current position; `got` says how many, 0 at the end.
// Fewer than `count` only at the end. On failure `got` is 0.
Error ReadBytes(OpenFile* file, void* buffer, size_t count, size_t& got);

// The same from `offset` on, leaving the current position where it was.
Error ReadBytesAt(OpenFile* file, int64_t offset, void* buffer, size_t count, size_t& got);

// Whether the last read of `file` had to wait for the disk, or the page cache held what it
// asked for; unknown where the system cannot tell (then how long the read took must do).
enum class DiskWait : uint8_t { kUnknown, kNo, kYes };
DiskWait LastReadWaited(const OpenFile* file);

// Asks the system to bring `count` bytes from `offset` into memory without waiting for them,
// so that the reads of many open files wait for the disk together rather than one after
// another. A hint only: nothing where the system takes none.
void ReadAhead(OpenFile* file, int64_t offset, size_t count);

// The stamp of what `path` names now, not following a link in its last part.
Error StampOfPath(const std::string& path, FileStamp& stamp);

void CloseFile(OpenFile* file);

// A folder held open, so that the files in it are opened and looked at by their names alone:
// the system then walks no path from the root for each of them.
struct HeldFolder;

// How many folders the search may hold open besides its files (OpenFileBudget): what the
// limit in force leaves after both; 0 where the platform holds none.
size_t FolderHoldBudget();

// Holds `folder` when it is still the folder with `identity` (Changed when another is there
// now); Unsupported where the platform holds no folders.
Error HoldFolder(const std::string& folder, const FileIdentity& identity, HeldFolder*& held);
// HoldFolder for the folder `below` a held folder (a relative path as OpenForReadingIn takes,
// not empty): the system then walks only the folders between, not the whole path.
Error HoldFolderIn(const HeldFolder* above, std::string_view below, const FileIdentity& identity,
                   HeldFolder*& held);
void ReleaseFolder(HeldFolder* held);

// OpenForReading for the file `name` in the folder `below` a held folder (`below` a relative
// path of at most a few thousand bytes, or empty for the held folder itself). Like that, it
// may run on several threads at once, also on one folder.
Error OpenForReadingIn(const HeldFolder* folder, std::string_view below, std::string_view name,
                       OpenFile*& file, FileStamp& stamp);

// Whether `path` lies on a disk that turns, which reads fastest one request at a time and in
// the order of its blocks. A virtual disk says it turns whatever backs it and counts as not;
// so does anything unknown.
bool OnSpinningDisk(const std::string& path);

// Where the open file's data begins on its disk, to read many files in that order. Where the
// file system does not say, the file's index: most hand out inode numbers in about the order
// of their blocks.
uint64_t PlaceOnDisk(OpenFile* file);

// What a change to a member of a group expects to find: the file the user was shown, as the
// search compared it.
struct ExpectedFile {
    FileIdentity folder;  // the folder that holds it, as its listing gave it
    FileIdentity identity;
    int64_t length = 0;
    int64_t modified = 0;
    // The last change of its content or description. Unlike the last write, no program can
    // set it back, so a rewrite that restores the last write still shows here.
    int64_t changed = 0;
};

// The changes a cleanup makes to a member, each only while the member is still the file the
// search compared. The member is named by its folder and its name in that folder.
//
// Every change below first checks, in the member's folder held open: the folder is still the
// one `expected.folder` names; the name there is still that very regular file, unchanged
// (identity, length, last write, last change), its last part not followed if it is a link;
// and, but for sharing blocks, it is not write-protected (Changed or WriteProtected); nor is
// it open for writing by another program (InUse). The kept copy, where there is one, must
// still be the file it is described as (Changed, with ChangeReport::keptRefused). Where the
// system gives this user a lease on the two, no program can write to either from their last
// check until the change is done; a program that tries waits, and the change is undone.
// Then the member's name is never simply removed: the member first moves to a temporary name
// in its folder, and only what is found there to be the member goes. So a file that another
// program puts at the member's name meanwhile is never touched; it gets its name back.
// Temporary names begin with kTemporaryPrefix.
enum class Change : uint8_t { kRemove, kLink, kShareBlocks, kTrash };

// The start of every temporary name a change makes: ".twinrake-PID-N-" and the start of
// the member's own name. A change in hand leaves none behind; a killed process may.
inline constexpr std::string_view kTemporaryPrefix = ".twinrake-";
inline bool IsTemporaryName(std::string_view name) {
    if (name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix) {
        return false;
    }
    size_t at = kTemporaryPrefix.size();
    for (int number = 0; number < 2; ++number) {
        const size_t digits = at;
        while (at < name.size() && name[at] >= '0' && name[at] <= '9') {
            ++at;
        }
        if (at == digits || at == name.size() || name[at] != '-') {
            return false;
        }
        ++at;
    }
    return true;
}

// What a change found before it was made, or what it would find now.
struct ChangeReport {
    uint64_t names = 0;      // the member's names just before
    uint64_t keptNames = 0;  // the kept file's names (kLink)
    // The most names the kept file's file system gives one file, where it is known; 0 where
    // not (kLink).
    uint64_t nameLimit = 0;
    // After kLink: the kept file's last change, which the new name moved on. What the next
    // change expects of the kept file.
    int64_t keptChanged = 0;
    int64_t shared = 0;  // after kShareBlocks: the bytes shared now
    // Set when the error concerns the kept file (not as described, or gone), not the member.
    bool keptRefused = false;
    // kTrash: the trash folder meant for the member, and (on success) where the member is now;
    // `trashRefused` when the error concerns the trash.
    std::string trash;
    std::string trashedAs;
    bool trashRefused = false;
    // Set when a file that another program put at the member's name meanwhile could not get
    // that name back (yet another file took it): the temporary name it now has, in the same
    // folder. Nothing was removed.
    std::string strandedAt;
};

// A member of a group as a change names it: its folder, its name in that folder, and the file
// it is expected to be.
struct MemberFile {
    std::string folder;
    std::string name;
    ExpectedFile expected;
};

// The copy that keeps the member's bytes once the member has gone or given them up: its path,
// and the file it is expected to be (its folder is not looked at). It is checked and guarded
// as the member is, so that it cannot change between its last check and the call that commits.
struct KeptCopy {
    std::string path;
    ExpectedFile expected;
};

// The first of the checks above, alone: the member (not write-protected, but for kShareBlocks)
// and the kept copy are still as described. Cheaper than ForecastChange: no lease, no look at
// what the system would allow. `report` receives the names of both. Changes nothing.
Error CheckUnchanged(Change change, const MemberFile& member, const KeptCopy* kept,
                     ChangeReport& report);

// Every check that `change` makes before it changes anything, and what it would meet, without
// changing anything: besides the checks above, the folder lets this user remove and make
// names in it (rights, a sticky folder, a read-only mount, an immutable file); for kLink the
// kept file lies on the same mount and the system lets this user link to it; for
// kShareBlocks the file system can share blocks between the two. `kept` may be null for
// kRemove.
Error ForecastChange(Change change, const MemberFile& member, const KeptCopy* kept,
                     ChangeReport& report);

// Whether a change goes on where the system gives no lease. A caller that skipped comparing the
// bytes once more, since the stamps show that nothing changed, requires one: only a lease
// proves that no program holds the file open for writing (through a mapping, say), and
// without one the change stops, changing nothing, with Unguarded.
enum class Guarding : uint8_t { kIfGiven, kRequired };

// Deletes the member after the checks above, and with `kept` only while that copy is still as
// described. The file stays on disk on every failure.
Error RemoveFileIfUnchanged(const MemberFile& member, const KeptCopy* kept = nullptr,
                            ChangeReport* report = nullptr, Guarding guarding = Guarding::kIfGiven);

// Replaces the member by another name of the kept file, after the checks above. Where the
// system can swap two names, the link is made under a temporary name and swapped with the
// member, so that the member's name names the old file or the kept one at every moment;
// elsewhere the member steps aside, the link is made at its free name (which fails should
// the name have come back) and the member goes after the kept file was checked once more.
// Any doubt puts the member back. Both must lie on one mount (Unsupported otherwise);
// NameLimit when the kept file has all the names it may have.
Error ReplaceWithLink(const MemberFile& member, const KeptCopy& kept, ChangeReport& report,
                      Guarding guarding = Guarding::kIfGiven);

// Moves the member to the desktop's trash after the checks above, as RemoveFileIfUnchanged would
// delete it: on Linux the freedesktop.org trash of its own file system, with a .trashinfo that
// a file manager restores it from (never a copy to another file system); on Windows the
// Recycle Bin. The file stays where it is on every failure.
Error MoveToTrash(const MemberFile& member, const KeptCopy* kept, ChangeReport& report,
                  Guarding guarding = Guarding::kIfGiven);

// Lets the file system share the kept file's blocks with the member, after the checks above.
// The file system compares the bytes itself, under its own lock, and shares nothing where
// they differ (Changed). The member keeps its own identity, owner, rights and times.
// Unsupported where the file system or the platform cannot share blocks.
Error ShareBlocks(const MemberFile& member, const KeptCopy& kept, ChangeReport& report);

}  // namespace platform
