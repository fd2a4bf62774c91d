// Linux: the changes a cleanup makes to a member of a group, and the forecast of each.
//
// A name is never removed on the strength of an earlier look at it: between any look and the
// call that removes, another program can rename a different file onto the name (a sync
// client, a download that finishes, an editor saving). So the member first moves to a
// temporary name of its own (renameat2 with RENAME_NOREPLACE), and what arrived there is
// checked to be the member before that temporary name goes; anything else goes back to its
// name. Each step that commits is a test's hook point (test_hooks.h).
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/internal.h"
#include "platform/posix/test_hooks.h"

namespace platform {

using posix::Descriptor;
using posix::LastError;
using posix::OpenAnyLength;
using posix::OpenParent;
using posix::Parent;
using posix::StampOf;

namespace {

#ifdef TWINRAKE_TEST_HOOKS
std::function<void(test::Step)>& BeforeStepHook() {
    static std::function<void(test::Step)> hook;
    return hook;
}
std::atomic<bool> renameFlagsRefused{false};
std::atomic<bool> leasesRefused{false};
#endif

// Whether the system gives leases at all; a test can make it give none, as NFS and FUSE do.
bool LeasesGiven() {
#ifdef TWINRAKE_TEST_HOOKS
    return !leasesRefused;
#else
    return true;
#endif
}

// Where a test may change the folder between a check and the call that commits.
void BeforeStep([[maybe_unused]] test::Step step) {
#ifdef TWINRAKE_TEST_HOOKS
    if (BeforeStepHook()) {
        BeforeStepHook()(step);
    }
#endif
}

// renameat2, which a test can make refuse its flags as NFS and most FUSE file systems do.
int Rename(int folder, const char* from, const char* to, unsigned flags) {
#ifdef TWINRAKE_TEST_HOOKS
    if (flags != 0 && renameFlagsRefused) {
        errno = EINVAL;
        return -1;
    }
#endif
    return renameat2(folder, from, folder, to, flags);
}

// Whether a rename's flags were refused by the file system rather than the rename itself.
bool FlagsRefused() {
    return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP;
}

// What `name` in `folder` is now, not following a link in its last part, asked of the file
// system itself: a network or FUSE file system answers from its server, not from what the
// kernel remembers of it, so that a change made elsewhere (or a change time the server set)
// shows. Returns -1 with errno set on failure, as fstatat does.
int LookNow(int folder, const char* name, struct stat& info) {
    struct statx now;
    if (statx(folder, name,
              AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC | (*name == '\0' ? AT_EMPTY_PATH : 0),
              STATX_BASIC_STATS, &now) != 0) {
        return -1;
    }
    info = {};
    info.st_dev = makedev(now.stx_dev_major, now.stx_dev_minor);
    info.st_ino = now.stx_ino;
    info.st_mode = now.stx_mode;
    info.st_nlink = now.stx_nlink;
    info.st_uid = now.stx_uid;
    info.st_gid = now.stx_gid;
    info.st_size = static_cast<off_t>(now.stx_size);
    info.st_mtim = {static_cast<time_t>(now.stx_mtime.tv_sec), now.stx_mtime.tv_nsec};
    info.st_ctim = {static_cast<time_t>(now.stx_ctime.tv_sec), now.stx_ctime.tv_nsec};
    return 0;
}

// What a gone path means to an operation on an expected file: it is no longer that file.
Error GoneIsChanged(Error error) {
    return error.Is(ErrorKind::Gone) ? Failed(ErrorKind::Changed) : error;
}

// The member's own inode with its content as compared; its change time aside, which the
// renames of a change move on.
bool SameInode(const struct stat& now, const ExpectedFile& expected) {
    FileStamp stamp = StampOf(now);
    return S_ISREG(now.st_mode) && stamp.identity == expected.identity &&
           stamp.length == expected.length && stamp.modified == expected.modified;
}

// The very version the search compared, change time included.
bool SameVersion(const struct stat& now, const ExpectedFile& expected) {
    return SameInode(now, expected) && posix::Nanoseconds(now.st_ctim) == expected.changed;
}

// Opens `folder` only while it is still the folder `expected` names: a folder on the way
// swapped for a link to another one leads elsewhere.
Error OpenExpectedFolder(const std::string& folder, const FileIdentity& expected,
                         Descriptor& handle) {
    return GoneIsChanged(
        posix::OpenFolderAsListed(folder, expected, O_RDONLY | O_DIRECTORY | O_CLOEXEC, handle));
}

// A read lease on a member or the kept file, taken before its last check and held until the
// change is done: while it is held no program can open the file for writing or cut it (one
// that tries waits until the lease goes, and the lease shows that it tried). So the bytes a
// change relies on cannot change between the last check and the call that commits, not even
// by a program that sets the times back. Where the system gives no lease (a file of another
// owner, NFS, FUSE), the checks alone stand.
class WriteGuard {
  public:
    WriteGuard() = default;
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;
    ~WriteGuard() {
        if (held_) {
            (void)fcntl(file_.fd, F_SETLEASE, F_UNLCK);
        }
    }

