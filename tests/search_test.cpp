// FindDuplicates over real files: groups, their order, progress, the rule that a
// file is never its own duplicate, and agreement with a literal nested search on random trees.
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "catalogue/scan.h"
#include "detect/held_folders.h"
#include "detect/identical_sets.h"
#include "detect/search.h"
#include "oracle.h"
#include "session.h"
#include "temp_tree.h"

namespace twinrake {
namespace {

using testing_support::Content;
using testing_support::Groups;
using testing_support::GroupsOf;
using testing_support::Identity;
using testing_support::IdentityOf;
using testing_support::Numbered;
using testing_support::OracleGroups;
using testing_support::TempTree;

class SearchTest : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        ASSERT_TRUE(StartUp(state));
    }
    // Catalogues files of the tree in the given order, with their sizes as they are now.
    void Catalogue(const std::vector<std::string>& names) {
        auto* directory = state.fileCatalogue.AddDirectory(tree.root());
        for (const std::string& name : names) {
            struct stat info;
            int64_t size = stat(tree.Path(name).c_str(), &info) == 0 ? info.st_size : 0;
            state.fileCatalogue.Append(directory, name, size);
        }
    }
    std::vector<std::string> P(const std::vector<std::string>& names) {
        std::vector<std::string> out;
        for (const std::string& name : names) {
            out.push_back(tree.Path(name));
        }
        return out;
    }
    TempTree tree;
};

TEST_F(SearchTest, ThreeIdenticalAndOneOtherOfTheSameSize) {
    std::string same = Content(1, 5000);
    tree.Write("F1", same);
    tree.Write("F2", same);
    tree.Write("F3", same);
    tree.Write("F4", Content(2, 5000));
    Catalogue({"F1", "F2", "F3", "F4"});
    SearchCommand(state);
    EXPECT_EQ(GroupsOf(state), (Groups{P({"F1", "F2", "F3"})}));
    ASSERT_EQ(state.groupList.size(), 1u);
    EXPECT_EQ(state.groupList[0].memberCount, 3);
    EXPECT_EQ(state.memberList.size(), 3u);
    EXPECT_EQ(Lines(LstGroups), (std::vector<std::string>{"3: F1, F2, F3"}));
}

TEST_F(SearchTest, InterleavedSetsGroupInOrderOfTheirFirstFiles) {
    tree.Write("A1", Content(10, 100));
    tree.Write("B1", Content(20, 100));
    tree.Write("A2", Content(10, 100));
    tree.Write("B2", Content(20, 100));
    Catalogue({"A1", "B1", "A2", "B2"});
    FindDuplicates(state);
    EXPECT_EQ(GroupsOf(state), (Groups{P({"A1", "A2"}), P({"B1", "B2"})}));
    std::vector<std::string> members;
    for (const GroupMember& m : state.memberList) {
        members.emplace_back(m.name());
    }
    EXPECT_EQ(members, (std::vector<std::string>{"A1", "A2", "B1", "B2"}));
}

TEST_F(SearchTest, EmptyAndNegativeSizedFilesNeverGroup) {
    tree.Write("e1", "");
    tree.Write("e2", "");
    Catalogue({"e1", "e2"});
    // Two entries whose catalogued size reads as negative (files of 2 GiB and more).
    auto* directory = state.fileCatalogue.AddDirectory(tree.root());
    tree.Write("n1", "same");
    tree.Write("n2", "same");
    state.fileCatalogue.Append(directory, "n1", -4);
    state.fileCatalogue.Append(directory, "n2", -4);
    SearchCommand(state);
    EXPECT_TRUE(state.groupList.empty());
    EXPECT_EQ(Lines(LstGroups), (std::vector<std::string>{"(keine doppelten Dateien)"}));
}

