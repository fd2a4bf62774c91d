// twinrake-find's actions as a user runs them, checked on disk: which copy stays, that no
// physical file ever loses its last name, links that stay within one file system, blocks
// shared on a file system that can, and a dry run that changes nothing at all.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "cli_run.h"
#include "disk_look.h"
#include "mounts.h"
#include "temp_tree.h"

namespace {

using testing_support::Content;
using testing_support::Look;
using testing_support::LookAt;
using testing_support::Mounts;
using testing_support::Outcome;
using testing_support::Quote;
using testing_support::Snapshot;
using testing_support::TempTree;

Outcome Find(const std::string& arguments, const TempTree& scratch) {
    return testing_support::RunProgram(TWINRAKE_FIND, arguments, scratch);
}

const char* const kActions[] = {"--delete", "--link"};

// The order of the folders decides which copy stays, for either action.
TEST(CleanupTest, TheFirstFolderGivenKeepsItsCopy) {
    for (const char* action : kActions) {
        for (bool keepFirst : {true, false}) {
            SCOPED_TRACE(std::string(action) + (keepFirst ? " keep other" : " other keep"));
            TempTree tree;
            TempTree scratch;
            tree.Write("keep/x", Content(1, 5000));
            tree.Write("other/y", Content(1, 5000));
            tree.Write("other/z", Content(2, 5000));
            const std::string keep = tree.Path("keep"), other = tree.Path("other");
            const std::string kept = keepFirst ? tree.Path("keep/x") : tree.Path("other/y");
            const std::string gone = keepFirst ? tree.Path("other/y") : tree.Path("keep/x");
            Look before;
            ASSERT_TRUE(LookAt(kept, before));
            Outcome run = Find(std::string(action) + " " +
                                   (keepFirst ? Quote(keep) + " " + Quote(other)
                                              : Quote(other) + " " + Quote(keep)),
                               scratch);
            EXPECT_EQ(run.status, 0) << run.err;
            Look after, replaced;
            ASSERT_TRUE(LookAt(kept, after));
            EXPECT_EQ(after.bytes, before.bytes);
            EXPECT_EQ(after.inode, before.inode);
            if (std::string(action) == "--delete") {
                EXPECT_EQ(run.out, "deleted " + gone + "\n");
                EXPECT_FALSE(LookAt(gone, replaced));
            } else {
                EXPECT_EQ(run.out, "linked " + gone + " => " + kept + "\n");
                ASSERT_TRUE(LookAt(gone, replaced));
                EXPECT_EQ(replaced.inode, before.inode);
                EXPECT_EQ(after.names, 2u);
            }
            EXPECT_TRUE(tree.Exists("other/z"));
            // No temporary name is left in any folder.
            EXPECT_EQ(Snapshot(tree.root()).size(), std::string(action) == "--delete" ? 2u : 3u);
        }
    }
}

// One file under two names is never its own copy: a folder given twice, a folder and its own
// subfolder, hard links, a bind mount beside it and an overlay over it. In each, a real pair
// beside it loses its second copy and the lone file keeps every name and byte.
TEST(CleanupTest, NoFileLosesItsLastName) {
    struct Case {
        const char* what;
        // Sets the tree up (the lone file is "f/sub/lone"); gives the folders to name.
        std::function<bool(const TempTree&, Mounts&, std::string&)> setUp;
    };
    const std::vector<Case> cases = {
        {"the same folder twice",
         [](const TempTree& t, Mounts&, std::string& folders) {
             folders = Quote(t.Path("f")) + " " + Quote(t.Path("f"));
             return true;
         }},
        {"a folder and its own subfolder",
         [](const TempTree& t, Mounts&, std::string& folders) {
             folders = Quote(t.Path("f/sub")) + " " + Quote(t.Path("f"));
             return true;
         }},
        {"hard links",
         [](const TempTree& t, Mounts&, std::string& folders) {
             t.HardLink("f/sub/lone", "f/twin");
             folders = Quote(t.Path("f"));
             return true;
         }},
        {"a bind mount beside it",
         [](const TempTree& t, Mounts& m, std::string& folders) {
             folders = Quote(t.Path("f")) + " " + Quote(t.Path("bound"));
             return m.Mount(t.Path("f"), t.Path("bound"), nullptr, MS_BIND);
         }},
        {"an overlay over it",
         [](const TempTree& t, Mounts& m, std::string& folders) {
             t.MakeFolder("upper");
             t.MakeFolder("work");
             folders = Quote(t.Path("f")) + " " + Quote(t.Path("merged"));
             return m.Mount("overlay", t.Path("merged"), "overlay", 0,
                            "lowerdir=" + t.Path("f") + ",upperdir=" + t.Path("upper") +
                                ",workdir=" + t.Path("work"));
         }},
    };
    for (const Case& c : cases) {
        for (const char* action : kActions) {
            SCOPED_TRACE(std::string(c.what) + " " + action);
            TempTree tree;
            TempTree scratch;
            tree.Write("f/sub/lone", Content(7, 4000));
            tree.Write("p/1/a", Content(8, 4000));
            tree.Write("p/2/b", Content(8, 4000));
            std::string folders;
            Mounts mounts;
            if (!c.setUp(tree, mounts, folders)) {
                GTEST_SKIP() << mounts.refused;
            }
            Look lone;
            ASSERT_TRUE(LookAt(tree.Path("f/sub/lone"), lone));
            Outcome run = Find(std::string(action) + " " + Quote(tree.Path("p/1")) + " " +
                                   Quote(tree.Path("p/2")) + " " + folders,
                               scratch);
            EXPECT_EQ(run.status, 0) << run.err;
            // Only the pair was acted on, its second copy.
            EXPECT_EQ(run.out.find(tree.Path("f")), std::string::npos) << run.out;
            EXPECT_NE(run.out.find(tree.Path("p/2/b")), std::string::npos) << run.out;
            Look now;
            ASSERT_TRUE(LookAt(tree.Path("f/sub/lone"), now));
            EXPECT_EQ(now.bytes, lone.bytes);
            EXPECT_EQ(now.inode, lone.inode);
            EXPECT_TRUE(LookAt(tree.Path("p/1/a"), now));
        }
    }
}

// An overlay whose lower folder lies on a file system of its own shows the lower file under
// the overlay's device, with the lower inode number as it is or (xino=on, xino=auto) with
// high bits set: in every mode the two names are one file, and neither action touches it.
TEST(CleanupTest, AnOverlayViewNeverCostsTheLowerFile) {
    for (const char* mode : {"xino=off", "xino=on", "xino=auto"}) {
        SCOPED_TRACE(mode);
        TempTree tree;
        TempTree scratch;
        Mounts mounts;
        if (!mounts.MountImage(scratch, "ext4", tree.Path("lower")) ||
            !mounts.Overlay(tree.Path("lower"), tree.Path("merged"), tree.Path("layers"), mode)) {
            GTEST_SKIP() << mounts.refused;
        }
        tree.Write("lower/x", Content(9, 8000));
        Look before;
        ASSERT_TRUE(LookAt(tree.Path("lower/x"), before));
        for (const char* action : {"--delete", "--link", "--delete -n"}) {
            for (bool mergedFirst : {true, false}) {
                const std::string merged = Quote(tree.Path("merged")),
                                  lower = Quote(tree.Path("lower"));
                Outcome run = Find(std::string(action) + " " +
                                       (mergedFirst ? merged + " " + lower : lower + " " + merged),
                                   scratch);
                EXPECT_EQ(run.status, 0) << action << run.err;
                EXPECT_EQ(run.out, "") << action;
            }
        }
        Look after;
        ASSERT_TRUE(LookAt(tree.Path("lower/x"), after));
        EXPECT_EQ(after, before);
    }
}

TEST(CleanupTest, LinksAcrossTwoFileSystemsAreRefusedAndBothFilesStay) {
    TempTree tree;
    TempTree scratch;
    Mounts mounts;
    if (!mounts.Mount("tmpfs", tree.Path("other"), "tmpfs", 0)) {
        GTEST_SKIP() << mounts.refused;
    }
    tree.Write("here/x", Content(3, 6000));
    tree.Write("other/y", Content(3, 6000));
    const auto before = Snapshot(tree.root());
    Outcome run =
        Find("--link " + Quote(tree.Path("here")) + " " + Quote(tree.Path("other")), scratch);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "twinrake-find: " + tree.Path("other/y") +
                           ": not linked: Invalid cross-device link\n");
    EXPECT_EQ(Snapshot(tree.root()), before);
}

