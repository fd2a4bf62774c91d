// A scripted file system for the scan: folders, their entries in listing order, and faults
// (a folder that cannot be listed, a listing that breaks off after some entries).
#include "fake_files.h"

#include <algorithm>
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
struct OpenFile {};

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

OpenFile* OpenForReading(const std::string&, int64_t&, FileIdentity&) {
    return nullptr;
}
int64_t ReadBytes(OpenFile*, void*, size_t) {
    return -1;
}
void CloseFile(OpenFile*) {}
bool RemoveFile(const std::string&) {
    return false;
}

}  // namespace platform