    // InUse when another program holds the file open for writing now.
    Error Take(int folder, const char* name, const FileIdentity& identity) {
        file_.fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat info;
        if (file_.fd < 0 || fstat(file_.fd, &info) != 0 || !(StampOf(info).identity == identity)) {
            return Error{};  // what the name holds is for the checks to tell
        }
        if (!LeasesGiven()) {
            return Error{};
        }
        // The notice of a broken lease comes as a signal; SIGURG is one nobody minds.
        (void)fcntl(file_.fd, F_SETSIG, SIGURG);
        if (fcntl(file_.fd, F_SETLEASE, F_RDLCK) == 0) {
            held_ = true;
        } else if (errno == EAGAIN) {
            return Failed(ErrorKind::InUse);
        }
        return Error{};
    }

    // Whether a program tried to write to the file since the lease was taken.
    bool Tried() const { return held_ && fcntl(file_.fd, F_GETLEASE) != F_RDLCK; }
    bool Held() const { return held_; }

  private:
    Descriptor file_;
    bool held_ = false;
};

// The member's folder held open, the member guarded, and what it was when it was checked.
struct CheckedMember {
    Descriptor folder;
    WriteGuard guard;
    struct stat info {};
};

// Whether `name` in `folder` is still the regular file `expected` names, unchanged, and with
// `writable` not write-protected.
Error CheckMember(const std::string& folder, const std::string& name, const ExpectedFile& expected,
                  bool writable, CheckedMember& member, bool guarded = true) {
    if (Error error = OpenExpectedFolder(folder, expected.folder, member.folder)) {
        return error;
    }
    if (guarded) {
        if (Error error = member.guard.Take(member.folder.fd, name.c_str(), expected.identity)) {
            return error;
        }
    }
    if (LookNow(member.folder.fd, name.c_str(), member.info) != 0) {
        return GoneIsChanged(LastError());
    }
    if (!SameVersion(member.info, expected)) {
        return Failed(ErrorKind::Changed);
    }
    if (writable && (member.info.st_mode & S_IWUSR) == 0) {
        // unlink would ignore the file's own rights; a write-protected file stays, as it
        // does on Windows.
        return Failed(ErrorKind::WriteProtected);
    }
    return Error{};
}

// Whether `path` still names the regular file `expected` describes; `info` receives what it
// is. With `guard`, the file is guarded before the look.
Error CheckKept(const std::string& path, const ExpectedFile& expected, struct stat& info,
                WriteGuard* guard = nullptr) {
    Parent parent;
    if (!OpenParent(path, parent)) {
        return GoneIsChanged(LastError());
    }
    if (guard != nullptr) {
        if (Error error = guard->Take(parent.fd, parent.leaf, expected.identity)) {
            return error;
        }
    }
    if (LookNow(parent.fd, parent.leaf, info) != 0) {
        return GoneIsChanged(LastError());
    }
    return SameVersion(info, expected) ? Error{} : Failed(ErrorKind::Changed);
}

// A name in the member's folder that nothing else uses: the pattern IsTemporaryName knows.
std::string TemporaryName(const std::string& name) {
    static std::atomic<unsigned> made{0};
    static const pid_t self = getpid();
    return std::string(kTemporaryPrefix) + std::to_string(self) + "-" + std::to_string(made++) +
           "-" + name.substr(0, 64);
}

// Moves what `name` names to a new temporary name, which `temporary` receives, never over
// another file. A file system that refuses RENAME_NOREPLACE gets a plain rename to a name
// seen to be free: only this program makes names of that pattern.
Error MoveAside(int folder, const std::string& name, std::string& temporary) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        temporary = TemporaryName(name);
        if (Rename(folder, name.c_str(), temporary.c_str(), RENAME_NOREPLACE) == 0) {
            return Error{};
        }
        if (errno == EEXIST) {
            continue;
        }
        if (!FlagsRefused()) {
            return GoneIsChanged(LastError());
        }
        struct stat taken;
        if (LookNow(folder, temporary.c_str(), taken) == 0) {
            continue;
        }
        if (errno != ENOENT) {
            return LastError();
        }
        return renameat(folder, name.c_str(), folder, temporary.c_str()) == 0
                   ? Error{}
                   : GoneIsChanged(LastError());
    }
    return SystemError(EEXIST);
}

