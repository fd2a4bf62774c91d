// The file system on Win32, ANSI throughout. Folder links (junctions, symbolic links) are
// listed like folders and so descended; the scan itself refuses a folder that is already on
// its descent path, which ends every loop such links can make. Files whose full path is too
// long for the ANSI calls are opened and deleted through the wide calls with a \\?\ path.
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/win32_backend.h"

namespace platform {

struct OpenFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
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

Error LastError() {
    return SystemError(static_cast<int>(GetLastError()));
}

// An ANSI text in the system's wide form.
std::wstring Wide(const std::string& text) {
    int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// The wide \\?\ form of an ANSI path, which the system takes at any length.
std::wstring LongForm(const std::string& path) {
    std::wstring wide = Wide(path);
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

Error StampOfHandle(HANDLE handle, FileStamp& stamp, DWORD* attributes = nullptr) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) {
        return LastError();
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
    return Error{};
}

// The identity of a folder, through a handle that asks for no access to its content.
Error IdentityOfFolder(const std::string& folder, FileIdentity& identity) {
    std::string path = folder;
    if (path.empty()) {
        path.push_back('.');  // the current folder, which the search text "*.*" lists
    } else if (path.back() == ':') {
        path.push_back('\\');  // "D:" alone would be the drive's current folder
    }
    HANDLE handle = OpenPath(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    BY_HANDLE_FILE_INFORMATION information;
    Error error = GetFileInformationByHandle(handle, &information) != 0 ? Error{} : LastError();
    CloseHandle(handle);
    if (!error) {
        identity = IdentityOf(information);
    }
    return error;
}

#ifdef TWINRAKE_TEST_HOOKS
std::function<void()>& AfterReadHook() {
    static std::function<void()> hook;
    return hook;
}
#endif

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

#ifdef TWINRAKE_TEST_HOOKS
void SetAfterRead(std::function<void()> hook) {
    AfterReadHook() = std::move(hook);
}
#endif

}  // namespace win32

Error SystemError(int code) {
    switch (code) {
        case 0:
            return Error{};
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_DIRECTORY:
            return Error{ErrorKind::Gone, code};
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return Error{ErrorKind::NotAllowed, code};
        case ERROR_TOO_MANY_OPEN_FILES:
        case ERROR_NO_SYSTEM_RESOURCES:
            return Error{ErrorKind::NoHandles, code};
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SAME_DEVICE:
            return Error{ErrorKind::Unsupported, code};
        case ERROR_TOO_MANY_LINKS:
            return Error{ErrorKind::NameLimit, code};
        default:
            return Error{ErrorKind::Broken, code};
    }
}

Error ProgramDirectory(std::string& directory) {
    char path[kProgramPathBuffer];
    DWORD length = GetModuleFileNameA(nullptr, path, kProgramPathBuffer);
    if (length == 0) {
        return LastError();
    }
    if (length >= kProgramPathBuffer) {
        return SystemError(ERROR_INSUFFICIENT_BUFFER);  // cut short by the buffer
    }
    std::string text(path, length);
    size_t backslash = text.rfind('\\');
    if (backslash == std::string::npos) {
        return SystemError(ERROR_PATH_NOT_FOUND);
    }
    directory = text.substr(0, backslash + 1);
    return Error{};
}

Error MakeCurrentDirectory(const std::string& directory) {
    if (directory.empty()) {
        return SystemError(ERROR_PATH_NOT_FOUND);
    }
    return SetCurrentDirectoryA(directory.c_str()) != 0 ? Error{} : LastError();
}

Error AbsolutePath(const std::string& path, std::string& absolute) {
    // Windows itself takes "." and ".." by their text, so its own resolution is the right one.
    DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return LastError();
    }
    std::string full(size, '\0');
    DWORD written = GetFullPathNameA(path.c_str(), size, full.data(), nullptr);
    if (written == 0 || written >= size) {
        return written == 0 ? LastError() : SystemError(ERROR_INSUFFICIENT_BUFFER);
    }
    full.resize(written);
    absolute = std::move(full);
    return Error{};
}

// Windows sets no small per-process limit on handles: nothing to raise.
void RaiseOpenFileLimit() {}

size_t OpenFileBudget() {
    return kHandleBudget;
}

std::string ErrorText(const Error& error) {
    if (error.code == 0) {
        return OwnWords(error.kind);
    }
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error.code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length)
                                                        : "error " + std::to_string(error.code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

Error ReadFolder(const std::string& folder, const std::string& pattern, FolderListing& listing) {
    listing.entries.clear();
    listing.unreadable.clear();  // a listing gives every entry's size itself
    listing.identityKnown = false;
    listing.brokeOff = Error{};
    std::string searchText;
    if (!win32::FormSearchText(folder, pattern, searchText)) {
        return SystemError(ERROR_FILENAME_EXCED_RANGE);
    }
    listing.identityKnown = !IdentityOfFolder(folder, listing.identity);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(searchText.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A folder whose names all fail the pattern (or a drive root with no entries at all,
        // which lacks even "." and "..") is listed, just empty.
        return error == ERROR_FILE_NOT_FOUND ? Error{} : SystemError(static_cast<int>(error));
    }
    do {
        Describe(found, listing.entries.emplace_back());
    } while (FindNextFileA(search, &found));
    DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        listing.brokeOff = SystemError(static_cast<int>(error));
    }
    FindClose(search);
    return Error{};
}

Error OpenForReading(const std::string& path, OpenFile*& file, FileStamp& stamp) {
    HANDLE handle = OpenPath(path, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    // Without its identity and its length a file could be taken for another or for whole:
    // it counts as one that cannot be opened.
    DWORD attributes = 0;
    Error error = StampOfHandle(handle, stamp, &attributes);
    if (!error && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = Failed(ErrorKind::Changed);  // listed as a file, a folder now
    }
    if (error) {
        CloseHandle(handle);
        return error;
    }
    file = new OpenFile{handle};
    return Error{};
}

Error ReadBytes(OpenFile* file, void* buffer, size_t count, size_t& got) {
    constexpr size_t kLargestRequest = size_t{1} << 30;
    auto* at = static_cast<char*>(buffer);
    got = 0;
    while (got < count) {
        DWORD want = static_cast<DWORD>(std::min(count - got, kLargestRequest));
        DWORD read = 0;
        if (!ReadFile(file->handle, at + got, want, &read, nullptr)) {
            got = 0;
            return LastError();
        }
        if (read == 0) {
            break;  // the end of the file
        }
        got += read;
    }
#ifdef TWINRAKE_TEST_HOOKS
    if (AfterReadHook()) {
        AfterReadHook()();
    }
#endif
    return Error{};
}

Error ReadBytesAt(OpenFile* file, int64_t offset, void* buffer, size_t count, size_t& got) {
    constexpr size_t kLargestRequest = size_t{1} << 30;
    auto* at = static_cast<char*>(buffer);
    got = 0;
    // A read with an offset of its own moves the handle's position; it is put back after.
    LARGE_INTEGER here{};
    LARGE_INTEGER none{};
    if (!SetFilePointerEx(file->handle, none, &here, FILE_CURRENT)) {
        return LastError();
    }
    Error error;
    while (got < count) {
        DWORD want = static_cast<DWORD>(std::min(count - got, kLargestRequest));
        DWORD read = 0;
        OVERLAPPED place{};
        uint64_t from = static_cast<uint64_t>(offset) + got;
        place.Offset = static_cast<DWORD>(from);
        place.OffsetHigh = static_cast<DWORD>(from >> 32);
        if (!ReadFile(file->handle, at + got, want, &read, &place)) {
            DWORD code = GetLastError();
            if (code != ERROR_HANDLE_EOF) {
                got = 0;
                error = SystemError(static_cast<int>(code));
            }
            break;
        }
        if (read == 0) {
            break;
        }
        got += read;
    }
    SetFilePointerEx(file->handle, here, nullptr, FILE_BEGIN);
    return error;
}

// Windows has no read that says it would have to wait for the disk.
DiskWait LastReadWaited(const OpenFile*) {
    return DiskWait::kUnknown;
}

// Windows reads ahead of a file read in order on its own, and takes no hint for a range.
void ReadAhead(OpenFile*, int64_t, size_t) {}

Error StampOfPath(const std::string& path, FileStamp& stamp) {
    // The name itself, a link included, with no access to the content: any reader or writer
    // may hold the file meanwhile.
    HANDLE handle = OpenPath(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    Error error = StampOfHandle(handle, stamp);
    CloseHandle(handle);
    return error;
}

void CloseFile(OpenFile* file) {
    if (file != nullptr) {
        CloseHandle(file->handle);
        delete file;
    }
}

// Windows tells a seek penalty only to those who may open the volume itself; every disk is
// read as one that does not turn.
bool OnSpinningDisk(const std::string&) {
    return false;
}

uint64_t PlaceOnDisk(OpenFile* file) {
    FileStamp stamp;
    return StampOfHandle(file->handle, stamp) ? 0 : stamp.identity.index;
}

namespace {

Error GoneIsChanged(Error error) {
    return error.Is(ErrorKind::Gone) ? Failed(ErrorKind::Changed) : error;
}

// The very version the search compared, change time included.
bool SameFile(const FileStamp& now, const ExpectedFile& expected) {
    return now.identity == expected.identity && now.length == expected.length &&
           now.modified == expected.modified && now.changed == expected.changed;
}

// Whether the file held open by `handle` is still the regular file `expected` names, unchanged,
// and with `writable` not read-only; `now` receives what it is now.
Error CheckHeldFile(HANDLE handle, const ExpectedFile& expected, bool writable, FileStamp& now) {
    DWORD attributes = 0;
    if (Error error = StampOfHandle(handle, now, &attributes)) {
        return error;
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !SameFile(now, expected)) {
        return Failed(ErrorKind::Changed);
    }
    if (writable && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return Failed(ErrorKind::WriteProtected);  // as DeleteFileA refuses it
    }
    return Error{};
}

// A handle closed again when it goes out of scope.
struct Held {
    HANDLE handle = INVALID_HANDLE_VALUE;
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};

// The member itself, not what a link there points to, held so that nobody may write, rename
// or delete it meanwhile: nothing can come between the check and what follows through this
// very handle. Only while its folder is still the one it was found in.
Error HoldExpectedFile(const MemberFile& member, bool writable, Held& held, FileStamp& now) {
    FileIdentity folderIdentity;
    if (Error error = IdentityOfFolder(member.folder, folderIdentity)) {
        return GoneIsChanged(error);
    }
    if (!(folderIdentity == member.expected.folder)) {
        return Failed(ErrorKind::Changed);  // a folder on the way now leads elsewhere
    }
    held.handle = OpenPath(member.folder + "\\" + member.name, DELETE | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ, FILE_FLAG_OPEN_REPARSE_POINT);
    if (held.handle == INVALID_HANDLE_VALUE) {
        return GoneIsChanged(LastError());
    }
    return CheckHeldFile(held.handle, member.expected, writable, now);
}

// The kept copy, held for reading so that nobody may write to it meanwhile (a program that
// holds it open for writing already makes this fail), and checked. Renames stay allowed: the
// link, another name of this file, is renamed into the member's place.
Error HoldKeptFile(const KeptCopy& kept, Held& held, FileStamp& now) {
    held.handle = OpenPath(kept.path, FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_FLAG_OPEN_REPARSE_POINT);
    if (held.handle == INVALID_HANDLE_VALUE) {
        return GoneIsChanged(LastError());
    }
    return CheckHeldFile(held.handle, kept.expected, false, now);
}

Error DeleteHeld(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)
               ? Error{}
               : LastError();
}

// Gives the held file the name `path` in its own folder.
Error RenameHeld(HANDLE handle, const std::string& path) {
    // The system wants its own form of a full path here: \??\ where \\?\ stands.
    std::wstring target = LongForm(path);
    target[1] = L'?';
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    return SetFileInformationByHandle(handle, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size()))
               ? Error{}
               : LastError();
}

// A name in the member's folder that nothing else uses: the pattern IsTemporaryName knows.
std::string TemporaryName(const std::string& folder, const std::string& name) {
    static LONG made = 0;
    return folder + "\\" + std::string(kTemporaryPrefix) + std::to_string(GetCurrentProcessId()) +
           "-" + std::to_string(InterlockedIncrement(&made)) + "-" + name.substr(0, 64);
}

// The most names NTFS gives one file; other file systems here do not say.
uint64_t NameLimitOf(const std::string& path) {
    char root[MAX_PATH + 1];
    char system[MAX_PATH + 1];
    if (!GetVolumePathNameA(path.c_str(), root, sizeof root) ||
        !GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, system,
                               sizeof system)) {
        return 0;
    }
    return std::string(system) == "NTFS" ? 1024 : 0;
}

// The member and the kept copy, both held and checked.
struct HeldPair {
    Held member;
    Held kept;
    FileStamp memberNow;
    FileStamp keptNow;
};

Error HoldBoth(const MemberFile& member, const KeptCopy* kept, bool writable, HeldPair& pair,
               ChangeReport* report) {
    if (Error error = HoldExpectedFile(member, writable, pair.member, pair.memberNow)) {
        return error;
    }
    if (report != nullptr) {
        report->names = pair.memberNow.links;
    }
    if (kept != nullptr) {
        if (Error error = HoldKeptFile(*kept, pair.kept, pair.keptNow)) {
            if (report != nullptr) {
                report->keptRefused = true;
            }
            return error;
        }
        if (report != nullptr) {
            report->keptNames = pair.keptNow.links;
        }
    }
    return Error{};
}

}  // namespace

Error CheckUnchanged(Change change, const MemberFile& member, const KeptCopy* kept,
                     ChangeReport& report) {
    HeldPair pair;
    return HoldBoth(member, kept, change != Change::kShareBlocks, pair, &report);
}

namespace {

// The shell's calls, loaded when they are first needed: a program that never trashes a file
// never loads shell32.
template <typename Call>
Call ShellCall(const char* name) {
    static HMODULE shell = LoadLibraryA("shell32.dll");
    return shell != nullptr
               ? reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(shell, name)))
               : nullptr;
}

