// The file-system operations the core needs, as plain functions. One implementation per
// platform is linked in (posix for Linux, win32 for Windows); tests may link a scripted one.
// Text is the platform's own 8-bit text; nothing here converts it. No exceptions cross this
// header: failure is an empty text, false, nullptr or -1, with the system's error code where
// one is asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The separator between a folder and a name in full paths.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The folder of the running executable, ending with kPathSeparator; empty if unknown.
std::string ProgramDirectory();

// Makes `directory` the process's current directory. The result may be ignored.
bool MakeCurrentDirectory(const std::string& directory);

// Raises the number of files this process may hold open as far as the system lets it (on
// Linux the soft limit to the hard one). Called once at start-up.
void RaiseOpenFileLimit();

// How many files the search may hold open at once, all its threads together: what the limit
// in force leaves after the files already open and a reserve for the rest of the program.
// At least 2.
size_t OpenFileBudget();

// The system's own words for an error code given by the functions below.
std::string ErrorText(int error);

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
    int64_t size = 0;  // the true size, all 64 bits; 0 for a link
};

// A folder's whole listing, read at once.
struct FolderListing {
    std::vector<ListingEntry> entries;  // in the platform's order; "." and ".." as folders
    FileIdentity identity;              // of the folder listed
    bool identityKnown = false;
    int error = 0;  // why the folder could not be listed or its listing broke off; 0 if neither
};

// Reads the listing of `folder` (without a trailing separator; "" names the root of the file
// system where there is one), keeping the names that match `pattern` ("*.*" or "" match every
// name), and closes it again: nothing stays open. False when the folder cannot be listed;
// true with the entries read so far and `error` set when the listing broke off part-way.
bool ReadFolder(const std::string& folder, const std::string& pattern, FolderListing& listing);

struct OpenFile;  // a file open for reading

// Why an open failed: `error` is the system's code; `noHandles` says the process or the
// system had no descriptor or handle left, which passes once other files are closed.
struct OpenFailure {
    int error = 0;
    bool noHandles = false;
};

// OpenForReading, ReadBytes, StampOfOpenFile, StampOfPath and CloseFile may run
// on several threads at once (the search reads files of different sizes side by side);
// ReadFolder belongs to one thread.

// Opens the regular file `path` for reading while others may still read it, at any path length,
// not following a link in its last part. Gives nullptr when it cannot be opened (`failure`
// says why); otherwise the file's stamp at the moment of opening.
OpenFile* OpenForReading(const std::string& path, FileStamp& stamp, OpenFailure& failure);

// Reads up to `count` bytes from the current position. Gives the number read, 0 at the end,
// -1 on a failure (ReadError tells why). Short reads happen only at the end or on a failure.
int64_t ReadBytes(OpenFile* file, void* buffer, size_t count);
int ReadError(const OpenFile* file);

// The open file's stamp as it is now.
bool StampOfOpenFile(OpenFile* file, FileStamp& stamp);

// The stamp of what `path` names now, not following a link in its last part.
bool StampOfPath(const std::string& path, FileStamp& stamp, int& error);

void CloseFile(OpenFile* file);

// What a deletion expects to find: the file the user was shown, as the search compared it.
struct ExpectedFile {
    FileIdentity folder;  // the folder that holds it, as its listing gave it
    FileIdentity identity;
    int64_t length = 0;
    int64_t modified = 0;
};

enum class RemoveOutcome {
    Removed,
    Changed,         // the path no longer names that file, unchanged: left alone
    WriteProtected,  // read-only, or its owner may not write it: left alone
    Failed,          // it could not be checked or deleted
};

// Deletes `name` in `folder` only while `folder` is still the folder `expected` names and
// `name` in it is still that very regular file (identity, length, modification time), its last
// part not followed if it is a link, and it is not write-protected. The check and the deletion
// are as close together as the system allows.
RemoveOutcome RemoveFileIfUnchanged(const std::string& folder, const std::string& name,
                                    const ExpectedFile& expected);

}  // namespace platform
