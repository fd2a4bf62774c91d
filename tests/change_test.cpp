// Files that change while the search reads them, on the real file system: a hook after every
// read lets the test change a file on disk right after its second block. Whatever the change,
// the file joins no group, is named as passed over, and its unchanged copies still group.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/scan.h"
#include "detect/search.h"
#include "oracle.h"
#include "platform/posix/test_hooks.h"
#include "session.h"
#include "temp_tree.h"

namespace twinrake {
namespace {

using testing_support::Content;
using testing_support::Groups;
using testing_support::GroupsOf;
using testing_support::Numbered;
using testing_support::TempTree;

// Every file of the tree gets a last write long past, so that a change now always shows.
void AgeAll(const std::string& root) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        struct timespec times[2] = {{1577836800, 0}, {1577836800, 0}};  // 2020-01-01
        utimensat(AT_FDCWD, entry.path().c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
}

uint64_t InodeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class ChangeTest : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        ASSERT_TRUE(StartUp(state));
        state.passedOver = [&](const PassedOver& p) { passed.push_back(p.path + ": " + p.reason); };
    }
    void TearDown() override {
        platform::test::SetAfterRead(nullptr);
        platform::test::SetAfterListing(nullptr);
    }

    // Searches the `folders` of `tree`, added in this order (so that the catalogue order does
    // not hang on the file system's listing order), with `change` done to the file `victim`
    // once `after` bytes of it have been read.
    void SearchChanging(const TempTree& tree, const std::vector<std::string>& folders,
                        const std::string& victim, int64_t after, std::function<void()> change) {
        AgeAll(tree.root());
        uint64_t inode = InodeOf(victim);
        auto done = std::make_shared<std::atomic<bool>>(false);
        platform::test::SetAfterRead([=](uint64_t read, int64_t offset) {
            if (read == inode && offset >= after && !done->exchange(true)) {
                change();
            }
        });
        for (const std::string& folder : folders) {
            ScanFolder(state.fileCatalogue, state.programDirectory, tree.Path(folder));
        }
        FindDuplicates(state);
        platform::test::SetAfterRead(nullptr);
        ASSERT_TRUE(done->load()) << "the change was never made";
    }

    std::vector<std::string> passed;
};