// A drive without a Recycle Bin (a network share, many removable drives) makes the shell delete
// for good, silently under the flags a program without a window needs: such a member stays.
Error RecycleBinFor(const std::string& path, ChangeReport& report) {
    using Query = HRESULT(WINAPI*)(LPCWSTR, LPSHQUERYRBINFO);
    auto query = ShellCall<Query>("SHQueryRecycleBinW");
    report.trash = "$Recycle.Bin";
    if (query == nullptr) {
        report.trashRefused = true;
        return SystemError(ERROR_NOT_SUPPORTED);
    }
    std::string root(MAX_PATH + 1, '\0');
    if (!GetVolumePathNameA(path.c_str(), root.data(), MAX_PATH)) {
        report.trashRefused = true;
        return LastError();
    }
    root.resize(strlen(root.c_str()));
    report.trash = root + "$Recycle.Bin";
    SHQUERYRBINFO held{};
    held.cbSize = sizeof(held);
    if (FAILED(query(Wide(root).c_str(), &held))) {
        report.trashRefused = true;
        return SystemError(ERROR_NOT_SUPPORTED);
    }
    return Error{};
}

}  // namespace

Error ForecastChange(Change change, const MemberFile& member, const KeptCopy* kept,
                     ChangeReport& report) {
    HeldPair pair;
    if (Error error = HoldBoth(member, kept, change != Change::kShareBlocks, pair, &report)) {
        return error;
    }
    if (change == Change::kShareBlocks) {
        return SystemError(ERROR_NOT_SUPPORTED);
    }
    if (change == Change::kLink) {
        if (pair.keptNow.identity.volume != pair.memberNow.identity.volume) {
            return SystemError(ERROR_NOT_SAME_DEVICE);
        }
        report.nameLimit = NameLimitOf(kept->path);
    }
    if (change == Change::kTrash) {
        return RecycleBinFor(member.folder + "\\" + member.name, report);
    }
    return Error{};
}

