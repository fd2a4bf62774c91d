// A scripted file system: folders, their entries in listing order, and faults (a folder that
// cannot be listed, a listing that breaks off, reads that fail or end early, opens refused for
// want of handles).
#include "fake_files.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>

namespace fakefs {

namespace {
Tree tree;
}  // namespace

// The search opens and closes files on several threads.
std::mutex& Lock() {
    static std::mutex mutex;
    return mutex;
}

Tree& State() {
    return tree;
}
void Reset() {
    tree = Tree();
}

}  // namespace fakefs

namespace platform {

struct OpenFile {
    const fakefs::File* file = nullptr;
    FileStamp stamp;
    int64_t position = 0;
};

Error SystemError(int code) {
    switch (code) {
        case 0:
            return Error{};
        case fakefs::kNotFound:
            return Error{ErrorKind::Gone, code};
        case fakefs::kNoHandles:
            return Error{ErrorKind::NoHandles, code};
        case fakefs::kNotAllowed:
            return Error{ErrorKind::NotAllowed, code};
        default:
            return Error{ErrorKind::Broken, code};
    }
}

std::string ErrorText(const Error& error) {
    return error.code != 0 ? "error " + std::to_string(error.code) : "changed";
}

Error ProgramDirectory(std::string& directory) {
    directory = fakefs::State().programDirectory;
    return Error{};
}

Error MakeCurrentDirectory(const std::string& directory) {
    fakefs::State().currentDirectory = directory;
    fakefs::State().madeCurrent += 1;
    return Error{};
}

Error AbsolutePath(const std::string& path, std::string& absolute) {
    absolute = path.empty() || path.front() != '/' ? fakefs::State().currentDirectory + path : path;
    return Error{};
}

void RaiseOpenFileLimit() {}

size_t OpenFileBudget() {
    return fakefs::State().budget;
}

namespace {

FileIdentity FolderIdentityOf(const std::string& folder, const fakefs::Folder& entry) {
    return FileIdentity{2, entry.identity != 0 ? entry.identity : std::hash<std::string>()(folder)};
}

FileStamp StampOf(const std::string& path, const fakefs::File& file) {
    const auto& files = fakefs::State().files;
    FileStamp stamp;
    stamp.identity.volume = 1;
    stamp.identity.index =
        file.inode != 0
            ? file.inode
            : 1000 + static_cast<uint64_t>(std::distance(files.begin(), files.find(path)));
    stamp.length = static_cast<int64_t>(file.content.size());
    stamp.modified = file.modified;
    stamp.changed = file.modified;
    stamp.links = 1;
    return stamp;
}

}  // namespace

Error ReadFolder(const std::string& folder, const std::string& pattern, FolderListing& listing) {
    std::lock_guard lock(fakefs::Lock());  // the scan lists folders on several threads
    fakefs::Tree& t = fakefs::State();
    t.listed.push_back(folder);
    t.patterns.push_back(pattern);
    listing = FolderListing{};
    auto it = t.folders.find(folder);
    if (it == t.folders.end() || it->second.unlistable) {
        return SystemError(fakefs::kNotFound);
    }
    const fakefs::Folder& f = it->second;
    for (const fakefs::Entry& e : f.entries) {
        if (f.breaksAfter >= 0 && listing.entries.size() >= static_cast<size_t>(f.breaksAfter)) {
            listing.brokeOff = SystemError(fakefs::kReadFailed);
            break;
        }
        listing.entries.push_back(ListingEntry{e.name, e.isFolder, e.size});
    }
    for (const std::string& name : f.unreadable) {
        listing.unreadable.push_back(UnreadableEntry{name, SystemError(fakefs::kNotAllowed)});
    }
    listing.identity = FolderIdentityOf(folder, f);
    listing.identityKnown = true;
    return Error{};
}

Error OpenForReading(const std::string& path, OpenFile*& open, FileStamp& stamp) {
    std::lock_guard lock(fakefs::Lock());
    fakefs::Tree& t = fakefs::State();
    if (t.openFiles >= t.handleLimit) {
        t.refusedOpens += 1;
        return SystemError(fakefs::kNoHandles);
    }
    auto it = t.files.find(path);
    if (it == t.files.end()) {
        return SystemError(fakefs::kNotFound);
    }
    fakefs::File& file = it->second;
    t.opened.push_back(path);
    if (++file.opens == file.changesOnOpen) {
        file.content = file.changedContent;
        file.modified += 1;
    }
    stamp = StampOf(path, file);
    t.openFiles += 1;
    t.mostOpenFiles = std::max(t.mostOpenFiles, t.openFiles);
    open = new OpenFile{&it->second, stamp};
    return Error{};
}

Error ReadBytes(OpenFile* open, void* buffer, size_t count, size_t& got) {
    const fakefs::File& file = *open->file;
    int64_t end = static_cast<int64_t>(file.content.size());
    if (file.endsAt >= 0) {
        end = std::min(end, file.endsAt);
    }
    int64_t want =
        std::max<int64_t>(0, std::min<int64_t>(static_cast<int64_t>(count), end - open->position));
    got = 0;
    if (file.failsAt >= 0 && open->position + want > file.failsAt) {
        return SystemError(fakefs::kReadFailed);
    }
    std::memcpy(buffer, file.content.data() + open->position, static_cast<size_t>(want));
    open->position += want;
    got = static_cast<size_t>(want);
    return Error{};
}

Error ReadBytesAt(OpenFile* open, int64_t offset, void* buffer, size_t count, size_t& got) {
    int64_t position = open->position;
    open->position = offset;
    Error error = ReadBytes(open, buffer, count, got);
    open->position = position;
    return error;
}

void ReadAhead(OpenFile* open, int64_t offset, size_t count) {
    std::lock_guard lock(fakefs::Lock());
    open->file->askedAhead.push_back({offset, static_cast<int64_t>(count)});
}

DiskWait LastReadWaited(const OpenFile*) {
    return fakefs::State().readsWait ? DiskWait::kYes : DiskWait::kNo;
}

Error StampOfPath(const std::string& path, FileStamp& stamp) {
    std::lock_guard lock(fakefs::Lock());
    auto it = fakefs::State().files.find(path);
    if (it == fakefs::State().files.end()) {
        return SystemError(fakefs::kNotFound);
    }
    stamp = StampOf(path, it->second);
    return Error{};
}

bool OnSpinningDisk(const std::string&) {
    return fakefs::State().spinning;
}

uint64_t PlaceOnDisk(OpenFile* open) {
    return open->file->place;
}

void CloseFile(OpenFile* open) {
    std::lock_guard lock(fakefs::Lock());
    if (open != nullptr) {
        fakefs::State().openFiles -= 1;
        delete open;
    }
}

// The scripted file system changes nothing: every change fails.
Error CheckUnchanged(Change, const MemberFile&, const KeptCopy*, ChangeReport&) {
    return SystemError(fakefs::kReadFailed);
}
Error ForecastChange(Change, const MemberFile&, const KeptCopy*, ChangeReport&) {
    return SystemError(fakefs::kReadFailed);
}
Error RemoveFileIfUnchanged(const MemberFile&, const KeptCopy*, ChangeReport*, Guarding) {
    return SystemError(fakefs::kReadFailed);
}
Error ReplaceWithLink(const MemberFile&, const KeptCopy&, ChangeReport&, Guarding) {
    return SystemError(fakefs::kReadFailed);
}
Error MoveToTrash(const MemberFile&, const KeptCopy*, ChangeReport&, Guarding) {
    return SystemError(fakefs::kReadFailed);
}
Error ShareBlocks(const MemberFile&, const KeptCopy&, ChangeReport&) {
    return SystemError(fakefs::kReadFailed);
}

}  // namespace platform
