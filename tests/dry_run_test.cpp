// A dry run says exactly what the real run then does: the same members acted on, the same
// members left alone with the same reasons, the same status; and it changes nothing. Tried
// where the system refuses at the last moment: another file system or mount, a file system
// that shares no blocks, a folder the user may not change, a file another owner holds, an
// immutable file, a FUSE file system that swaps no names, a kept file with every name its
// file system allows.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli_run.h"
#include "disk_look.h"
#include "mounts.h"
#include "temp_tree.h"

namespace {

using testing_support::Content;
using testing_support::Mounts;
using testing_support::Outcome;
using testing_support::Quote;
using testing_support::Snapshot;
using testing_support::TempTree;

// What a case sets up and how it runs.
struct Invocation {
    std::string arguments;  // the action and the folders, without -n
    std::string as;         // put before the program: a change of user
};

struct Case {
    const char* what;
    // Builds the tree; false (with `mounts.refused`) where it cannot be built here.
    std::function<bool(const TempTree& tree, const TempTree& scratch, Mounts& mounts,
                       Invocation& run)>
        setUp;
    int status;
    const char* reason;  // in what the real run says of a member left alone; "" for none
    // What else the real run must have left on disk.
    std::function<void(const TempTree& tree, const Outcome& real)> check = nullptr;
};

// Replaces every `from` in `text` by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// What a dry run says, in the words of the real run.
std::string AsDone(std::string said) {
    for (const char* verb : {"delete", "link", "reflink"}) {
        const std::string done = std::string(verb) + (verb[0] == 'd' ? "d" : "ed");
        said = Replaced(said, std::string(": would not ") + verb + ": ", ": not " + done + ": ");
        said = Replaced(said, std::string("would ") + verb + " ", done + " ");
    }
    return said;
}

// A pair below the tree: keep/a and other/b with the same bytes.
void Pair(const TempTree& tree, const std::string& below = "") {
    const std::string bytes = Content(31, 12000);
    tree.Write(below + "keep/a", bytes);
    tree.Write(below + "other/b", bytes);
}

std::string Folders(const TempTree& tree, const std::string& below = "") {
    return Quote(tree.Path(below + "keep")) + " " + Quote(tree.Path(below + "other"));
}

const char* const kAsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

// The tree made readable for nobody, every folder on the way enterable.
void OpenToAll(const TempTree& tree) {
    chmod(tree.root().c_str(), 0755);
}

uint64_t NamesOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_nlink : 0;
}

ino_t InodeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// The files below `root` once a FUSE file system has had the last close of each: libfuse keeps
// a file removed while open under a hidden name (.fuse_hidden...) until that close reaches it,
// which can be after the program has ended.
std::map<std::string, testing_support::Look> SnapshotAfterLastClose(const std::string& root) {
    for (int tries = 0;; ++tries) {
        auto files = Snapshot(root);
        const bool hidden = std::any_of(files.begin(), files.end(), [](const auto& file) {
            return file.first.find("/.fuse_hidden") != std::string::npos;
        });
        if (!hidden || tries == 500) {
            return files;
        }
        usleep(10000);
    }
}