// Gives what lies at `temporary` its name back, never over a file that took the name
// meanwhile; such a file keeps the name, and `report` says where the other one is now.
void PutBack(int folder, const std::string& temporary, const std::string& name,
             ChangeReport* report) {
    BeforeStep(test::Step::kPutBack);
    int done = Rename(folder, temporary.c_str(), name.c_str(), RENAME_NOREPLACE);
    if (done != 0 && FlagsRefused()) {
        struct stat taken;
        if (LookNow(folder, name.c_str(), taken) != 0 && errno == ENOENT) {
            done = renameat(folder, temporary.c_str(), folder, name.c_str());
        }
    }
    if (done != 0 && report != nullptr) {
        report->strandedAt = temporary;
    }
}

// Removes the temporary name that holds the member (its caller has just seen it there), once no
// program tried to write to the files the change relies on (`guards`).
Error RemoveAside(int folder, const std::string& temporary,
                  std::initializer_list<const WriteGuard*> guards) {
    BeforeStep(test::Step::kUnlink);
    for (const WriteGuard* guard : guards) {
        if (guard->Tried()) {
            return Failed(ErrorKind::Changed);
        }
    }
    return unlinkat(folder, temporary.c_str(), 0) == 0 ? Error{} : LastError();
}

// Moves the temporary name that holds the member (its caller has just seen it there) into the
// trash's files folder as `trashName`, once no program tried to write to the files the change
// relies on; never over a file there.
Error MoveInto(int folder, const std::string& temporary, int trashFiles,
               const std::string& trashName, std::initializer_list<const WriteGuard*> guards) {
    BeforeStep(test::Step::kUnlink);
    for (const WriteGuard* guard : guards) {
        if (guard->Tried()) {
            return Failed(ErrorKind::Changed);
        }
    }
    if (renameat2(folder, temporary.c_str(), trashFiles, trashName.c_str(), RENAME_NOREPLACE) ==
        0) {
        return Error{};
    }
    if (!FlagsRefused()) {
        return LastError();
    }
    struct stat taken;
    if (LookNow(trashFiles, trashName.c_str(), taken) == 0) {
        return SystemError(EEXIST);
    }
    return renameat(folder, temporary.c_str(), trashFiles, trashName.c_str()) == 0 ? Error{}
                                                                                   : LastError();
}

std::string FullPathOf(const MemberFile& file) {
    return file.folder + "/" + file.name;
}

// Moves the member aside and checks that what moved is the member; on failure whatever moved
// is back at its name.
Error MemberAside(int folder, const std::string& name, const ExpectedFile& expected,
                  std::string& temporary, ChangeReport* report) {
    BeforeStep(test::Step::kAside);
    if (Error error = MoveAside(folder, name, temporary)) {
        return error;
    }
    struct stat moved;
    if (LookNow(folder, temporary.c_str(), moved) != 0 || !SameInode(moved, expected)) {
        PutBack(folder, temporary, name, report);  // another file arrived at the name
        return Failed(ErrorKind::Changed);
    }
    return Error{};
}

// Volumes seen to refuse swapping two names: the swap is not tried on them again.
class NoExchangeVolumes {
  public:
    bool Knows(uint64_t volume) {
        std::lock_guard lock(mutex_);
        return std::find(volumes_.begin(), volumes_.end(), volume) != volumes_.end();
    }
    void Add(uint64_t volume) {
        std::lock_guard lock(mutex_);
        volumes_.push_back(volume);
    }

  private:
    std::mutex mutex_;
    std::vector<uint64_t> volumes_;
};

NoExchangeVolumes& RefusingExchange() {
    static NoExchangeVolumes volumes;
    return volumes;
}

// The kept file's change time as its own path shows it now, while it is still the kept file:
// every new or removed name of it moves that time on. Read through the kept path itself, since
// a FUSE file system may show each name of one file with a description of its own.
bool KeptChangedNow(const std::string& keptPath, const ExpectedFile& kept, int64_t& changed) {
    Parent source;
    struct stat info;
    if (!OpenParent(keptPath, source) || LookNow(source.fd, source.leaf, info) != 0 ||
        !SameInode(info, kept)) {
        return false;
    }
    changed = posix::Nanoseconds(info.st_ctim);
    return true;
}