TEST_F(SearchTest, ProgressForThreeFilesAndForOne) {
    tree.Write("a", "1");
    tree.Write("b", "22");
    tree.Write("c", "333");
    Catalogue({"a", "b", "c"});
    FindDuplicates(state);
    EXPECT_EQ(Control(PrgOverall).progressHistory, (std::vector<int32_t>{33, 66, 100, 0}));
    EXPECT_EQ(Control(PrgFile).progress, 0);

    state.fileCatalogue.Clear();
    Catalogue({"a"});
    fake::State().controls[PrgOverall].progressHistory.clear();
    fake::State().controls[PrgFile].progressHistory.clear();
    FindDuplicates(state);
    EXPECT_EQ(Control(PrgOverall).progressHistory, (std::vector<int32_t>{100, 0}));
    EXPECT_EQ(Control(PrgFile).progressHistory, (std::vector<int32_t>{0}));
}

TEST_F(SearchTest, EmptyCatalogueEndsWithOverallAtZero) {
    FindDuplicates(state);
    EXPECT_TRUE(state.groupList.empty());
    EXPECT_EQ(Control(PrgOverall).progressHistory, (std::vector<int32_t>{0}));
}

TEST_F(SearchTest, OneFileUnderTwoNamesIsNeverItsOwnDuplicate) {
    std::string content = Content(4, 7000);
    tree.Write("x", content);
    tree.HardLink("x", "x-hard");
    // Only names of one file: no group at all.
    Catalogue({"x", "x-hard", "x"});
    FindDuplicates(state);
    EXPECT_TRUE(state.groupList.empty());
    // With a real copy: a group of the two physical files, each named once.
    tree.Write("copy", content);
    state.fileCatalogue.Clear();
    Catalogue({"x", "x-hard", "copy", "x", "copy", "x-hard"});
    FindDuplicates(state);
    EXPECT_EQ(GroupsOf(state), (Groups{P({"x", "copy"})}));
}

TEST_F(SearchTest, NestedFoldersScannedTwiceGroupEachFileOnce) {
    std::string content = Content(5, 4096);
    tree.Write("top/a", content);
    tree.Write("top/sub/b", content);
    tree.Write("top/sub/c", Content(6, 4096));
    ScanFolder(state.fileCatalogue, state.programDirectory, tree.Path("top"));
    ScanFolder(state.fileCatalogue, state.programDirectory, tree.Path("top/sub"));
    ScanFolder(state.fileCatalogue, state.programDirectory, tree.Path("top"));
    ASSERT_EQ(state.fileCatalogue.Count(), 8);
    FindDuplicates(state);
    ASSERT_EQ(state.groupList.size(), 1u);
    Groups groups = GroupsOf(state);
    std::set<std::string> members(groups[0].begin(), groups[0].end());
    EXPECT_EQ(members, (std::set<std::string>{tree.Path("top/a"), tree.Path("top/sub/b")}));
    EXPECT_EQ(state.groupList[0].memberCount, 2);
}

TEST_F(SearchTest, VanishedFileJoinsNoGroupAndSecondSearchRepeatsTheFirst) {
    std::string content = Content(7, 3000);
    tree.Write("p", content);
    tree.Write("q", content);
    tree.Write("r", content);
    Catalogue({"p", "q", "r"});
    FindDuplicates(state);
    Groups first = GroupsOf(state);
    FindDuplicates(state);
    EXPECT_EQ(GroupsOf(state), first);
    EXPECT_EQ(state.memberList.size(), 3u);
    std::filesystem::remove(tree.Path("p"));
    FindDuplicates(state);
    EXPECT_EQ(GroupsOf(state), (Groups{P({"q", "r"})}));
}

// Files of 2 GiB and more are found twice like any other; a small file that begins with the
// same bytes as the large ones (and has their size's low 32 bits) joins neither. Sparse files
// in memory (tmpfs), where reading the gigabytes of their holes takes well under a second.
class BigFileTest : public SessionTest {};