// The handles that hold the member and the kept copy keep every writer off them: a change is
// always guarded here.
Error RemoveFileIfUnchanged(const MemberFile& member, const KeptCopy* kept, ChangeReport* report,
                            Guarding) {
    HeldPair pair;
    if (Error error = HoldBoth(member, kept, true, pair, report)) {
        return error;
    }
    return DeleteHeld(pair.member.handle);
}

Error ReplaceWithLink(const MemberFile& member, const KeptCopy& kept, ChangeReport& report,
                      Guarding) {
    HeldPair pair;
    if (Error error = HoldBoth(member, &kept, true, pair, &report)) {
        return error;
    }
    if (pair.keptNow.identity.volume != pair.memberNow.identity.volume) {
        return SystemError(ERROR_NOT_SAME_DEVICE);
    }
    // The new name first, under a name of its own: until it takes the member's place,
    // nothing about the member has changed.
    const std::string path = member.folder + "\\" + member.name;
    const std::string link = TemporaryName(member.folder, member.name);
    if (!CreateHardLinkW(LongForm(link).c_str(), LongForm(kept.path).c_str(), nullptr)) {
        return LastError();
    }
    auto forget = [&] { DeleteFileW(LongForm(link).c_str()); };
    FileStamp linked;
    if (StampOfPath(link, linked) || !(linked.identity == kept.expected.identity)) {
        forget();
        return Failed(ErrorKind::Changed);
    }
    report.keptChanged = linked.changed;  // the new name moved it on
    // Windows swaps no two names: the member steps aside through the handle that holds it,
    // the link takes its name, and the member goes through that handle. Between the two
    // renames the name is free for a moment; on any failure the member comes back.
    if (Error error = RenameHeld(pair.member.handle, TemporaryName(member.folder, member.name))) {
        forget();
        return error;
    }
    if (!MoveFileExW(LongForm(link).c_str(), LongForm(path).c_str(), 0)) {
        Error error = LastError();
        (void)RenameHeld(pair.member.handle, path);
        forget();
        return error;
    }
    return DeleteHeld(pair.member.handle);
}