// Blocks shared on XFS: the member keeps its own inode, owner, rights and times, and filefrag
// shows its extents shared. ext4 cannot share: the member is named and stays as it was.
TEST(CleanupTest, ReflinkSharesBlocksWhereTheFileSystemCanAndIsRefusedWhereNot) {
    for (const char* type : {"xfs", "ext4"}) {
        SCOPED_TRACE(type);
        TempTree tree;
        TempTree scratch;
        Mounts mounts;
        if (!mounts.MountImage(scratch, type, tree.Path("fs"))) {
            GTEST_SKIP() << mounts.refused;
        }
        const std::string bytes = Content(4, 3 << 20);
        tree.Write("fs/keep/a", bytes);
        tree.Write("fs/other/b", bytes);
        const std::string member = tree.Path("fs/other/b");
        ASSERT_EQ(chown(member.c_str(), 65534, 65534), 0);
        ASSERT_EQ(chmod(member.c_str(), 0444), 0);
        struct timespec old[2] = {{1577836800, 0}, {1577836800, 0}};  // 2020-01-01
        ASSERT_EQ(utimensat(AT_FDCWD, member.c_str(), old, 0), 0);
        Look before, after;
        ASSERT_TRUE(LookAt(member, before));
        Outcome run = Find("--reflink --summary " + Quote(tree.Path("fs/keep")) + " " +
                               Quote(tree.Path("fs/other")),
                           scratch);
        ASSERT_TRUE(LookAt(member, after));
        EXPECT_EQ(after, before);
        if (std::string(type) == "xfs") {
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.out, "reflinked " + member + " => " + tree.Path("fs/keep/a") + "\n");
            EXPECT_NE(run.err.find("reflinked 1 file, 3145728 bytes (3.0 MiB) now shared"),
                      std::string::npos)
                << run.err;
            Outcome extents =
                testing_support::RunProgram("filefrag", "-v " + Quote(member), scratch);
            EXPECT_NE(extents.out.find("shared"), std::string::npos) << extents.out;
        } else {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_NE(run.err.find("twinrake-find: " + member +
                                   ": not reflinked: Operation not supported\n"),
                      std::string::npos)
                << run.err;
        }
    }
}