TEST_F(BigFileTest, FilesOfTwoGibibytesAndMoreWithTheirTrueSizes) {
    struct statfs info;
    if (statfs("/dev/shm", &info) != 0 || info.f_type != TMPFS_MAGIC) {
        GTEST_SKIP() << "needs /dev/shm as tmpfs for sparse files that read fast";
    }
    TempTree shm("/dev/shm");
    const std::string head = Content(31, 100);
    const int64_t large = 2684354560LL;       // 2.5 GiB
    const int64_t huge = 4294967296LL + 100;  // 4 GiB + 100
    shm.Sparse("1/film.mkv", large, head);
    shm.Sparse("2/huge.bin", huge, head);
    shm.Write("3/small.bin", head);
    shm.Sparse("4/film.mkv", large, head);
    shm.Sparse("5/huge.bin", huge, head);
    for (const char* folder : {"1", "2", "3", "4", "5"}) {
        AddFolder(shm.Path(folder) + "/");
    }
    fake::Click(BtnSearch);
    Run();
    EXPECT_EQ(GroupsOf(state), (Groups{{shm.Path("1/film.mkv"), shm.Path("4/film.mkv")},
                                       {shm.Path("2/huge.bin"), shm.Path("5/huge.bin")}}));
    EXPECT_EQ(Lines(LstAllFiles),
              (std::vector<std::string>{"film.mkv (2684354560)", "huge.bin (4294967396)",
                                        "small.bin (100)", "film.mkv (2684354560)",
                                        "huge.bin (4294967396)"}));
    EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (5)");
    EXPECT_EQ(Lines(LstGroups),
              (std::vector<std::string>{"2: film.mkv, film.mkv", "2: huge.bin, huge.bin"}));
    EXPECT_EQ(state.memberList.front().compared.length, large);
}

TEST_F(SearchTest, FileChangedSinceTheScanIsNotGrouped) {
    std::string content = Content(8, 5000);
    tree.Write("s1", content);
    tree.Write("s2", content);
    tree.Write("s3", content);
    Catalogue({"s1", "s2", "s3"});
    tree.Write("s2", content + "grown");
    FindDuplicates(state);
    EXPECT_EQ(GroupsOf(state), (Groups{P({"s1", "s3"})}));
}

// Random trees: duplicate sets, files of one size that differ in one byte, empty files,
// hard links and folders scanned twice. The real search must give exactly the literal
// search's groups, members and order.
TEST_F(SearchTest, AgreesWithTheLiteralSearchOnRandomTrees) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TempTree random;
        std::mt19937 rng(seed);
        auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        const char* folders[] = {"", "d1/", "d1/d2/", "d3/"};
        std::vector<std::string> made;
        int files = 10 + static_cast<int>(pick(30));
        for (int i = 0; i < files; ++i) {
            std::string name = std::string(folders[pick(4)]) + "f" + std::to_string(i);
            uint32_t kind = pick(10);
            size_t size = kind == 0 ? 0 : (pick(3) == 0 ? 4090 + pick(12) : 1 + pick(40));
            std::string bytes = Content(pick(4), size);  // few seeds: many equal files
            if (kind == 1 && !bytes.empty()) {
                bytes[pick(static_cast<uint32_t>(bytes.size()))] ^= 0x20;
            }
            if (kind == 2 && !made.empty()) {
                std::string target = made[pick(static_cast<uint32_t>(made.size()))];
                std::filesystem::create_directories(
                    std::filesystem::path(random.Path(name)).parent_path());
                random.HardLink(target, name);
            } else {
                random.Write(name, bytes);
            }
            made.push_back(name);
        }
        state.fileCatalogue.Clear();
        ScanFolder(state.fileCatalogue, state.programDirectory, random.root());
        if (pick(2) == 0) {
            ScanFolder(state.fileCatalogue, state.programDirectory, random.Path("d1"));
        }
        // As many folders held as the catalogue has, or fewer: the others are opened from
        // above, or by path.
        FindDuplicates(state, SearchTuning{0, pick(5)});
        Groups expected = OracleGroups(state.fileCatalogue);
        EXPECT_EQ(GroupsOf(state), expected);
        // Every physical file stands at most once among all groups.
        std::vector<Identity> seen;
        for (const auto& group : GroupsOf(state)) {
            EXPECT_GE(group.size(), 2u);
            for (const std::string& path : group) {
                Identity id{};
                ASSERT_TRUE(IdentityOf(path, id));
                for (const Identity& other : seen) {
                    EXPECT_FALSE(other.SameFile(id)) << path;
                }
                seen.push_back(id);
            }
        }
    }
}

}  // namespace
}  // namespace twinrake