// Makes the link, a new name of the kept file, at `linkName` in the member's folder, and
// checks that it leads to the kept file as it was. `made` says whether the name was made,
// whatever it leads to.
Error LinkKept(const std::string& keptPath, const ExpectedFile& kept, int folder,
               const std::string& linkName, bool& made) {
    made = false;
    Parent source;
    if (!OpenParent(keptPath, source)) {
        return GoneIsChanged(LastError());
    }
    if (linkat(source.fd, source.leaf, folder, linkName.c_str(), 0) != 0) {
        return errno == EEXIST ? Failed(ErrorKind::Changed) : GoneIsChanged(LastError());
    }
    made = true;
    struct stat linked;
    if (LookNow(folder, linkName.c_str(), linked) != 0 || !SameInode(linked, kept)) {
        return Failed(ErrorKind::Changed);  // the kept path names another file now
    }
    return Error{};
}

// Returned by LinkByExchange when the file system cannot swap two names; nothing changed.
constexpr Error kNoExchange{ErrorKind::Unsupported, ENOSYS};

// What the link of a member to the kept file works with: both checked and guarded, the
// member's folder held open.
struct LinkJob {
    const std::string& keptPath;
    const ExpectedFile& kept;
    const WriteGuard& keptGuard;
    int folder;
    const std::string& name;
    const ExpectedFile& expected;
    const WriteGuard& memberGuard;
    ChangeReport& report;

    Error RemoveMember(const std::string& temporary) const {
        return RemoveAside(folder, temporary, {&memberGuard, &keptGuard});
    }
};

// The kept file's link at a new temporary name, which `temporary` receives.
Error TemporaryLink(const LinkJob& job, std::string& temporary) {
    for (int attempt = 0;; ++attempt) {
        temporary = TemporaryName(job.name);
        BeforeStep(test::Step::kLink);
        bool made = false;
        Error error = LinkKept(job.keptPath, job.kept, job.folder, temporary, made);
        if (!error) {
            return error;
        }
        if (made) {
            (void)unlinkat(job.folder, temporary.c_str(), 0);  // a name of another file than kept
        }
        if (made || !error.Is(ErrorKind::Changed) || attempt == 8) {
            return error;
        }
        // The temporary name was taken (left by a killed run of the same process number).
    }
}

// The link under a temporary name, then swapped with the member in one step: the member's name
// names the member or the link at every moment.
Error LinkByExchange(const LinkJob& job) {
    std::string temporary;
    if (Error error = TemporaryLink(job, temporary)) {
        return error;
    }
    const int folder = job.folder;
    BeforeStep(test::Step::kExchange);
    if (Rename(folder, temporary.c_str(), job.name.c_str(), RENAME_EXCHANGE) != 0) {
        Error error = FlagsRefused() ? kNoExchange : GoneIsChanged(LastError());
        (void)unlinkat(folder, temporary.c_str(), 0);  // only a name of the kept file
        return error;
    }
    // The temporary name now holds what was at the member's name. The swap moved the change
    // time of both files on, so the kept file is now told by what the swap leaves alone.
    struct stat swapped;
    struct stat keptNow {};
    Parent source;
    const bool asChecked = LookNow(folder, temporary.c_str(), swapped) == 0 &&
                           SameInode(swapped, job.expected) && OpenParent(job.keptPath, source) &&
                           LookNow(source.fd, source.leaf, keptNow) == 0 &&
                           SameInode(keptNow, job.kept);
    job.report.keptChanged = posix::Nanoseconds(keptNow.st_ctim);
    Error removed = asChecked ? job.RemoveMember(temporary) : Failed(ErrorKind::Changed);
    if (!removed) {
        return Error{};
    }
    // Swapped back: the name holds what it held, and the link goes where it is seen to be only
    // a name of the kept file.
    struct stat back;
    if (Rename(folder, temporary.c_str(), job.name.c_str(), RENAME_EXCHANGE) == 0 &&
        LookNow(folder, temporary.c_str(), back) == 0 && SameInode(back, job.kept)) {
        (void)unlinkat(folder, temporary.c_str(), 0);
    } else {
        job.report.strandedAt = temporary;
    }
    return removed;
}