// A dry run says what each action would do and leaves every byte, name, inode and time.
TEST(CleanupTest, DryRunChangesNothing) {
    TempTree tree;
    TempTree scratch;
    tree.Write("a/1", Content(5, 9000));
    tree.Write("b/1", Content(5, 9000));
    tree.Write("b/2", Content(5, 9000));
    tree.Write("c/1", "pair");
    tree.Write("d/1", "pair");
    const std::string folders = Quote(tree.Path("a")) + " " + Quote(tree.Path("b")) + " " +
                                Quote(tree.Path("c")) + " " + Quote(tree.Path("d"));
    const auto before = Snapshot(tree.root());
    // (Sharing blocks, which this file system may not do, is tried in dry_run_test.cpp.)
    for (const char* action : {"--delete", "--link"}) {
        SCOPED_TRACE(action);
        Outcome run = Find(std::string(action) + " -n --summary " + folders, scratch);
        EXPECT_EQ(run.status, 0) << run.err;
        const std::string word = std::string("would ") + (action + 2);
        const std::string to = std::string(action) == "--delete" ? "" : " => ";
        // b's two files in the order b lists them; the tests see that order too.
        std::vector<std::string> lines;
        for (const std::string& line : testing_support::ListingOrder(tree.Path("b"))) {
            size_t name = line.find('|') + 1;
            std::string path = tree.Path("b/" + line.substr(name, line.find('|', name) - name));
            lines.push_back(word + " " + path + (to.empty() ? "" : to + tree.Path("a/1")));
        }
        lines.push_back(word + " " + tree.Path("d/1") + (to.empty() ? "" : to + tree.Path("c/1")));
        std::string expected;
        for (const std::string& line : lines) {
            expected += line + "\n";
        }
        EXPECT_EQ(run.out, expected);
        EXPECT_NE(run.err.find("; " + word + " 3 files, "), std::string::npos) << run.err;
        EXPECT_EQ(Snapshot(tree.root()), before);
    }
}

// What each member became, for scripts: NUL-ended parts, and a JSON document with an action
// per member and the bytes freed.
TEST(CleanupTest, NulAndJsonOutputOfAnAction) {
    TempTree tree;
    TempTree scratch;
    tree.Write("a/x", Content(6, 7000));
    tree.Write("b/y", Content(6, 7000));
    const std::string folders = Quote(tree.Path("a")) + " " + Quote(tree.Path("b"));
    Outcome dry = Find("--link -n -0 " + folders, scratch);
    EXPECT_EQ(dry.out,
              std::string("would link\0", 11) + tree.Path("b/y") + '\0' + tree.Path("a/x") + '\0');
    Outcome json = Find("--delete --json " + folders, scratch);
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out, "{\"groups\":[\n{\"size\":7000,\"members\":[{\"path\":\"" +
                            tree.Path("a/x") + "\",\"action\":\"kept\"},{\"path\":\"" +
                            tree.Path("b/y") + "\",\"action\":\"deleted\"}]}\n],\"freed\":7000}\n");
    EXPECT_FALSE(tree.Exists("b/y"));
}

}  // namespace