namespace twinrake {
namespace {

// Trees shaped to reach every way the search reads files, each checked against the literal
// search: files that differ only deep inside or right at a block's edge, a size shared by
// more files than may be open at once (split by a digest first), and one content shared by
// more files than may be open at once.
class SearchShapesTest : public SearchTest {
  protected:
    void CatalogueAll(const std::vector<std::string>& names) {
        Catalogue(names);
        FindDuplicates(state);
        EXPECT_EQ(GroupsOf(state), OracleGroups(state.fileCatalogue));
    }
};

TEST_F(SearchShapesTest, DifferencesDeepInsideAndAtBlockEdges) {
    const size_t size = 400000;
    std::string base = Content(11, size);
    std::vector<std::string> names;
    int i = 0;
    for (size_t at : {size_t{0}, size_t{4095}, size_t{4096}, size_t{4097}, size_t{20479},
                      size_t{20480}, size_t{86015}, size_t{86016}, size_t{350000}, size - 1}) {
        std::string bytes = base;
        bytes[at] ^= 0x40;
        std::string name = Numbered("v", i++);
        tree.Write(name, bytes);
        names.push_back(name);
        // A copy of some variants, so that sets form among near-identical files.
        if (at % 2 == 0) {
            tree.Write(name + "-copy", bytes);
            names.push_back(name + "-copy");
        }
    }
    tree.Write("base", base);
    tree.Write("base-copy", base);
    names.insert(names.begin() + 3, "base");
    names.push_back("base-copy");
    CatalogueAll(names);
    EXPECT_EQ(state.groupList.size(), 6u);
}

// Files whose end digests agree are read side by side from the largest block on (eight files
// here, few enough for a whole block each): a difference at either edge of that block, or just
// before the end a digest read, still tells them apart.
TEST_F(SearchShapesTest, DifferencesAtBlockEdgesOfFilesAlikeAtTheirEnds) {
    const size_t size = 64 * 1024 + 8 * 1024 + 1;
    const std::string base = Content(51, size);
    std::vector<std::string> names;
    for (int i = 0; i < static_cast<int>(kMaxOpenFiles); ++i) {  // so that digests come first
        names.push_back(Numbered("f", i));
        tree.Write(names.back(), Content(60 + static_cast<uint32_t>(i), size));
    }
    size_t expected = 1;  // the base and its copy
    for (size_t at : {size_t{4096}, size_t{65535}, size_t{65536}, size - 4097}) {
        std::string bytes = base;
        bytes[at] ^= 0x01;
        names.push_back("v" + std::to_string(at));
        tree.Write(names.back(), bytes);
        if (at >= 65536) {  // a copy of some, so that sets form among the variants too
            tree.Write(names.back() + "-copy", bytes);
            names.push_back(names.back() + "-copy");
            ++expected;
        }
    }
    tree.Write("base", base);
    tree.Write("base-copy", base);
    names.push_back("base");
    names.push_back("base-copy");
    CatalogueAll(names);
    EXPECT_EQ(state.groupList.size(), expected);
}

TEST_F(SearchShapesTest, MoreFilesOfOneSizeThanMayBeOpen) {
    // Like many files of one size sharing a long prefix, a tenth of them with a copy, plus
    // hard links and repeats among them.
    const std::string prefix = Content(12, 150);
    std::vector<std::string> names;
    for (int i = 0; i < 330; ++i) {
        std::string tail = Content(1000 + static_cast<uint32_t>(i), 50);
        std::string name = Numbered("p", i);
        tree.Write(name, prefix + tail);
        names.push_back(name);
        if (i % 10 == 0) {
            tree.Write(name + "c", prefix + tail);
            names.push_back(name + "c");
        }
        if (i % 33 == 0) {
            tree.HardLink(name, name + "h");
            names.push_back(name + "h");
            names.push_back(name);
        }
    }
    ASSERT_GT(names.size(), kMaxOpenFiles);
    CatalogueAll(names);
    EXPECT_EQ(state.groupList.size(), 33u);
}

TEST_F(SearchShapesTest, OneContentSharedByMoreFilesThanMayBeOpen) {
    std::vector<std::string> names;
    const std::string same = Content(13, 64);
    for (int i = 0; i < 600; ++i) {
        std::string name = Numbered("s", i);
        // Every seventh file differs in its last byte, and those pair up among themselves.
        std::string bytes = same;
        if (i % 7 == 0) {
            bytes.back() = static_cast<char>(i % 2);
        }
        tree.Write(name, bytes);
        names.push_back(name);
    }
    names.push_back("s5");  // a repeat
    CatalogueAll(names);
    // s0 heads the files ending in 0, s1 the common content, s7 the files ending in 1.
    ASSERT_EQ(state.groupList.size(), 3u);
    EXPECT_EQ(state.groupList[0].memberCount, 43);
    EXPECT_EQ(state.groupList[1].memberCount, 600 - 86);
    EXPECT_EQ(state.groupList[2].memberCount, 43);
}

// More files of one size than may be open, larger than the two end blocks a first digest
// reads: files alike at both ends but not in the middle must still fall apart, and files alike
// in the middle but not at an end are told apart by the ends alone.
TEST_F(SearchShapesTest, FilesAlikeAtTheirEndsOrInTheMiddleOnly) {
    const size_t size = 20000;
    const std::string head = Content(21, 4096);
    const std::string tail = Content(22, 4096);
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        // Three middles behind the same ends; and, every fifth file, another tail.
        std::string bytes = head + Content(30 + static_cast<uint32_t>(i % 3), size - 8192) + tail;
        if (i % 5 == 0) {
            bytes.replace(size - 10, 10, Content(40 + static_cast<uint32_t>(i % 2), 10));
        }
        std::string name = Numbered("m", i);
        tree.Write(name, bytes);
        names.push_back(name);
    }
    CatalogueAll(names);
    EXPECT_EQ(state.groupList.size(), 3u + 6u);  // three middles, each with two other tails
}

}  // namespace
}  // namespace twinrake