// A listing of the tree made before the real run, for a case that needs the groups' order.
std::string& ListedBefore() {
    static std::string listed;
    return listed;
}

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"delete 600 groups on several threads, some members write-protected",
         [](const TempTree& t, const TempTree& scratch, Mounts&, Invocation& run) {
             for (int n = 0; n < 600; ++n) {
                 const std::string bytes = Content(static_cast<uint32_t>(1000 + n), 100 + n % 7);
                 t.Write(testing_support::Numbered("keep/", n), bytes);
                 t.Write(testing_support::Numbered("other/", n), bytes);
                 if (n % 37 == 5) {
                     chmod(t.Path(testing_support::Numbered("other/", n)).c_str(), 0444);
                 }
             }
             run.arguments = "--delete " + Folders(t);
             ListedBefore() = testing_support::RunProgram(TWINRAKE_FIND, Folders(t), scratch).out;
             return true;
         },
         1, ": not deleted: write-protected",
         [](const TempTree& t, const Outcome& real) {
             // Output and messages in the groups' order, the one a listing shows, as one
             // thread gives them.
             std::vector<std::string> deleted, left, wantDeleted, wantLeft;
             std::istringstream listed(ListedBefore());
             for (std::string line; std::getline(listed, line);) {
                 if (line.find("/other/") != std::string::npos) {
                     const bool protectedOne =
                         std::stoi(line.substr(line.rfind('/') + 1)) % 37 == 5;
                     (protectedOne ? wantLeft : wantDeleted).push_back(line);
                 }
             }
             std::istringstream lines(real.out), messages(real.err);
             for (std::string line; std::getline(lines, line);) {
                 deleted.push_back(line.substr(line.find(' ') + 1));
             }
             for (std::string line; std::getline(messages, line);) {
                 left.push_back(line.substr(15, line.find(": not") - 15));  // "twinrake-find: "
             }
             for (int n = 0; n < 600; ++n) {
                 EXPECT_EQ(t.Exists(testing_support::Numbered("other/", n)), n % 37 == 5);
                 EXPECT_TRUE(t.Exists(testing_support::Numbered("keep/", n)));
             }
             EXPECT_EQ(deleted, wantDeleted);
             EXPECT_EQ(left, wantLeft);
         }},
        {"delete, one copy write-protected",
         [](const TempTree& t, const TempTree&, Mounts&, Invocation& run) {
             Pair(t);
             t.Write("other/c", t.Read("other/b"));
             chmod(t.Path("other/c").c_str(), 0444);
             run.arguments = "--delete " + Folders(t);
             return true;
         },
         1, ": not deleted: write-protected"},
        {"link into another file system",
         [](const TempTree& t, const TempTree&, Mounts& m, Invocation& run) {
             if (!m.Mount("tmpfs", t.Path("other"), "tmpfs", 0)) {
                 return false;
             }
             Pair(t);
             run.arguments = "--link " + Folders(t);
             return true;
         },
         1, ": not linked: Invalid cross-device link"},
        {"link through a bind mount of the same file system",
         [](const TempTree& t, const TempTree&, Mounts& m, Invocation& run) {
             Pair(t);
             if (!m.Mount(t.Path("other"), t.Path("bound"), nullptr, MS_BIND)) {
                 return false;
             }
             run.arguments = "--link " + Quote(t.Path("keep")) + " " + Quote(t.Path("bound"));
             return true;
         },
         1, ": not linked: Invalid cross-device link"},
        {"reflink on ext4, which shares no blocks",
         [](const TempTree& t, const TempTree& s, Mounts& m, Invocation& run) {
             if (!m.MountImage(s, "ext4", t.Path("fs"))) {
                 return false;
             }
             Pair(t, "fs/");
             run.arguments = "--reflink " + Folders(t, "fs/");
             return true;
         },
         1, ": not reflinked: Operation not supported"},
        {"reflink on XFS",
         [](const TempTree& t, const TempTree& s, Mounts& m, Invocation& run) {
             if (!m.MountImage(s, "xfs", t.Path("fs"))) {
                 return false;
             }
             Pair(t, "fs/");
             run.arguments = "--reflink " + Folders(t, "fs/");
             return true;
         },
         0, ""},
        {"reflink on XFS made without shared blocks",
         [](const TempTree& t, const TempTree& s, Mounts& m, Invocation& run) {
             if (!m.MountImage(s, "xfs", t.Path("fs"), "-m reflink=0")) {
                 return false;
             }
             Pair(t, "fs/");
             run.arguments = "--reflink " + Folders(t, "fs/");
             return true;
         },
         1, ": not reflinked: Operation not supported"},
        {"delete as a user who may not change the folder",
         [](const TempTree& t, const TempTree&, Mounts&, Invocation& run) {
             Pair(t);
             OpenToAll(t);
             chmod(t.Path("other").c_str(), 0555);
             run.arguments = "--delete " + Folders(t);
             run.as = kAsNobody;
             return true;
         },
         1, ": not deleted: Permission denied"},
        {"delete as a user from a sticky folder, another owner's file",
         [](const TempTree& t, const TempTree&, Mounts&, Invocation& run) {
             Pair(t);
             OpenToAll(t);
             chmod(t.Path("other").c_str(), 01777);
             run.arguments = "--delete " + Folders(t);
             run.as = kAsNobody;
             return true;
         },
         1, ": not deleted: Operation not permitted"},
        {"link as a user to another owner's file (protected hard links)",
         [](const TempTree& t, const TempTree&, Mounts& m, Invocation& run) {
             Pair(t);
             OpenToAll(t);
             if (std::system("grep -qx 1 /proc/sys/fs/protected_hardlinks") != 0) {
                 m.refused = "hard links are not protected on this machine";
                 return false;
             }
             for (const char* path : {"other", "other/b"}) {
                 if (chown(t.Path(path).c_str(), 65534, 65534) != 0) {
                     return false;
                 }
             }
             run.arguments = "--link " + Folders(t);
             run.as = kAsNobody;
             return true;
         },
         1, ": not linked: Operation not permitted"},
        {"delete an immutable copy",
         [](const TempTree& t, const TempTree&, Mounts&, Invocation& run) {
             Pair(t);
             run.arguments = "--delete " + Folders(t);
             return std::system(
                        ("chattr +i " + Quote(t.Path("other/b")) + " 2>/dev/null").c_str()) == 0;
         },
         1, ": not deleted: Operation not permitted",
         [](const TempTree& t, const Outcome&) {
             EXPECT_EQ(std::system(("chattr -i " + Quote(t.Path("other/b"))).c_str()), 0);
         }},
        {"link on a FUSE file system that swaps no names",
         [](const TempTree& t, const TempTree&, Mounts& m, Invocation& run) {
             Pair(t, "real/");
             run.arguments = "--link " + Folders(t, "mirror/");
             return m.Mirror(t.Path("real"), t.Path("mirror"));
         },
         0, "",
         [](const TempTree& t, const Outcome&) {
             EXPECT_EQ(InodeOf(t.Path("real/other/b")), InodeOf(t.Path("real/keep/a")));
             // No temporary name left, ours or the file system's.
             EXPECT_EQ(SnapshotAfterLastClose(t.Path("real")).size(), 2u);
         }},
        {"link when the kept file has every name ext4 allows",
         [](const TempTree& t, const TempTree& s, Mounts& m, Invocation& run) {
             if (!m.MountImage(s, "ext4", t.Path("fs"))) {
                 return false;
             }
             const std::string bytes = Content(32, 3000);
             t.Write("fs/keep/a", bytes);
             t.MakeFolder("fs/names");
             // 64,996 names in all: room for four more.
             for (int n = 0; n < 64995; ++n) {
                 const std::string name = t.Path(testing_support::Numbered("fs/names/", n));
                 if (link(t.Path("fs/keep/a").c_str(), name.c_str()) != 0) {
                     return false;
                 }
             }
             for (int n = 1; n <= 8; ++n) {
                 t.Write(testing_support::Numbered("fs/other/", n), bytes);
             }
             run.arguments = "--link " + Folders(t, "fs/");
             return true;
         },
         0, "",
         [](const TempTree& t, const Outcome& real) {
             // Four linked to keep/a, the fifth kept from then on, the last three linked to it.
             EXPECT_EQ(NamesOf(t.Path("fs/keep/a")), 65000u);
             std::istringstream lines(real.out);
             int toFirst = 0;
             std::vector<std::string> toNext;
             for (std::string line; std::getline(lines, line);) {
                 const std::string kept = line.substr(line.find(" => ") + 4);
                 if (kept == t.Path("fs/keep/a")) {
                     ++toFirst;
                 } else {
                     toNext.push_back(kept);
                 }
             }
             EXPECT_EQ(toFirst, 4);
             ASSERT_EQ(toNext.size(), 3u);
             EXPECT_EQ(toNext[0], toNext[2]);
             EXPECT_EQ(NamesOf(toNext[0]), 4u);
         }},
    };
    return cases;
}

