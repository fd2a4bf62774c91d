// The file system on Win32, ANSI throughout. Folder links (junctions, symbolic links) are
// listed like folders and so descended; a listing of a folder that is already open further up
// the descent is refused, which ends every loop such links can make.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/win32_backend.h"

namespace platform {

struct Listing {
    HANDLE search = INVALID_HANDLE_VALUE;
    bool identityKnown = false;
    FileIdentity identity;
};

struct OpenFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace {

constexpr DWORD kProgramPathBuffer = 500;

// The listings open right now. A scan holds exactly those of the folders on its descent path.
std::vector<Listing*>& OpenListings() {
    static std::vector<Listing*> listings;
    return listings;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
    FileIdentity identity;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index =
        (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return identity;
}

// The identity of a folder, through a handle that asks for no access to its content.
bool FolderIdentity(const std::string& folder, FileIdentity& identity) {
    std::string path = folder;
    if (path.empty()) {
        path.push_back('.');  // the current folder, which the search text "*.*" lists
    } else if (path.back() == ':') {
        path.push_back('\\');  // "D:" alone would be the drive's current folder
    }
    HANDLE handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information;
    bool known = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    if (known) {
        identity = IdentityOf(information);
    }
    return known;
}

void Describe(const WIN32_FIND_DATAA& found, ListingEntry& entry) {
    entry.name.assign(found.cFileName);
    entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.size = static_cast<int32_t>(found.nFileSizeLow);
}

}  // namespace

namespace win32 {

bool FormSearchText(const std::string& folder, const std::string& pattern, std::string& text) {
    std::string formed = folder;
    if (!formed.empty() && formed.back() != '\\') {
        formed.push_back('\\');
    }
    formed.append(pattern.empty() ? std::string("*.*") : pattern);
    if (formed.size() > kMaxSearchText) {
        return false;
    }
    text = std::move(formed);
    return true;
}

}  // namespace win32

std::string ProgramDirectory() {
    char path[kProgramPathBuffer];
    DWORD length = GetModuleFileNameA(nullptr, path, kProgramPathBuffer);
    if (length == 0 || length >= kProgramPathBuffer) {
        return {};  // unknown, or cut short by the buffer
    }
    std::string text(path, length);
    size_t backslash = text.rfind('\\');
    return backslash == std::string::npos ? std::string() : text.substr(0, backslash + 1);
}

bool MakeCurrentDirectory(const std::string& directory) {
    return !directory.empty() && SetCurrentDirectoryA(directory.c_str()) != 0;
}

Listing* ListFirst(const std::string& folder, const std::string& pattern, ListingEntry& entry) {
    std::string searchText;
    if (!win32::FormSearchText(folder, pattern, searchText)) {
        return nullptr;
    }
    auto listing = new Listing;
    listing->identityKnown = FolderIdentity(folder, listing->identity);
    if (listing->identityKnown) {
        for (const Listing* open : OpenListings()) {
            if (open->identityKnown && open->identity == listing->identity) {
                delete listing;  // a link back to a folder on the descent path
                return nullptr;
            }
        }
    }
    WIN32_FIND_DATAA found;
    listing->search = FindFirstFileA(searchText.c_str(), &found);
    if (listing->search == INVALID_HANDLE_VALUE) {
        delete listing;
        return nullptr;
    }
    Describe(found, entry);
    OpenListings().push_back(listing);
    return listing;
}

bool ListNext(Listing* listing, ListingEntry& entry) {
    if (listing == nullptr) {
        return false;
    }
    WIN32_FIND_DATAA found;
    if (!FindNextFileA(listing->search, &found)) {
        return false;
    }
    Describe(found, entry);
    return true;
}

void ListClose(Listing* listing) {
    if (listing == nullptr) {
        return;
    }
    std::vector<Listing*>& open = OpenListings();
    open.erase(std::remove(open.begin(), open.end(), listing), open.end());
    FindClose(listing->search);
    delete listing;
}

OpenFile* OpenForReading(const std::string& path, int64_t& length, FileIdentity& identity) {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // Without its identity and its length a file could be taken for another or for whole:
    // it counts as one that cannot be opened.
    BY_HANDLE_FILE_INFORMATION information;
    LARGE_INTEGER size;
    if (!GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        return nullptr;
    }
    identity = IdentityOf(information);
    length = size.QuadPart;
    return new OpenFile{handle};
}

int64_t ReadBytes(OpenFile* file, void* buffer, size_t count) {
    if (file == nullptr) {
        return -1;
    }
    constexpr size_t kLargestRequest = size_t{1} << 30;
    auto* at = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        DWORD want = static_cast<DWORD>(std::min(count - done, kLargestRequest));
        DWORD got = 0;
        if (!ReadFile(file->handle, at + done, want, &got, nullptr)) {
            return -1;
        }
        if (got == 0) {
            break;  // the end of the file
        }
        done += got;
    }
    return static_cast<int64_t>(done);
}

void CloseFile(OpenFile* file) {
    if (file != nullptr) {
        CloseHandle(file->handle);
        delete file;
    }
}

bool RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

}  // namespace platform
