// Linux: where the trash of a file lies, as freedesktop.org lays the trash out, which every
// desktop's file manager reads: the home trash ($XDG_DATA_HOME/Trash) for files on the home
// trash's file system, else $topdir/.Trash/$UID (where $topdir/.Trash is a sticky folder of its
// own) or $topdir/.Trash-$UID at the top of the file's own file system. A file never goes to a
// trash on another file system: that would be a copy, not a move.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/posix/internal.h"

namespace platform::posix {

namespace {

std::string HomeTrash() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
        return std::string(data) + "/Trash";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home != '/') {
        const struct passwd* user = getpwuid(geteuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    return home != nullptr ? std::string(home) + "/.local/share/Trash" : std::string();
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

// The device of `path`, or of the nearest folder above it that exists.
bool DeviceOfNearest(std::string path, dev_t& device, std::string& existing) {
    struct stat info;
    for (;;) {
        if (lstat(path.c_str(), &info) == 0) {
            device = info.st_dev;
            existing = path;
            return true;
        }
        if (errno != ENOENT || path == "/") {
            return false;
        }
        path = ParentOf(path);
    }
}

// The top of the file system that holds `folder`: the last folder on the way up before the
// device changes.
std::string TopOf(std::string folder, dev_t device) {
    struct stat info;
    while (folder != "/") {
        const std::string up = ParentOf(folder);
        if (stat(up.c_str(), &info) != 0 || info.st_dev != device) {
            break;
        }
        folder = up;
    }
    return folder;
}

// Makes `path` a folder of this user's alone, where it is missing; fine where it is one.
Error MakeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) {
            return LastError();
        }
        return S_ISDIR(info.st_mode) ? Error{} : SystemError(ENOTDIR);
    }
    return LastError();
}

// The trash folder that the top of a file system offers this user: its shared sticky .Trash,
// or else one of the user's own.
std::string TopTrash(const std::string& top) {
    const std::string user = std::to_string(geteuid());
    const std::string base = top == "/" ? std::string() : top;
    struct stat shared;
    if (lstat((base + "/.Trash").c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) &&
        (shared.st_mode & S_ISVTX) != 0) {
        return base + "/.Trash/" + user;
    }
    return base + "/.Trash-" + user;
}

// What a trashinfo's Path holds: the path with every byte that is no plain character of a URL
// written as %XX.
std::string Escaped(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') ||
                           std::string_view("/-_.~").find(c) != std::string_view::npos;
        if (plain) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0xF]);
        }
    }
    return out;
}

std::string Now() {
    const std::time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

}  // namespace

Error FindTrash(const std::string& memberFolder, dev_t device, bool create, TrashPlace& place) {
    place = TrashPlace{};
    const std::string home = HomeTrash();
    dev_t homeDevice = 0;
    std::string existing;
    if (!home.empty() && DeviceOfNearest(home, homeDevice, existing) && homeDevice == device) {
        place.folder = home;
        place.home = true;
    } else {
        place.top = TopOf(memberFolder.empty() ? std::string("/") : memberFolder, device);
        place.folder = TopTrash(place.top);
    }
    if (!create) {
        // What a real run would make must be makeable: the nearest folder that exists is one
        // this user may write to, on the file's own file system.
        dev_t nearest = 0;
        if (!DeviceOfNearest(place.folder + "/files", nearest, existing)) {
            return LastError();
        }
        if (nearest != device) {
            return SystemError(EXDEV);
        }
        return access(existing.c_str(), W_OK | X_OK) == 0 ? Error{} : LastError();
    }
    if (place.home) {
        // The home trash may lie below folders that are not there yet.
        for (std::string folder : {ParentOf(ParentOf(home)), ParentOf(home)}) {
            if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
                return LastError();
            }
        }
    }
    for (const std::string& folder :
         {place.folder, place.folder + "/files", place.folder + "/info"}) {
        if (Error error = MakeFolder(folder)) {
            return error;
        }
    }
    struct stat made;
    if (stat((place.folder + "/files").c_str(), &made) != 0) {
        return LastError();
    }
    return made.st_dev == device ? Error{} : SystemError(EXDEV);
}

Error ReserveTrashName(const TrashPlace& place, const std::string& path, const std::string& name,
                       std::string& trashName) {
    // For a trash at the top of a file system, Path is relative to that top.
    std::string shown = path;
    if (!place.home && place.top != "/" && shown.rfind(place.top + "/", 0) == 0) {
        shown = shown.substr(place.top.size() + 1);
    }
    const std::string info =
        "[Trash Info]\nPath=" + Escaped(shown) + "\nDeletionDate=" + Now() + "\n";
    for (int n = 1; n < 10000; ++n) {
        trashName = n == 1 ? name : name + "." + std::to_string(n);
        struct stat taken;
        if (lstat((place.folder + "/files/" + trashName).c_str(), &taken) == 0) {
            continue;
        }
        const std::string infoPath = place.folder + "/info/" + trashName + ".trashinfo";
        Descriptor file(open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (file.fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return LastError();
        }
        if (write(file.fd, info.data(), info.size()) != static_cast<ssize_t>(info.size()) ||
            fsync(file.fd) != 0) {
            Error error = LastError();
            unlink(infoPath.c_str());
            return error;
        }
        return Error{};
    }
    return SystemError(EEXIST);
}

void ForgetTrashName(const TrashPlace& place, const std::string& trashName) {
    (void)unlink((place.folder + "/info/" + trashName + ".trashinfo").c_str());
}

}  // namespace platform::posix