class DryRunTest : public ::testing::TestWithParam<size_t> {};

TEST_P(DryRunTest, SaysExactlyWhatTheRealRunThenDoes) {
    const Case& c = Cases()[GetParam()];
    SCOPED_TRACE(c.what);
    TempTree tree;
    TempTree scratch;
    Mounts mounts;
    Invocation run;
    if (!c.setUp(tree, scratch, mounts, run)) {
        GTEST_SKIP() << mounts.refused;
    }
    if (!run.as.empty() && access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "no setpriv to run as another user";
    }
    const auto before = Snapshot(tree.root());
    Outcome dry =
        testing_support::RunProgram(TWINRAKE_FIND, "-n " + run.arguments, scratch, run.as);
    EXPECT_EQ(Snapshot(tree.root()), before) << "the dry run changed something";
    Outcome real = testing_support::RunProgram(TWINRAKE_FIND, run.arguments, scratch, run.as);
    EXPECT_EQ(real.status, c.status) << real.err;
    EXPECT_EQ(dry.status, real.status);
    EXPECT_EQ(AsDone(dry.out), real.out);
    EXPECT_EQ(AsDone(dry.err), real.err);
    if (*c.reason != '\0') {
        EXPECT_NE(real.err.find(c.reason), std::string::npos) << real.err;
    } else {
        EXPECT_NE(real.out, "");
    }
    if (c.check) {
        c.check(tree, real);
    }
}

INSTANTIATE_TEST_SUITE_P(EverySituation, DryRunTest, ::testing::Range<size_t>(0, Cases().size()));

}  // namespace
