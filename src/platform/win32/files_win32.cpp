// The file system on Win32, ANSI throughout. Folder links (junctions, symbolic links) are
// listed like folders and so descended; the scan itself refuses a folder that is already on
// its descent path, which ends every loop such links can make. Files whose full path is too
// long for the ANSI calls are opened and deleted through the wide calls with a \\?\ path.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/win32_backend.h"

namespace platform {

struct OpenFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    int error = 0;
};

namespace {

constexpr DWORD kProgramPathBuffer = 500;
// Handles are not scarce on Windows; the search gains nothing from more than this.
constexpr size_t kHandleBudget = 2048;

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
    FileIdentity identity;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index =
        (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return identity;
}

int64_t Join(DWORD high, DWORD low) {
    return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

int64_t TimeOf(const FILETIME& time) {
    return Join(time.dwHighDateTime, time.dwLowDateTime);
}

bool IsNoHandles(DWORD error) {
    return error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NO_SYSTEM_RESOURCES;
}

// The wide \\?\ form of an ANSI path, which the system takes at any length.
std::wstring LongForm(const std::string& path) {
    int length =
        MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
    DWORD full = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (full > 0) {
        std::wstring absolute(full, L'\0');
        DWORD written = GetFullPathNameW(wide.c_str(), full, absolute.data(), nullptr);
        absolute.resize(written);
        wide = std::move(absolute);
    }
    if (wide.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + wide.substr(2);  // a share: \\server\share\...
    }
    return L"\\\\?\\" + wide;
}

// CreateFileA for paths it takes; the wide call with the \\?\ form for longer ones.
HANDLE OpenPath(const std::string& path, DWORD access, DWORD share, DWORD flags) {
    if (path.size() < MAX_PATH) {
        return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    }
    return CreateFileW(LongForm(path).c_str(), access, share, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

bool StampOfHandle(HANDLE handle, FileStamp& stamp, DWORD* attributes = nullptr) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) {
        return false;
    }
    stamp.identity = IdentityOf(information);
    stamp.length = Join(information.nFileSizeHigh, information.nFileSizeLow);
    stamp.modified = TimeOf(information.ftLastWriteTime);
    stamp.links = information.nNumberOfLinks;
    // A rename or a new name changes the change time, not the last write.
    FILE_BASIC_INFO basic;
    stamp.changed = GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)
                        ? basic.ChangeTime.QuadPart
                        : stamp.modified;
    if (attributes != nullptr) {
        *attributes = information.dwFileAttributes;
    }
    return true;
}

// The identity of a folder, through a handle that asks for no access to its content.
bool IdentityOfFolder(const std::string& folder, FileIdentity& identity, DWORD& error) {
    std::string path = folder;
    if (path.empty()) {
        path.push_back('.');  // the current folder, which the search text "*.*" lists
    } else if (path.back() == ':') {
        path.push_back('\\');  // "D:" alone would be the drive's current folder
    }
    HANDLE handle = OpenPath(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information;
    bool known = GetFileInformationByHandle(handle, &information) != 0;
    error = known ? 0 : GetLastError();
    CloseHandle(handle);
    if (known) {
        identity = IdentityOf(information);
    }
    return known;
}

void Describe(const WIN32_FIND_DATAA& found, ListingEntry& entry) {
    entry.name.assign(found.cFileName);
    entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.size = Join(found.nFileSizeHigh, found.nFileSizeLow);
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

// Windows sets no small per-process limit on handles: nothing to raise.
void RaiseOpenFileLimit() {}

size_t OpenFileBudget() {
    return kHandleBudget;
}

std::string ErrorText(int error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length)
                                                        : "error " + std::to_string(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

bool ReadFolder(const std::string& folder, const std::string& pattern, FolderListing& listing) {
    listing.entries.clear();
    listing.identityKnown = false;
    listing.error = 0;
    std::string searchText;
    if (!win32::FormSearchText(folder, pattern, searchText)) {
        listing.error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    DWORD ignored = 0;
    listing.identityKnown = IdentityOfFolder(folder, listing.identity, ignored);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(searchText.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A folder whose names all fail the pattern (or a drive root with no entries at all,
        // which lacks even "." and "..") is listed, just empty.
        listing.error = error == ERROR_FILE_NOT_FOUND ? 0 : static_cast<int>(error);
        return error == ERROR_FILE_NOT_FOUND;
    }
    do {
        Describe(found, listing.entries.emplace_back());
    } while (FindNextFileA(search, &found));
    DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        listing.error = static_cast<int>(error);  // the listing broke off
    }
    FindClose(search);
    return true;
}

OpenFile* OpenForReading(const std::string& path, FileStamp& stamp, OpenFailure& failure) {
    failure = OpenFailure{};
    HANDLE handle = OpenPath(path, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        failure.error = static_cast<int>(error);
        failure.noHandles = IsNoHandles(error);
        return nullptr;
    }
    // Without its identity and its length a file could be taken for another or for whole:
    // it counts as one that cannot be opened.
    DWORD attributes = 0;
    if (!StampOfHandle(handle, stamp, &attributes) ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        failure.error = static_cast<int>(
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_DIRECTORY : GetLastError());
        CloseHandle(handle);
        return nullptr;
    }
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
            file->error = static_cast<int>(GetLastError());
            return -1;
        }
        if (got == 0) {
            break;  // the end of the file
        }
        done += got;
    }
    return static_cast<int64_t>(done);
}

int ReadError(const OpenFile* file) {
    return file == nullptr ? ERROR_INVALID_HANDLE : file->error;
}

bool StampOfOpenFile(OpenFile* file, FileStamp& stamp) {
    return file != nullptr && StampOfHandle(file->handle, stamp);
}

bool StampOfPath(const std::string& path, FileStamp& stamp, int& error) {
    // The name itself, a link included, with no access to the content: any reader or writer
    // may hold the file meanwhile.
    HANDLE handle = OpenPath(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(GetLastError());
        return false;
    }
    bool known = StampOfHandle(handle, stamp);
    error = known ? 0 : static_cast<int>(GetLastError());
    CloseHandle(handle);
    return known;
}

void CloseFile(OpenFile* file) {
    if (file != nullptr) {
        CloseHandle(file->handle);
        delete file;
    }
}

RemoveOutcome RemoveFileIfUnchanged(const std::string& folder, const std::string& name,
                                    const ExpectedFile& expected) {
    FileIdentity folderIdentity;
    DWORD error = 0;
    if (!IdentityOfFolder(folder, folderIdentity, error)) {
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? RemoveOutcome::Changed
                   : RemoveOutcome::Failed;
    }
    if (!(folderIdentity == expected.folder)) {
        return RemoveOutcome::Changed;  // a folder on the way now leads elsewhere
    }
    // The file itself, not what a link there points to, held so that nobody may write, rename
    // or delete it until it is deleted through this very handle: nothing can come between the
    // check and the deletion.
    std::string path = folder + "\\" + name;
    HANDLE handle = OpenPath(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                             FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? RemoveOutcome::Changed
                   : RemoveOutcome::Failed;
    }
    FileStamp now;
    DWORD attributes = 0;
    RemoveOutcome outcome = RemoveOutcome::Failed;
    if (!StampOfHandle(handle, now, &attributes)) {
        outcome = RemoveOutcome::Failed;
    } else if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
               !(now.identity == expected.identity) || now.length != expected.length ||
               now.modified != expected.modified) {
        outcome = RemoveOutcome::Changed;
    } else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        outcome = RemoveOutcome::WriteProtected;  // as DeleteFileA refuses it
    } else {
        FILE_DISPOSITION_INFO disposition{TRUE};
        outcome = SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                             sizeof disposition)
                      ? RemoveOutcome::Removed
                      : RemoveOutcome::Failed;
    }
    CloseHandle(handle);
    return outcome;
}

}  // namespace platform