// Where two names cannot be swapped: the member steps aside, the link takes its free name
// (linkat refuses a name that has come back), the kept file is checked once more, and the
// member goes. Any doubt puts the member back.
Error LinkAside(const LinkJob& job) {
    std::string temporary;
    const int folder = job.folder;
    if (Error error = MemberAside(folder, job.name, job.expected, temporary, &job.report)) {
        return error;
    }
    BeforeStep(test::Step::kLink);
    bool made = false;
    Error linked = LinkKept(job.keptPath, job.kept, folder, job.name, made);
    if (!linked) {
        // The kept file checked once more, through its own path, before the member goes.
        linked = KeptChangedNow(job.keptPath, job.kept, job.report.keptChanged)
                     ? job.RemoveMember(temporary)
                     : Failed(ErrorKind::Changed);
        if (!linked) {
            return Error{};
        }
    }
    // The new name goes only where it is seen to be a name of the kept file; a file another
    // program put there keeps the name, and the member stays aside.
    struct stat there;
    if (LookNow(folder, job.name.c_str(), there) == 0 &&
        StampOf(there).identity == job.kept.identity) {
        if (renameat(folder, temporary.c_str(), folder, job.name.c_str()) != 0) {
            job.report.strandedAt = temporary;
        }
    } else {
        PutBack(folder, temporary, job.name, &job.report);
    }
    return linked;
}

