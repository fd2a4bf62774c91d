// The file-system operations the core needs, as plain functions. One implementation per
// platform is linked in (posix for Linux, win32 for Windows); tests may link a scripted one.
// Text is the platform's own 8-bit text; nothing here converts it. No exceptions cross this
// header: failure is an empty text, false, nullptr or -1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// One entry of a folder listing.
struct ListingEntry {
    std::string name;
    bool isFolder = false;
    int32_t size = 0;  // low 32 bits of the size, taken as signed
};

struct Listing;  // one open folder enumeration

// Starts listing `folder` (without a trailing separator; "" names the root of the file
// system where there is one) with a name `pattern` ("*.*" or "" match every name). Yields
// the open listing and its first entry, or nullptr when the folder cannot be listed or
// holds no entry. The "." and ".." entries are delivered like any other, as folders.
Listing* ListFirst(const std::string& folder, const std::string& pattern, ListingEntry& entry);

// The next entry; false when the listing has ended or broke off.
bool ListNext(Listing* listing, ListingEntry& entry);

void ListClose(Listing* listing);

// What tells one physical file from another (device and inode, or volume serial and file
// index). Two open handles on the same file yield equal identities.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct OpenFile;  // a file open for reading

// OpenForReading, ReadBytes and CloseFile may run on several threads at once (the search reads
// files of different sizes side by side); the listing functions belong to one thread.

// Opens `path` for reading while others may still read it. Gives nullptr when it cannot be
// opened; otherwise its current length (all 64 bits) and its identity.
OpenFile* OpenForReading(const std::string& path, int64_t& length, FileIdentity& identity);

// Reads up to `count` bytes from the current position. Gives the number read, 0 at the end,
// -1 on a failure. Short reads happen only at the end of the file or on a failure.
int64_t ReadBytes(OpenFile* file, void* buffer, size_t count);

void CloseFile(OpenFile* file);

// Deletes the file at `path`; false if it could not be deleted. (Names here avoid the Win32
// macros such as DeleteFile, since windows.h is in scope in the win32 backend.)
bool RemoveFile(const std::string& path);

}  // namespace platform