namespace twinrake {
namespace {

// Which folder a file is opened from when the descriptor limit holds fewer folders than the
// catalogue has: those whose files would otherwise walk the most folders are held, the others
// are reached from the nearest one held above them, and what the opens give is the very file
// its path names.
TEST(HeldFoldersTest, FoldersWhoseFilesWalkFarthestHeldFirstOthersOpenedFromAbove) {
    testing_support::TempTree tree;
    // "e" has no catalogued file: only room nobody is worth goes to it.
    const char* const relative[] = {"", "a", "x", "a/b", "a/b/c", "e"};
    const int parents[] = {-1, 0, 0, 1, 3, 0};
    const int files[] = {1, 1, 2, 2, 100, 0};
    FileCatalogue catalogue;
    std::vector<const CatalogueFolder*> folders;
    for (size_t i = 0; i < std::size(relative); ++i) {
        const std::string folder = relative[i];
        const std::string text = folder.empty() ? tree.root() : tree.Path(folder);
        tree.Write(folder.empty() ? "f" : folder + "/f", folder);
        platform::FileStamp stamp;
        ASSERT_FALSE(platform::StampOfPath(text, stamp));
        folders.push_back(catalogue.AddDirectory(
            text, stamp.identity,
            parents[i] < 0 ? nullptr : folders[static_cast<size_t>(parents[i])]));
        for (int k = 0; k < files[i]; ++k) {
            catalogue.Append(folders.back(), "f", 1);
        }
    }
    struct Row {
        size_t budget;
        // For each folder: the folder it is opened from (-1: by path) and the way below it.
        int from[6];
        const char* below[6];
    };
    // a/b/c: 100 files that would walk the whole path; then the top, which spares the six
    // others their whole paths; then a/b (2 files, two folders below the top), x, a.
    const Row rows[] = {
        {0, {-1, -1, -1, -1, -1, -1}, {"", "", "", "", "", ""}},
        {1, {-1, -1, -1, -1, 4, -1}, {"", "", "", "", "", ""}},
        {2, {0, 0, 0, 0, 4, 0}, {"", "a", "x", "a/b", "", "e"}},
        {3, {0, 0, 0, 3, 4, 0}, {"", "a", "x", "", "", "e"}},
        {4, {0, 0, 2, 3, 4, 0}, {"", "a", "", "", "", "e"}},
        {5, {0, 1, 2, 3, 4, 0}, {"", "", "", "", "", "e"}},
        {6, {0, 1, 2, 3, 4, 5}, {"", "", "", "", "", ""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("budget " + std::to_string(row.budget));
        HeldFolders held(catalogue, row.budget);
        for (size_t i = 0; i < folders.size(); ++i) {
            SCOPED_TRACE(folders[i]->text);
            const HeldFolders::Place place = held.For(folders[i]->index, folders[i]->text);
            if (row.from[i] < 0) {
                EXPECT_EQ(place.held, nullptr);
                continue;
            }
            ASSERT_NE(place.held, nullptr);
            const CatalogueFolder& from = *folders[static_cast<size_t>(row.from[i])];
            EXPECT_EQ(place.held, held.For(from.index, from.text).held);
            EXPECT_EQ(place.below, row.below[i]);
            platform::OpenFile* file = nullptr;
            platform::FileStamp opened;
            platform::FileStamp named;
            ASSERT_FALSE(platform::OpenForReadingIn(place.held, place.below, "f", file, opened));
            platform::CloseFile(file);
            ASSERT_FALSE(platform::StampOfPath(FullPath(folders[i]->text, "f"), named));
            EXPECT_EQ(opened.identity, named.identity);
        }
    }
}

// A folder held from one held above it is held only while it is still the folder that was
// listed: one put in its place, a missing one, a file or no way at all are refused, and the
// files of one held so open as those its path names.
TEST(HeldFoldersTest, FolderHeldFromAboveOnlyWhileItIsTheListedOne) {
    testing_support::TempTree tree;
    tree.Write("a/b/f", "b");
    tree.Write("a/c/f", "c");
    tree.Write("a/file", "x");
    platform::FileStamp top, b, c;
    ASSERT_FALSE(platform::StampOfPath(tree.root(), top));
    ASSERT_FALSE(platform::StampOfPath(tree.Path("a/b"), b));
    ASSERT_FALSE(platform::StampOfPath(tree.Path("a/c"), c));
    platform::HeldFolder* above = nullptr;
    ASSERT_FALSE(platform::HoldFolder(tree.root(), top.identity, above));
    struct Row {
        const char* below;
        const platform::FileIdentity& identity;
        bool held;
    };
    const Row rows[] = {
        {"a/b", b.identity, true},     {"a/c", c.identity, true},     {"a/b", c.identity, false},
        {"a/gone", b.identity, false}, {"a/file", b.identity, false}, {"", top.identity, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.below);
        platform::HeldFolder* held = nullptr;
        const platform::Error error = platform::HoldFolderIn(above, row.below, row.identity, held);
        EXPECT_EQ(!error, row.held);
        EXPECT_EQ(held != nullptr, row.held);
        if (held == nullptr) {
            continue;
        }
        platform::OpenFile* file = nullptr;
        platform::FileStamp opened, named;
        ASSERT_FALSE(platform::OpenForReadingIn(held, "", "f", file, opened));
        platform::CloseFile(file);
        ASSERT_FALSE(platform::StampOfPath(tree.Path(std::string(row.below) + "/f"), named));
        EXPECT_EQ(opened.identity, named.identity);
        platform::ReleaseFolder(held);
    }
    // Renamed away and another made in its place: the one there now is not the one listed.
    std::filesystem::rename(tree.Path("a/b"), tree.Path("a/b.old"));
    tree.MakeFolder("a/b");
    platform::HeldFolder* held = nullptr;
    EXPECT_TRUE(
        platform::HoldFolderIn(above, "a/b", b.identity, held).Is(platform::ErrorKind::Changed));
    EXPECT_EQ(held, nullptr);
    platform::ReleaseFolder(above);
}

}  // namespace
}  // namespace twinrake