// Whether this user may remove and make names in the open folder, and remove `file` from it:
// what rename and unlink would refuse, asked without either.
Error MayRenameIn(int folder, const struct stat& file) {
    if (faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        return LastError();  // no right to the folder, or a read-only mount
    }
    struct stat self;
    if (fstat(folder, &self) != 0) {
        return LastError();
    }
    const uid_t user = geteuid();
    if ((self.st_mode & S_ISVTX) != 0 && user != 0 && user != file.st_uid && user != self.st_uid) {
        return SystemError(EPERM);  // a sticky folder: only the file's owner removes it
    }
    int attributes = 0;  // the folder is held open for reading, which the ioctl needs
    if (ioctl(folder, FS_IOC_GETFLAGS, &attributes) == 0 &&
        (attributes & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0) {
        return SystemError(EPERM);
    }
    return Error{};
}

// Whether the member itself may lose its name: not an immutable or append-only file.
Error MayRemoveFile(int folder, const std::string& name) {
    Descriptor file(
        openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    int attributes = 0;
    if (file.fd >= 0 && ioctl(file.fd, FS_IOC_GETFLAGS, &attributes) == 0 &&
        (attributes & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0) {
        return SystemError(EPERM);
    }
    return Error{};
}

// The mount a path or an open file lies on: links never cross one, even between two mounts
// of one file system.
bool MountOf(int at, const char* path, int flags, uint64_t& mount) {
    struct statx info;
    if (statx(at, path, flags | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &info) != 0 ||
        (info.stx_mask & STATX_MNT_ID) == 0) {
        return false;
    }
    mount = info.stx_mnt_id;
    return true;
}

// Whether the system lets this user make a new name of the kept file: with protected hard
// links on, only of a file they own or may read and write.
Error MayLinkTo(const std::string& keptPath, const struct stat& kept) {
    const uid_t user = geteuid();
    if (user == 0 || user == kept.st_uid) {
        return Error{};
    }
    FILE* setting = std::fopen("/proc/sys/fs/protected_hardlinks", "r");
    int guarded = setting != nullptr ? std::fgetc(setting) : '1';
    if (setting != nullptr) {
        std::fclose(setting);
    }
    if (guarded != '1') {
        return Error{};
    }
    const bool special = (kept.st_mode & S_ISUID) != 0 ||
                         (kept.st_mode & (S_ISGID | S_IXGRP)) == (S_ISGID | S_IXGRP);
    return !special && faccessat(AT_FDCWD, keptPath.c_str(), R_OK | W_OK, AT_EACCESS) == 0
               ? Error{}
               : SystemError(EPERM);
}

// The most names the file system of the open folder gives one file, where it is known.
uint64_t NameLimitOf(int folder) {
    struct statfs info;
    if (fstatfs(folder, &info) != 0) {
        return 0;
    }
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0xEF53:  // ext2, ext3 and ext4, all kept by the ext4 driver
            return 65000;
        case 0x9123683E:  // btrfs
            return 65535;
        case 0x58465342:  // XFS
            return (uint64_t{1} << 31) - 1;
        default:
            return 0;
    }
}

// XFS made without shared blocks answers an empty request to share as if it could.
bool XfsWithoutSharedBlocks(int fd) {
    struct statfs info;
    if (fstatfs(fd, &info) != 0 || static_cast<unsigned long>(info.f_type) != 0x58465342) {
        return false;
    }
    struct Geometry {  // struct xfs_fsop_geom_v1, whose flags tell the shared-block feature
        uint32_t sizes[8];
        uint64_t blocks[4];
        unsigned char uuid[16];
        uint32_t stripeUnit, stripeWidth;
        int32_t version;
        uint32_t flags, logSector, realtimeSector, directoryBlock;
    } geometry{};
    constexpr uint32_t kSharedBlocks = 1u << 20;  // XFS_FSOP_GEOM_FLAGS_REFLINK
    return ioctl(fd, _IOR('X', 100, Geometry), &geometry) == 0 &&
           (geometry.flags & kSharedBlocks) == 0;
}

// Asks the file system to share no bytes at all: it answers as it would for the real request,
// that it cannot, may not, or can, and shares nothing.
Error MayShareBlocks(int source, int member) {
    std::vector<unsigned char> request(sizeof(file_dedupe_range) + sizeof(file_dedupe_range_info));
    auto* range = reinterpret_cast<file_dedupe_range*>(request.data());
    range->src_length = 0;
    range->dest_count = 1;
    range->info[0].dest_fd = member;
    if (ioctl(source, FIDEDUPERANGE, range) != 0) {
        return LastError();
    }
    if (range->info[0].status < 0) {
        return SystemError(-range->info[0].status);
    }
    return XfsWithoutSharedBlocks(source) ? SystemError(EOPNOTSUPP) : Error{};
}

// The member and the kept file opened for sharing blocks, both seen to be the expected files.
Error OpenBoth(const std::string& keptPath, const ExpectedFile& kept, int folder,
               const std::string& name, const ExpectedFile& expected, Descriptor& source,
               Descriptor& member) {
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    member.fd = openat(folder, name.c_str(), kFlags);
    if (member.fd < 0) {
        return GoneIsChanged(LastError());
    }
    source.fd = OpenAnyLength(keptPath, kFlags);
    if (source.fd < 0) {
        return GoneIsChanged(LastError());
    }
    struct stat memberNow;
    struct stat sourceNow;
    if (LookNow(member.fd, "", memberNow) != 0 || LookNow(source.fd, "", sourceNow) != 0) {
        return LastError();
    }
    return SameVersion(memberNow, expected) && SameVersion(sourceNow, kept)
               ? Error{}
               : Failed(ErrorKind::Changed);
}

Error ForecastLink(const std::string& keptPath, const struct stat& keptInfo,
                   const CheckedMember& member, ChangeReport& report) {
    if (Error error = MayRenameIn(member.folder.fd, member.info)) {
        return error;
    }
    uint64_t keptMount = 0;
    uint64_t memberMount = 0;
    if (keptInfo.st_dev != member.info.st_dev ||
        (MountOf(AT_FDCWD, keptPath.c_str(), 0, keptMount) &&
         MountOf(member.folder.fd, "", AT_EMPTY_PATH, memberMount) && keptMount != memberMount)) {
        return SystemError(EXDEV);
    }
    report.nameLimit = NameLimitOf(member.folder.fd);
    return MayLinkTo(keptPath, keptInfo);
}

// Asks the file system to share the blocks of `source` with `target` for `bytes` bytes, piece
// by piece; `report` says how many are shared.
Error ShareAll(int source, int target, int64_t bytes, ChangeReport& report) {
    // The kernel may take less than asked for in one call; what it took is where to go on.
    constexpr uint64_t kPiece = uint64_t{16} << 20;
    const auto length = static_cast<uint64_t>(bytes);
    std::vector<unsigned char> request(sizeof(file_dedupe_range) + sizeof(file_dedupe_range_info));
    auto* range = reinterpret_cast<file_dedupe_range*>(request.data());
    for (uint64_t offset = 0; offset < length;) {
        std::fill(request.begin(), request.end(), 0);
        range->src_offset = offset;
        range->src_length = std::min(kPiece, length - offset);
        range->dest_count = 1;
        range->info[0].dest_fd = target;
        range->info[0].dest_offset = offset;
        BeforeStep(test::Step::kShare);
        if (ioctl(source, FIDEDUPERANGE, range) != 0) {
            return LastError();
        }
        const file_dedupe_range_info& done = range->info[0];
        if (done.status == FILE_DEDUPE_RANGE_DIFFERS) {
            return Failed(ErrorKind::Changed);
        }
        if (done.status < 0) {
            return SystemError(-done.status);
        }
        if (done.bytes_deduped == 0) {
            return SystemError(EIO);  // no progress: nothing more would come of asking again
        }
        offset += done.bytes_deduped;
        report.shared = static_cast<int64_t>(offset);
    }
    return Error{};
}

// Unguarded when `guarding` requires a lease that either guard does not hold.
Error RequireLeases(Guarding guarding, const WriteGuard& member, const WriteGuard* kept) {
    const bool held = member.Held() && (kept == nullptr || kept->Held());
    return guarding == Guarding::kRequired && !held ? Failed(ErrorKind::Unguarded) : Error{};
}

}  // namespace

Error CheckUnchanged(Change change, const MemberFile& file, const KeptCopy* kept,
                     ChangeReport& report) {
    CheckedMember member;
    if (Error error = CheckMember(file.folder, file.name, file.expected,
                                  change != Change::kShareBlocks, member, false)) {
        return error;
    }
    report.names = static_cast<uint64_t>(member.info.st_nlink);
    struct stat keptInfo;
    if (kept != nullptr) {
        if (Error error = CheckKept(kept->path, kept->expected, keptInfo)) {
            report.keptRefused = true;
            return error;
        }
        report.keptNames = static_cast<uint64_t>(keptInfo.st_nlink);
    }
    return Error{};
}

Error ForecastChange(Change change, const MemberFile& file, const KeptCopy* kept,
                     ChangeReport& report) {
    CheckedMember member;
    if (Error error = CheckMember(file.folder, file.name, file.expected,
                                  change != Change::kShareBlocks, member)) {
        return error;
    }
    report.names = static_cast<uint64_t>(member.info.st_nlink);
    struct stat keptInfo {};
    WriteGuard keptGuard;
    if (kept != nullptr) {
        if (Error error = CheckKept(kept->path, kept->expected, keptInfo, &keptGuard)) {
            report.keptRefused = true;
            return error;
        }
        report.keptNames = static_cast<uint64_t>(keptInfo.st_nlink);
    }
    switch (change) {
        case Change::kRemove:
            if (Error error = MayRenameIn(member.folder.fd, member.info)) {
                return error;
            }
            return MayRemoveFile(member.folder.fd, file.name);
        case Change::kTrash: {
            if (Error error = MayRenameIn(member.folder.fd, member.info)) {
                return error;
            }
            if (Error error = MayRemoveFile(member.folder.fd, file.name)) {
                return error;
            }
            posix::TrashPlace place;
            Error error = posix::FindTrash(file.folder, member.info.st_dev, false, place);
            report.trash = place.folder;
            report.trashRefused = static_cast<bool>(error);
            return error;
        }
        case Change::kLink:
            if (Error error = ForecastLink(kept->path, keptInfo, member, report)) {
                return error;
            }
            return MayRemoveFile(member.folder.fd, file.name);
        case Change::kShareBlocks: {
            Descriptor source;
            Descriptor opened;
            if (Error error = OpenBoth(kept->path, kept->expected, member.folder.fd, file.name,
                                       file.expected, source, opened)) {
                return error;
            }
            return MayShareBlocks(source.fd, opened.fd);
        }
    }
    return Error{};
}

Error RemoveFileIfUnchanged(const MemberFile& file, const KeptCopy* kept, ChangeReport* report,
                            Guarding guarding) {
    BeforeStep(test::Step::kCheck);
    CheckedMember member;
    if (Error error = CheckMember(file.folder, file.name, file.expected, true, member)) {
        return error;
    }
    if (report != nullptr) {
        report->names = static_cast<uint64_t>(member.info.st_nlink);
    }
    WriteGuard keptGuard;
    struct stat keptInfo;
    if (kept != nullptr) {
        if (Error error = CheckKept(kept->path, kept->expected, keptInfo, &keptGuard)) {
            if (report != nullptr) {
                report->keptRefused = true;
            }
            return error;
        }
    }
    if (Error error =
            RequireLeases(guarding, member.guard, kept != nullptr ? &keptGuard : nullptr)) {
        return error;
    }
    const int at = member.folder.fd;
    std::string temporary;
    if (Error error = MemberAside(at, file.name, file.expected, temporary, report)) {
        return error;
    }
    Error removed = RemoveAside(at, temporary, {&member.guard, &keptGuard});
    if (removed) {
        PutBack(at, temporary, file.name, report);
    }
    return removed;
}

Error MoveToTrash(const MemberFile& file, const KeptCopy* kept, ChangeReport& report,
                  Guarding guarding) {
    BeforeStep(test::Step::kCheck);
    CheckedMember member;
    if (Error error = CheckMember(file.folder, file.name, file.expected, true, member)) {
        return error;
    }
    report.names = static_cast<uint64_t>(member.info.st_nlink);
    WriteGuard keptGuard;
    struct stat keptInfo;
    if (kept != nullptr) {
        if (Error error = CheckKept(kept->path, kept->expected, keptInfo, &keptGuard)) {
            report.keptRefused = true;
            return error;
        }
    }
    if (Error error =
            RequireLeases(guarding, member.guard, kept != nullptr ? &keptGuard : nullptr)) {
        return error;
    }
    posix::TrashPlace place;
    std::string trashName;
    Error error = posix::FindTrash(file.folder, member.info.st_dev, true, place);
    report.trash = place.folder;
    if (!error) {
        error = posix::ReserveTrashName(place, FullPathOf(file), file.name, trashName);
    }
    Descriptor files(
        error ? -1 : open((place.folder + "/files").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!error && files.fd < 0) {
        error = LastError();
    }
    if (error) {
        report.trashRefused = true;
        if (!trashName.empty()) {
            posix::ForgetTrashName(place, trashName);
        }
        return error;
    }
    const int at = member.folder.fd;
    std::string temporary;
    if (Error aside = MemberAside(at, file.name, file.expected, temporary, &report)) {
        posix::ForgetTrashName(place, trashName);
        return aside;
    }
    Error moved = MoveInto(at, temporary, files.fd, trashName, {&member.guard, &keptGuard});
    if (moved) {
        PutBack(at, temporary, file.name, &report);
        posix::ForgetTrashName(place, trashName);
        return moved;
    }
    report.trashedAs = place.folder + "/files/" + trashName;
    return Error{};
}

Error ReplaceWithLink(const MemberFile& file, const KeptCopy& kept, ChangeReport& report,
                      Guarding guarding) {
    BeforeStep(test::Step::kCheck);
    CheckedMember member;
    if (Error error = CheckMember(file.folder, file.name, file.expected, true, member)) {
        return error;
    }
    report.names = static_cast<uint64_t>(member.info.st_nlink);
    struct stat keptInfo;
    WriteGuard keptGuard;
    if (Error error = CheckKept(kept.path, kept.expected, keptInfo, &keptGuard)) {
        report.keptRefused = true;
        return error;
    }
    if (keptInfo.st_dev != member.info.st_dev) {
        return SystemError(EXDEV);  // a link cannot reach into another file system
    }
    if (Error error = RequireLeases(guarding, member.guard, &keptGuard)) {
        return error;
    }
    const LinkJob job{kept.path, kept.expected, keptGuard,    member.folder.fd,
                      file.name, file.expected, member.guard, report};
#ifdef TWINRAKE_TEST_HOOKS
    const bool mayExchange = !renameFlagsRefused;
#else
    const bool mayExchange = true;
#endif
    Error error = kNoExchange;
    if (mayExchange && !RefusingExchange().Knows(keptInfo.st_dev)) {
        error = LinkByExchange(job);
        if (error == kNoExchange) {
            RefusingExchange().Add(keptInfo.st_dev);
        }
    }
    if (error == kNoExchange) {
        error = LinkAside(job);
    }
    if (error) {
        // The names made and removed on the way moved the kept file's change time on; the
        // next change expects it so. (On success the change has read it last.)
        (void)KeptChangedNow(kept.path, kept.expected, report.keptChanged);
    }
    return error;
}

Error ShareBlocks(const MemberFile& file, const KeptCopy& kept, ChangeReport& report) {
    BeforeStep(test::Step::kCheck);
    report.shared = 0;
    CheckedMember member;
    // Sharing blocks changes no byte, right or time of the member: its write protection
    // does not stand in the way.
    if (Error error = CheckMember(file.folder, file.name, file.expected, false, member)) {
        return error;
    }
    report.names = static_cast<uint64_t>(member.info.st_nlink);
    Descriptor source;
    Descriptor target;
    if (Error error = OpenBoth(kept.path, kept.expected, member.folder.fd, file.name, file.expected,
                               source, target)) {
        return error;
    }
    return ShareAll(source.fd, target.fd, file.expected.length, report);
}

#ifdef TWINRAKE_TEST_HOOKS
namespace test {
void SetBeforeStep(std::function<void(Step step)> hook) {
    BeforeStepHook() = std::move(hook);
}
void SetRenameFlagsRefused(bool refused) {
    renameFlagsRefused = refused;
}
void SetLeasesRefused(bool refused) {
    leasesRefused = refused;
}
}  // namespace test
#endif

}  // namespace platform
