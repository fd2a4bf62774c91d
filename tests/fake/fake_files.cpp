// A scripted file system for the scan: folders, their entries in listing order, and faults
// (a folder that cannot be listed, a listing that breaks off after some entries).
#include "fake_files.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

namespace fakefs {

namespace {
Tree tree;
}  // namespace

Tree& State() {
    return tree;
}
void Reset() {
    tree = Tree();
}

}  // namespace fakefs

namespace platform {

struct Listing {
    const fakefs::Folder* folder = nullptr;
    size_t next = 0;
};
struct OpenFile {
    const fakefs::File* file = nullptr;
    int64_t position = 0;
};

std::string ProgramDirectory() {
    return fakefs::State().programDirectory;
}

bool MakeCurrentDirectory(const std::string& directory) {
    fakefs::State().currentDirectory = directory;
    fakefs::State().madeCurrent += 1;
    return true;
}

namespace {
bool Deliver(Listing* listing, ListingEntry& entry) {
    const fakefs::Folder& folder = *listing->folder;
    if (listing->next >= folder.entries.size() ||
        (folder.breaksAfter >= 0 && listing->next >= static_cast<size_t>(folder.breaksAfter))) {
        return false;
    }
    const fakefs::Entry& e = folder.entries[listing->next++];
    entry.name = e.name;
    entry.isFolder = e.isFolder;
    entry.size = e.size;
    return true;
}
}  // namespace

Listing* ListFirst(const std::string& folder, const std::string& pattern, ListingEntry& entry) {
    fakefs::Tree& t = fakefs::State();
    t.listed.push_back(folder);
    t.patterns.push_back(pattern);
    auto it = t.folders.find(folder);
    if (it == t.folders.end() || it->second.unlistable) {
        return nullptr;
    }
    auto* listing = new Listing{&it->second, 0};
    if (!Deliver(listing, entry)) {
        delete listing;
        return nullptr;
    }
    t.open += 1;
    t.maxOpen = std::max(t.maxOpen, t.open);
    return listing;
}

bool ListNext(Listing* listing, ListingEntry& entry) {
    return Deliver(listing, entry);
}

void ListClose(Listing* listing) {
    fakefs::State().open -= 1;
    fakefs::State().closed += 1;
    delete listing;
}

OpenFile* OpenForReading(const std::string& path, int64_t& length, FileIdentity& identity) {
    fakefs::Tree& t = fakefs::State();
    auto it = t.files.find(path);
    if (it == t.files.end()) {
        return nullptr;
    }
    length = static_cast<int64_t>(it->second.content.size());
    identity.volume = 1;
    identity.index = it->second.inode != 0
                         ? it->second.inode
                         : 1000 + static_cast<uint64_t>(std::distance(t.files.begin(), it));
    t.openFiles += 1;
    return new OpenFile{&it->second, 0};
}

int64_t ReadBytes(OpenFile* open, void* buffer, size_t count) {
    const fakefs::File& file = *open->file;
    int64_t end = static_cast<int64_t>(file.content.size());
    if (file.endsAt >= 0) {
        end = std::min(end, file.endsAt);
    }
    int64_t want =
        std::max<int64_t>(0, std::min<int64_t>(static_cast<int64_t>(count), end - open->position));
    if (file.failsAt >= 0 && open->position + want > file.failsAt) {
        return -1;
    }
    std::memcpy(buffer, file.content.data() + open->position, static_cast<size_t>(want));
    open->position += want;
    return want;
}

void CloseFile(OpenFile* open) {
    if (open != nullptr) {
        fakefs::State().openFiles -= 1;
        delete open;
    }
}
bool RemoveFile(const std::string&) {
    return false;
}

}  // namespace platform
