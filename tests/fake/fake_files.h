#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"

namespace fakefs {

struct Entry {
    std::string name;
    bool isFolder = false;
    int64_t size = 0;
};

struct Folder {
    std::vector<Entry> entries;  // in listing order, "." and ".." included where wanted
    bool unlistable = false;
    int breaksAfter = -1;   // the listing fails after this many entries
    uint64_t identity = 0;  // 0 takes a fresh one per folder
    // Names the listing gives but that cannot be looked at (error 13), as in a folder that
    // may be read but not entered.
    std::vector<std::string> unreadable{};
};

// A file whose reads can fail or end early at a chosen offset.
struct File {
    std::string content;
    int64_t failsAt = -1;  // a read reaching this offset fails
    int64_t endsAt = -1;   // the data ends here although the length says more
    uint64_t inode = 0;    // the identity; 0 takes a fresh one per path
    int64_t modified = 0;  // last write
    // At this open (1 for the first) the file is rewritten with `changedContent` just before
    // it is opened; 0 never.
    int changesOnOpen = 0;
    std::string changedContent{};
    int opens = 0;
    uint64_t place = 0;  // where it lies on its disk
    // ReadAhead's offsets and counts: a record of the calls, kept also through a reader's view.
    mutable std::vector<std::pair<int64_t, int64_t>> askedAhead{};
};

inline constexpr int kNoHandles = 24;  // the error of an open refused for want of handles
inline constexpr int kReadFailed = 5;
inline constexpr int kNotFound = 2;
inline constexpr int kNotAllowed = 13;

struct Tree {
    std::string programDirectory = "/opt/twinrake/";
    std::map<std::string, Folder> folders;  // by folder text as the scan asks for it
    std::string currentDirectory;
    int madeCurrent = 0;
    std::vector<std::string> listed;
    std::vector<std::string> patterns;
    std::map<std::string, File> files;  // by full path
    int openFiles = 0;
    int mostOpenFiles = 0;
    int refusedOpens = 0;
    // Opens beyond this many files at once are refused for want of handles, although the
    // budget below says more may be open: something else in the process holds handles.
    int handleLimit = 1 << 30;
    size_t budget = 1024;             // what OpenFileBudget says
    bool spinning = false;            // what OnSpinningDisk says
    bool readsWait = false;           // what LastReadWaited says of every read
    std::vector<std::string> opened;  // every path opened, in order
};

Tree& State();
void Reset();
std::mutex& Lock();  // held while a folder is listed or a file opened or closed

}  // namespace fakefs
