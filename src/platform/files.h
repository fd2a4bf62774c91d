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

// ReadFolder, OpenForReading, ReadBytes, StampOfOpenFile, StampOfPath and CloseFile may run
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

// The open file's stamp as it is now.
Error StampOfOpenFile(OpenFile* file, FileStamp& stamp);

// The stamp of what `path` names now, not following a link in its last part.
Error StampOfPath(const std::string& path, FileStamp& stamp);

void CloseFile(OpenFile* file);

// Whether `path` lies on a disk that turns, which reads fastest one request at a time and in
// the order of its blocks. A virtual disk says it turns whatever backs it and counts as not;
// so does anything unknown.
bool OnSpinningDisk(const std::string& path);

// Where the open file's data begins on its disk, to read many files in that order. Where the
// file system does not say, the file's index: most hand out inode numbers in about the order
// of their blocks.
uint64_t PlaceOnDisk(OpenFile* file);

// What a deletion expects to find: the file the user was shown, as the search compared it.
struct ExpectedFile {
    FileIdentity folder;  // the folder that holds it, as its listing gave it
    FileIdentity identity;
    int64_t length = 0;
    int64_t modified = 0;
};

// Whether `folder` is still the folder `expected` names and `name` in it is still that very
// regular file (identity, length, modification time), its last part not followed if it is a
// link, and, with `writable`, not write-protected. Changes nothing. Changed when the path no
// longer names that file as it was (gone, replaced, rewritten, a folder on the way swapped),
// WriteProtected for a read-only file or one its owner may not write.
Error CheckFileUnchanged(const std::string& folder, const std::string& name,
                         const ExpectedFile& expected, bool writable);

// Deletes `name` in `folder` only while CheckFileUnchanged(..., writable) holds; the check and
// the deletion are as close together as the system allows. The file stays on disk on every
// failure. `names`, when given, receives how many names the file had just before.
Error RemoveFileIfUnchanged(const std::string& folder, const std::string& name,
                            const ExpectedFile& expected, uint64_t* names = nullptr);

// Replaces `name` in `folder` by another name of the file at `keptPath`: only while
// CheckFileUnchanged(..., writable) holds for it and `keptPath` still names the file `kept`
// describes (identity, length, modification time). The new name is made under a temporary
// name in `folder` and then takes the place of `name` in one step where the system allows it,
// so that `name` always names either the old file or the kept one; no temporary name is left
// behind on failure. Both must lie on one file system (Unsupported otherwise). `names`
// receives how many names the replaced file had just before.
Error ReplaceWithLink(const std::string& keptPath, const ExpectedFile& kept,
                      const std::string& folder, const std::string& name,
                      const ExpectedFile& expected, uint64_t& names);

// Lets the file system share the blocks of the file at `keptPath` with `name` in `folder`,
// while both are still the files `kept` and `expected` describe. The file system compares the
// bytes itself, under its own lock, and shares nothing where they differ (Changed). `name`
// keeps its own identity, owner, rights and times. Unsupported where the file system or the
// platform cannot share blocks. `shared` receives how many bytes are shared now.
Error ShareBlocks(const std::string& keptPath, const ExpectedFile& kept, const std::string& folder,
                  const std::string& name, const ExpectedFile& expected, int64_t& shared);

}  // namespace platform