void Rewrite(const std::string& path, const std::string& bytes, int flags) {
    int fd = open(path.c_str(), O_WRONLY | flags);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

// While the window waits for a size's reading, PrgFile follows it; reads slowed down here make
// the window wait. After the search both bars stand at 0.
TEST_F(ChangeTest, FileBarFollowsTheReadingTheWindowWaitsForAndBothBarsEndAtZero) {
    TempTree tree;
    const std::string big = Content(3, 300000);
    tree.Write("big1", big);
    tree.Write("big2", big);
    tree.Write("big3", big.substr(0, 299999) + "x");
    platform::test::SetAfterRead(
        [](uint64_t, int64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
    ScanFolder(state.fileCatalogue, state.programDirectory, tree.root());
    FindDuplicates(state);
    EXPECT_EQ(state.groupList.size(), 1u);
    EXPECT_EQ(Control(PrgFile).progress, 0);
    EXPECT_EQ(Control(PrgOverall).progress, 0);
    const std::vector<int32_t>& moved = Control(PrgFile).progressHistory;
    EXPECT_GT(moved.size(), 3u);
    EXPECT_TRUE(std::is_sorted(moved.begin() + 1, moved.end() - 1)) << "it only climbs";
}

// The victim "a/x" and its copies "b/y" and "c/z", side by side (three files of a size).
TEST_F(ChangeTest, FileChangedRightAfterItsSecondBlockJoinsNoGroup) {
    const size_t size = 300000;
    const std::string bytes = Content(21, size);
    struct Case {
        const char* what;
        std::function<void(const TempTree&)> change;
    };
    const std::vector<Case> cases = {
        {"appended to", [&](const TempTree& t) { Rewrite(t.Path("a/x"), "more", O_APPEND); }},
        {"overwritten at byte 0", [&](const TempTree& t) { Rewrite(t.Path("a/x"), "\x01", 0); }},
        {"replaced by a rename",
         [&](const TempTree& t) {
             t.Write("a/new", Content(22, size));
             std::filesystem::rename(t.Path("a/new"), t.Path("a/x"));
         }},
        {"deleted", [&](const TempTree& t) { std::filesystem::remove(t.Path("a/x")); }},
        // Other bytes only where it has been read already: the rest compares equal.
        {"truncated and rewritten with other bytes of the same length",
         [&](const TempTree& t) {
             std::string other = bytes;
             other[10] ^= 0x01;
             Rewrite(t.Path("a/x"), other, O_TRUNC);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        tree.Write("a/x", bytes);
        tree.Write("b/y", bytes);
        tree.Write("c/z", bytes);
        state.fileCatalogue.Clear();
        passed.clear();
        // Blocks of 4 KiB, then 16 KiB: the second ends at 20 KiB.
        SearchChanging(tree, {"a", "b", "c"}, tree.Path("a/x"), 20480, [&] { c.change(tree); });
        EXPECT_EQ(GroupsOf(state), (Groups{{tree.Path("b/y"), tree.Path("c/z")}}));
        EXPECT_EQ(passed, (std::vector<std::string>{tree.Path("a/x") +
                                                    ": changed while the search read it"}));
    }
}

// More files of one size than are read side by side: each is first read at its ends for a
// digest, and a file that changes while or after its digest is read is left out as well and
// named, even where the digest read none of the changed bytes or the last write was set back.
TEST_F(ChangeTest, FileChangedWhileItsDigestIsTakenJoinsNoGroup) {
    struct Case {
        const char* what;
        int64_t after;  // the bytes read of it before the change: 4096 is its first end
        std::function<void(const std::string&)> change;
    };
    const std::vector<Case> cases = {
        {"overwritten at byte 0 after both ends", 131072,
         [](const std::string& victim) { Rewrite(victim, "\x02", 0); }},
        {"written to between its two ends, where no digest reads", 4096,
         [](const std::string& victim) {
             int fd = open(victim.c_str(), O_WRONLY);
             ASSERT_EQ(pwrite(fd, "\x02", 1, 100000), 1);
             close(fd);
         }},
        {"written to, its last write set back", 4096,
         [](const std::string& victim) {
             int fd = open(victim.c_str(), O_WRONLY);
             ASSERT_EQ(pwrite(fd, "\x02", 1, 100000), 1);
             struct timespec times[2] = {{1577836800, 0}, {1577836800, 0}};  // as AgeAll
             futimens(fd, times);
             close(fd);
         }},
    };
    const std::string bytes = Content(24, 200000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        for (int i = 0; i < 300; ++i) {
            tree.Write("d/f" + std::to_string(1000 + i), bytes);
        }
        state.fileCatalogue.Clear();
        passed.clear();
        const std::string victim = tree.Path("d/f1007");
        SearchChanging(tree, {"d"}, victim, c.after, [&] { c.change(victim); });
        ASSERT_EQ(state.groupList.size(), 1u);
        EXPECT_EQ(state.groupList[0].memberCount, 299);
        Groups groups = GroupsOf(state);
        for (const auto& member : groups[0]) {
            EXPECT_NE(member, victim);
        }
        EXPECT_EQ(passed,
                  (std::vector<std::string>{victim + ": changed while the search read it"}));
    }
}

// A folder that changes between the reading of its names and the look at each of them: what
// vanished is no entry, what the look found is catalogued as it is, and a file that is no
// longer where it was listed is named by the search. Nothing of another folder joins a group.
TEST_F(ChangeTest, FolderChangedBetweenItsListingAndTheLookAtItsEntries) {
    const std::string bytes = Content(31, 9000);
    struct Case {
        const char* what;
        std::function<void(const TempTree&)> change;
        std::vector<std::string> catalogued;  // below the tree
        std::vector<std::string> passed;      // below the tree, with the reason
    };
    const std::vector<Case> cases = {
        {"deleted with its files",
         [](const TempTree& t) { std::filesystem::remove_all(t.Path("gone")); },
         {"keep/a"},
         {}},
        {"renamed away, another folder in its place",
         [&](const TempTree& t) {
             std::filesystem::rename(t.Path("gone"), t.Path("moved"));
             t.Write("gone/c", Content(32, 9000));
         },
         {"keep/a", "gone/c", "gone/d"},
         {"gone/d: No such file or directory"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        tree.Write("keep/a", bytes);
        tree.Write("gone/c", bytes);
        tree.Write("gone/d", bytes);
        state.fileCatalogue.Clear();
        passed.clear();
        platform::test::SetAfterListing([&](const std::string& folder) {
            if (folder == tree.Path("gone")) {
                c.change(tree);
            }
        });
        for (const char* folder : {"keep", "gone"}) {
            ScanFolder(state.fileCatalogue, state.programDirectory, tree.Path(folder),
                       state.passedOver);
        }
        platform::test::SetAfterListing(nullptr);
        std::vector<std::string> catalogued;
        for (const FileEntry& entry : state.fileCatalogue) {
            catalogued.push_back(FullPath(entry.directory(), entry.name()));
            EXPECT_EQ(entry.size, 9000);
        }
        std::vector<std::string> expected;
        for (const std::string& path : c.catalogued) {
            expected.push_back(tree.Path(path));
        }
        std::sort(catalogued.begin() + 1, catalogued.end());  // gone's own order is the listing's
        EXPECT_EQ(catalogued, expected);
        FindDuplicates(state);
        EXPECT_TRUE(state.groupList.empty());
        expected.clear();
        for (const std::string& path : c.passed) {
            expected.push_back(tree.Path(path));
        }
        EXPECT_EQ(passed, expected);
    }
}

// A folder the search holds open, replaced by another of the same name once one of its files
// has been read: its other file is then read in the folder held (the old one), but a group
// names files by their paths, and those now name other bytes. No file of it joins a group;
// its copies elsewhere still group.
TEST_F(ChangeTest, FolderReplacedWhileTheSearchHoldsItGroupsNothingOfIt) {
    if (platform::FolderHoldBudget() == 0) {
        GTEST_SKIP() << "the descriptor limit leaves no room to hold folders";
    }
    TempTree tree;
    tree.Write("a/p", Content(41, 5000));
    tree.Write("a/x", Content(42, 6000));
    tree.Write("b/y", Content(42, 6000));
    tree.Write("c/q", Content(41, 5000));
    tree.Write("d/z", Content(42, 6000));
    AgeAll(tree.root());
    const std::set<uint64_t> inFolder = {InodeOf(tree.Path("a/p")), InodeOf(tree.Path("a/x"))};
    std::atomic<bool> done{false};
    platform::test::SetAfterRead([&](uint64_t inode, int64_t) {
        if (inFolder.count(inode) != 0 && !done.exchange(true)) {
            std::filesystem::rename(tree.Path("a"), tree.Path("a.old"));
            tree.Write("a/p", Content(43, 5000));
            tree.Write("a/x", Content(44, 6000));
        }
    });
    for (const char* folder : {"a", "b", "c", "d"}) {
        ScanFolder(state.fileCatalogue, state.programDirectory, tree.Path(folder));
    }
    FindDuplicates(state, SearchTuning{1});  // one size after the other
    platform::test::SetAfterRead(nullptr);
    ASSERT_TRUE(done.load());
    EXPECT_EQ(GroupsOf(state), (Groups{{tree.Path("b/y"), tree.Path("d/z")}}));
}

// Whether reading the start of `path` would have to wait for the disk, as a read that must not
// wait tells (a file system that cannot tell, or keeps files in memory, never does).
bool OutOfCache(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    char byte = 0;
    struct iovec part {
        &byte, 1
    };
    bool out = fd >= 0 && preadv2(fd, &part, 1, 0, RWF_NOWAIT) < 0 && errno == EAGAIN;
    close(fd);
    return out;
}

// Takes `path` out of the page cache, as days without a look at it do.
void Evict(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
}

// One thread per core reads and lists while files and listings come from memory. Once the
// file system has to go to the disk (files out of the page cache; listings that take as long
// as a disk's), more threads do, each with a request in flight. Told by the threads the
// hooks see.
TEST_F(ChangeTest, ReadsThatWaitForTheDiskAreMadeByMoreThreads) {
    TempTree tree;
    std::vector<std::string> files;
    auto writePairs = [&](const char* prefix, int from, int to) {
        for (int i = from; i < to; ++i) {
            for (const char* copy : {"a", "b"}) {
                files.push_back(std::string(copy) + "/" + Numbered(prefix, i) + "/f");
                tree.Write(files.back(), Content(i, 100 + i));
            }
        }
    };
    writePairs("d", 0, 40);
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    for (bool fromDisk : {false, true}) {
        SCOPED_TRACE(fromDisk ? "from the disk" : "from memory");
        if (fromDisk) {
            // The pace is judged in rounds of answers; far more work than one round must be
            // left once it turns, or a loaded machine lets the first readers finish it all
            // before the new ones are scheduled.
            writePairs("e", 40, 240);
            for (const std::string& file : files) {
                Evict(tree.Path(file));
            }
            if (!OutOfCache(tree.Path(files.front()))) {
                GTEST_SKIP() << "this file system keeps its files in memory (" << tree.root()
                             << ")";
            }
        }
        std::mutex mutex;
        std::set<std::thread::id> listing;
        std::set<std::thread::id> reading;
        auto seen = [&](std::set<std::thread::id>& threads) {
            std::lock_guard lock(mutex);
            threads.insert(std::this_thread::get_id());
        };
        platform::test::SetAfterListing([&](const std::string&) {
            if (fromDisk) {
                std::this_thread::sleep_for(std::chrono::microseconds(400));
            }
            seen(listing);
        });
        platform::test::SetAfterRead([&](uint64_t, int64_t) { seen(reading); });
        state.fileCatalogue.Clear();
        ScanFolder(state.fileCatalogue, state.programDirectory, tree.root());
        FindDuplicates(state);
        platform::test::SetAfterListing(nullptr);
        platform::test::SetAfterRead(nullptr);
        EXPECT_EQ(state.groupList.size(), fromDisk ? 240u : 40u);
        if (fromDisk) {
            EXPECT_GT(listing.size(), cores);
            EXPECT_GT(reading.size(), cores);
        } else {
            EXPECT_LE(listing.size(), cores);
            EXPECT_LE(reading.size(), cores);
        }
    }
}

}  // namespace
}  // namespace twinrake
