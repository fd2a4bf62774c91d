// The scan and the comparison over a scripted file system, where listing order and faults are
// under the test's control.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "catalogue/scan.h"
#include "detect/compare.h"
#include "detect/identical_sets.h"
#include "fake_files.h"

namespace twinrake {
namespace {

using fakefs::Entry;
using fakefs::Folder;

std::vector<std::string> Paths(const FileCatalogue& catalogue) {
    std::vector<std::string> out;
    for (const FileEntry& entry : catalogue) {
        out.push_back(FullPath(entry.directory(), entry.name()) + " " + std::to_string(entry.size));
    }
    return out;
}

class ScanFaultTest : public ::testing::Test {
  protected:
    void SetUp() override { fakefs::Reset(); }
    void Scan(const std::string& folder, const std::string& pattern = "*.*") {
        ScanFolder(catalogue, fakefs::State().programDirectory, folder, pattern, 0);
    }
    fakefs::Tree& fs = fakefs::State();
    FileCatalogue catalogue;
};

TEST_F(ScanFaultTest, SubtreeStandsWhereItsFolderIsListed) {
    fs.folders["/d"] =
        Folder{{{".", true}, {"..", true}, {"a.txt", false, 1}, {"S", true}, {"b.txt", false, 2}}};
    fs.folders["/d/S"] = Folder{{{".", true}, {"..", true}, {"s.txt", false, 3}}};
    Scan("/d/");
    EXPECT_EQ(Paths(catalogue),
              (std::vector<std::string>{"/d/a.txt 1", "/d/S/s.txt 3", "/d/b.txt 2"}));
    // "." and ".." were neither descended nor catalogued.
    EXPECT_EQ(fs.listed, (std::vector<std::string>{"/d", "/d/S"}));
}

TEST_F(ScanFaultTest, EveryListingIsClosedAndOnlyTheDescentPathIsOpen) {
    fs.folders["/r"] = Folder{{{"A", true}, {"f", false, 1}, {"B", true}}};
    fs.folders["/r/A"] = Folder{{{"A2", true}}};
    fs.folders["/r/A/A2"] = Folder{{{"g", false, 2}}};
    fs.folders["/r/B"] = Folder{{{"h", false, 3}}};
    Scan("/r");
    EXPECT_EQ(fs.open, 0);
    EXPECT_EQ(fs.closed, 4);
    EXPECT_EQ(fs.maxOpen, 3);
    EXPECT_EQ(Paths(catalogue), (std::vector<std::string>{"/r/A/A2/g 2", "/r/f 1", "/r/B/h 3"}));
}

TEST_F(ScanFaultTest, UnlistableAndVanishedFoldersArePassedOver) {
    fs.folders["/p"] = Folder{{{"locked", true}, {"gone", true}, {"x", false, 1}, {"ok", true}}};
    fs.folders["/p/locked"] = Folder{{{"secret", false, 9}}, true};
    // "gone" is listed in its parent but no longer there.
    fs.folders["/p/ok"] = Folder{{{"y", false, 2}}};
    Scan("/p");
    EXPECT_EQ(Paths(catalogue), (std::vector<std::string>{"/p/x 1", "/p/ok/y 2"}));
    EXPECT_EQ(fs.open, 0);
}

TEST_F(ScanFaultTest, ListingThatBreaksOffKeepsWhatWasRead) {
    Folder broken{{{"one", false, 1}, {"two", false, 2}, {"three", false, 3}}};
    broken.breaksAfter = 2;
    fs.folders["/q"] = Folder{{{"broken", true}, {"after", false, 4}}};
    fs.folders["/q/broken"] = broken;
    Scan("/q");
    EXPECT_EQ(Paths(catalogue),
              (std::vector<std::string>{"/q/broken/one 1", "/q/broken/two 2", "/q/after 4"}));
    EXPECT_EQ(fs.open, 0);
}

TEST_F(ScanFaultTest, RootFolderListsTheEmptyTextAndGivesOneSeparator) {
    fs.folders[""] = Folder{{{"top.txt", false, 5}, {"usr", true}}};
    fs.folders["/usr"] = Folder{{{"lib.so", false, 6}}};
    Scan("/");
    EXPECT_EQ(fs.listed, (std::vector<std::string>{"", "/usr"}));
    EXPECT_EQ(Paths(catalogue), (std::vector<std::string>{"/top.txt 5", "/usr/lib.so 6"}));
    EXPECT_EQ(catalogue[0].directory(), "");
}

TEST_F(ScanFaultTest, PatternIsPassedDownAndProgramDirectoryMadeCurrent) {
    fs.folders["/m"] = Folder{{{"n", true}}};
    fs.folders["/m/n"] = Folder{{{"k", false, 1}}};
    fs.currentDirectory = "/elsewhere/";
    Scan("/m", "");
    EXPECT_EQ(fs.patterns, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(fs.currentDirectory, fs.programDirectory);
    EXPECT_EQ(fs.madeCurrent, 2);  // before each listing
}

TEST_F(ScanFaultTest, FolderWithNoEntriesAtAll) {
    fs.folders["/void"] = Folder{};
    Scan("/void");
    EXPECT_EQ(catalogue.Count(), 0);
    EXPECT_EQ(fs.open, 0);
}

}  // namespace
}  // namespace twinrake

// Reads that fail or end early, over the same scripted file system.

namespace twinrake {
namespace {

class ReadFaultTest : public ::testing::Test {
  protected:
    void SetUp() override { fakefs::Reset(); }
    std::vector<std::vector<uint32_t>> Sets(const std::vector<std::string>& paths, int32_t size) {
        std::vector<SizeClassFile> files;
        for (uint32_t i = 0; i < paths.size(); ++i) {
            files.push_back({i, paths[i]});
        }
        std::atomic<int32_t> progress{0};
        ReadBuffer arena;
        return IdenticalSets(files, size, progress, arena);
    }
    fakefs::Tree& fs = fakefs::State();
};

TEST_F(ReadFaultTest, ReadThatFailsOrEndsEarlyIsNeverIdentical) {
    const std::string bytes(300000, 'z');
    fs.files["/a"] = {bytes};
    fs.files["/b"] = {bytes};
    fs.files["/fails"] = {bytes, 200000};
    fs.files["/ends"] = {bytes, -1, 299999};
    const std::string programDirectory = "/";
    EXPECT_EQ(CompareFiles(programDirectory, "/a", "/b", 300000), 1);
    EXPECT_EQ(CompareFiles(programDirectory, "/a", "/fails", 300000), 0);
    EXPECT_EQ(CompareFiles(programDirectory, "/fails", "/a", 300000), 0);
    EXPECT_EQ(CompareFiles(programDirectory, "/ends", "/a", 300000), 0);
    EXPECT_EQ(fs.openFiles, 0);
    // Side by side: the failing files drop out, the sound ones still form their set.
    EXPECT_EQ(Sets({"/fails", "/a", "/ends", "/b"}, 300000),
              (std::vector<std::vector<uint32_t>>{{1, 3}}));
    EXPECT_EQ(Sets({"/fails", "/ends"}, 300000), (std::vector<std::vector<uint32_t>>{}));
    EXPECT_EQ(fs.openFiles, 0);
}

TEST_F(ReadFaultTest, ManyFilesOfOneSizeWithFaultsAndOneFileUnderTwoNames) {
    // More files than may be open at once: the digest path.
    std::vector<std::string> paths;
    for (int i = 0; i < 300; ++i) {
        std::string path = "/f" + std::to_string(i);
        std::string content(5000, static_cast<char>('a' + i % 3));
        fs.files[path] = {content, i % 50 == 7 ? 4000 : -1};
        paths.push_back(path);
    }
    fs.files["/f1"].inode = 77;
    fs.files["/f4"].inode = 77;  // another name of /f1
    auto sets = Sets(paths, 5000);
    std::sort(sets.begin(), sets.end());  // the sets come in no particular order
    ASSERT_EQ(sets.size(), 3u);
    for (const auto& set : sets) {
        for (uint32_t i : set) {
            EXPECT_NE(i % 50, 7u) << "a file whose read failed joined a set";
            EXPECT_NE(i, 4u) << "a second name of one file joined a set";
            EXPECT_EQ(i % 3, set.front() % 3);
        }
    }
    EXPECT_EQ(sets[1].front(), 1u);
    EXPECT_EQ(sets[0].size() + sets[1].size() + sets[2].size(), 300u - 6u - 1u);
    EXPECT_EQ(fs.openFiles, 0);
}

}  // namespace
}  // namespace twinrake
