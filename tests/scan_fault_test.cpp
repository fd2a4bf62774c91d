// The scan over a scripted file system, where order and faults are under the test's control.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/scan.h"
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