// The Recycle Bin takes a file by its path, through the shell.
Error MoveToTrash(const MemberFile& member, const KeptCopy* kept, ChangeReport& report, Guarding) {
    HeldPair pair;
    if (Error error = HoldBoth(member, kept, true, pair, &report)) {
        return error;
    }
    const std::string path = member.folder + "\\" + member.name;
    if (Error error = RecycleBinFor(path, report)) {
        return error;
    }
    using Operation = int(WINAPI*)(LPSHFILEOPSTRUCTW);
    auto operate = ShellCall<Operation>("SHFileOperationW");
    if (operate == nullptr) {
        report.trashRefused = true;
        return SystemError(ERROR_NOT_SUPPORTED);
    }
    std::wstring from = Wide(path);
    from.push_back(L'\0');  // the list of paths ends with an empty one
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    // The shell opens the file itself: the member's handle lets go of it just before.
    CloseHandle(pair.member.handle);
    pair.member.handle = INVALID_HANDLE_VALUE;
    if (operate(&operation) != 0 || operation.fAnyOperationsAborted) {
        report.trashRefused = true;
        return Failed(ErrorKind::Broken);
    }
    return Error{};
}

// Windows has no call that shares a file's blocks with another after comparing them.
Error ShareBlocks(const MemberFile&, const KeptCopy&, ChangeReport& report) {
    report.shared = 0;
    return SystemError(ERROR_NOT_SUPPORTED);
}

}  // namespace platform
