#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"

namespace fakefs {

struct Entry {
    std::string name;
    bool isFolder = false;
    int32_t size = 0;
};

struct Folder {
    std::vector<Entry> entries;  // in listing order, "." and ".." included where wanted
    bool unlistable = false;
    int breaksAfter = -1;  // the listing fails after this many entries
};

// A file whose reads can fail or end early at a chosen offset.
struct File {
    std::string content;
    int64_t failsAt = -1;  // a read reaching this offset fails
    int64_t endsAt = -1;   // the data ends here although the length says more
    uint64_t inode = 0;    // the identity; 0 takes a fresh one per path
};

struct Tree {
    std::string programDirectory = "/opt/twinrake/";
    std::map<std::string, Folder> folders;  // by folder text as the scan asks for it
    std::string currentDirectory;
    int madeCurrent = 0;
    std::vector<std::string> listed;
    std::vector<std::string> patterns;
    int open = 0;
    int maxOpen = 0;
    int closed = 0;
    std::map<std::string, File> files;  // by full path
    int openFiles = 0;
};

Tree& State();
void Reset();

}  // namespace fakefs
