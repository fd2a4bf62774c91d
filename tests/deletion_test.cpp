// The two deletion commands, driven as a user drives them: add, search, select, delete.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "session.h"
#include "temp_tree.h"

namespace twinrake {
namespace {

using testing_support::Content;
using testing_support::TempTree;

using Lines_ = std::vector<std::string>;

// Three groups in catalogue order: g1 = [a1 a2 a3], g2 = [b1 b2], g3 = [c1 c2 c3], plus a
// lone file. The names sort as the catalogue is built, one folder per file, so that the
// order does not hang on the file system's listing order.
class DeletionTest : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        const std::vector<std::pair<std::string, uint32_t>> files = {
            {"a1", 1}, {"a2", 1}, {"b1", 2}, {"a3", 1},  {"c1", 3},
            {"b2", 2}, {"c2", 3}, {"c3", 3}, {"lone", 4}};
        for (const auto& [name, seed] : files) {
            tree.Write(name + "/" + name, Content(seed, 5000));
        }
        for (const auto& [name, seed] : files) {
            AddFolder(tree.Path(name) + "/");
        }
        fake::Click(BtnSearch);
    }
    std::string P(const std::string& name) const { return tree.Path(name + "/" + name); }
    bool OnDisk(const std::string& name) const { return tree.Exists(name + "/" + name); }
    TempTree tree;
};

TEST_F(DeletionTest, SearchBuiltTheExpectedGroups) {
    Run();
    EXPECT_EQ(Lines(LstGroups), (Lines_{"3: a1, a2, a3", "2: b1, b2", "3: c1, c2, c3"}));
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (3)");
}

TEST_F(DeletionTest, MarkedMiddleOfThree) {
    fake::SelectByUser(LstGroups, 0);
    fake::SelectByUser(LstMembers, 1);
    fake::Click(BtnDeleteMarked);
    Run();
    EXPECT_FALSE(OnDisk("a2"));
    EXPECT_TRUE(OnDisk("a1"));
    EXPECT_TRUE(OnDisk("a3"));
    EXPECT_EQ(Lines(LstMembers), (Lines_{P("a1"), P("a3")}));
    EXPECT_EQ(Selected(LstMembers), 1);
    // The group line keeps its count and names until the next search.
    EXPECT_EQ(Lines(LstGroups)[0], "3: a1, a2, a3");
    EXPECT_EQ(Selected(LstGroups), 0);
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (3)");
    EXPECT_EQ(state.groupList[0].memberCount, 2);
    // The catalogue and its view keep the deleted file.
    EXPECT_EQ(Lines(LstAllFiles).size(), 9u);
    EXPECT_EQ(state.fileCatalogue.Count(), 9);
}

TEST_F(DeletionTest, MarkedFirstOfThreeMovesTheFirstMember) {
    fake::SelectByUser(LstGroups, 2);
    fake::Click(BtnDeleteMarked);  // line 0 is marked after the group was chosen
    fake::SelectByUser(LstGroups, 0);
    fake::SelectByUser(LstGroups, 2);
    Run();
    EXPECT_FALSE(OnDisk("c1"));
    EXPECT_EQ(state.groupList[2].firstMember->name(), "c2");
    EXPECT_EQ(Lines(LstMembers), (Lines_{P("c2"), P("c3")}));
    EXPECT_EQ(Selected(LstMembers), 0);
}

TEST_F(DeletionTest, MarkedLastOfThreeSelectsTheNewLast) {
    fake::SelectByUser(LstGroups, 0);
    fake::SelectByUser(LstMembers, 2);
    fake::Click(BtnDeleteMarked);
    Run();
    EXPECT_FALSE(OnDisk("a3"));
    EXPECT_EQ(Lines(LstMembers), (Lines_{P("a1"), P("a2")}));
    EXPECT_EQ(Selected(LstMembers), 1);
}

TEST_F(DeletionTest, EitherFileOfAPairDissolvesTheGroup) {
    fake::SelectByUser(LstGroups, 1);
    fake::SelectByUser(LstMembers, 1);
    fake::Click(BtnDeleteMarked);
    Run();
    EXPECT_FALSE(OnDisk("b2"));
    EXPECT_TRUE(OnDisk("b1"));  // the last copy stays
    EXPECT_EQ(Lines(LstGroups), (Lines_{"3: a1, a2, a3", "3: c1, c2, c3"}));
    EXPECT_EQ(Selected(LstGroups), 1);  // the group that moved up into the line
    EXPECT_EQ(Lines(LstMembers), (Lines_{P("c1"), P("c2"), P("c3")}));
    EXPECT_EQ(Selected(LstMembers), 0);
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (2)");
    EXPECT_EQ(state.memberList.size(), 6u);
}

TEST_F(DeletionTest, FirstOfAPairDissolvesTheGroupToo) {
    fake::SelectByUser(LstGroups, 1);
    fake::Click(BtnDeleteMarked);
    Run();
    EXPECT_FALSE(OnDisk("b1"));
    EXPECT_TRUE(OnDisk("b2"));
    EXPECT_EQ(state.groupList.size(), 2u);
}

TEST_F(DeletionTest, WholeFirstAndLastGroups) {
    fake::SelectByUser(LstGroups, 0);
    fake::Click(BtnDeleteGroup);
    fake::Do([&] {
        EXPECT_EQ(Lines(LstGroups), (Lines_{"2: b1, b2", "3: c1, c2, c3"}));
        EXPECT_EQ(Selected(LstGroups), 0);
        EXPECT_EQ(Lines(LstMembers), (Lines_{P("b1"), P("b2")}));
    });
    fake::SelectByUser(LstGroups, 1);
    fake::Click(BtnDeleteGroup);
    Run();
    for (const char* gone : {"a1", "a2", "a3", "c1", "c2", "c3"}) {
        EXPECT_FALSE(OnDisk(gone)) << gone;
    }
    for (const char* kept : {"b1", "b2", "lone"}) {
        EXPECT_TRUE(OnDisk(kept)) << kept;
    }
    EXPECT_EQ(Lines(LstGroups), (Lines_{"2: b1, b2"}));
    EXPECT_EQ(Selected(LstGroups), 0);  // the new last line
    EXPECT_EQ(Lines(LstMembers), (Lines_{P("b1"), P("b2")}));
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (1)");
    EXPECT_EQ(state.memberList.size(), 2u);
}

TEST_F(DeletionTest, OnlyGroupGoneLeavesEverythingEmptyAndDisabled) {
    fake::SelectByUser(LstGroups, 0);
    fake::Click(BtnDeleteGroup);
    fake::SelectByUser(LstGroups, 1);
    fake::Click(BtnDeleteGroup);
    fake::SelectByUser(LstGroups, 0);
    fake::SelectByUser(LstMembers, 0);
    fake::Click(BtnDeleteMarked);  // the pair b1, b2 dissolves: no group is left
    fake::Idle();
    Run();
    EXPECT_TRUE(Lines(LstGroups).empty());
    EXPECT_TRUE(Lines(LstMembers).empty());
    EXPECT_EQ(Selected(LstGroups), -1);
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (0)");
    EXPECT_FALSE(Enabled(BtnDeleteMarked));
    EXPECT_FALSE(Enabled(BtnDeleteGroup));
    EXPECT_FALSE(Enabled(LstGroups));
    EXPECT_TRUE(state.memberList.empty());
}

TEST_F(DeletionTest, FileThatCannotBeDeletedIsDroppedFromTheViewsAllTheSame) {
    fake::SelectByUser(LstGroups, 1);
    fake::Do([&] { std::filesystem::remove(P("b1")); });  // gone behind the program's back
    fake::Click(BtnDeleteMarked);
    Run();
    EXPECT_TRUE(OnDisk("b2"));
    EXPECT_EQ(Lines(LstGroups).size(), 2u);
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (2)");
}

TEST_F(DeletionTest, DeletedFileIsNotGroupedByTheNextSearch) {
    fake::SelectByUser(LstGroups, 0);
    fake::Click(BtnDeleteMarked);
    fake::Click(BtnSearch);
    Run();
    EXPECT_EQ(Lines(LstGroups), (Lines_{"2: a2, a3", "2: b1, b2", "3: c1, c2, c3"}));
    EXPECT_EQ(Lines(LstAllFiles).size(), 9u);
}

TEST_F(DeletionTest, NothingHappensWithoutASelection) {
    fake::Click(BtnDeleteGroup);  // disabled: no member lines yet
    fake::Do([] { platform::AppendLine(LstMembers, "stale line"); });
    fake::Idle();
    fake::Click(BtnDeleteMarked);  // enabled now, but no group is selected
    fake::Click(BtnDeleteGroup);
    Run();
    for (const char* name : {"a1", "a2", "a3", "b1", "b2", "c1", "c2", "c3"}) {
        EXPECT_TRUE(OnDisk(name)) << name;
    }
    EXPECT_EQ(state.groupList.size(), 3u);
    EXPECT_EQ(state.memberList.size(), 8u);
    EXPECT_EQ(Lines(LstMembers), (Lines_{"stale line"}));
}

}  // namespace
}  // namespace twinrake

namespace twinrake {
namespace {

// The marked file is a surplus copy only while another copy still exists.
TEST_F(DeletionTest, MarkedFileStaysWhenNoOtherCopyRemains) {
    fake::SelectByUser(LstGroups, 1);  // b1, b2
    fake::SelectByUser(LstMembers, 1);
    fake::Do([&] { std::filesystem::remove(P("b1")); });  // the other copy went meanwhile
    fake::Click(BtnDeleteMarked);
    fake::SelectByUser(LstGroups, 1);  // c1, c2, c3
    fake::Do([&] {
        tree.Write("c1/c1", Content(99, 5000));  // both others changed since the search
        tree.Write("c2/c2", Content(98, 5000));
    });
    fake::SelectByUser(LstMembers, 2);
    fake::Click(BtnDeleteMarked);
    fake::SelectByUser(LstGroups, 0);  // a1, a2, a3: a2 changed, a3 still a copy of a1
    fake::Do([&] { tree.Write("a2/a2", Content(97, 5000)); });
    fake::Click(BtnDeleteMarked);
    Run();
    EXPECT_TRUE(OnDisk("b2"));  // the last copy of its content
    EXPECT_TRUE(OnDisk("c3"));
    EXPECT_FALSE(OnDisk("a1"));  // a3 still holds its bytes
    // The views follow the command as for any file that could not be deleted.
    EXPECT_EQ(Lines(LstGroups), (Lines_{"3: a1, a2, a3", "3: c1, c2, c3"}));
    EXPECT_EQ(state.groupList[1].memberCount, 2);
}

}  // namespace
}  // namespace twinrake

namespace twinrake {
namespace {

// The disk changes between the search and the click: a deletion removes only a file that is
// still the very one the search compared, reached in the very folder it was found in, and
// not write-protected. Whatever stays on disk, the views go on as for any file that could not
// be deleted.
TEST_F(DeletionTest, GroupDeletionLeavesChangedVanishedAndWriteProtectedMembersAlone) {
    fake::SelectByUser(LstGroups, 0);  // a1, a2, a3
    fake::Do([&] {
        std::filesystem::remove(P("a1"));        // gone behind the program's back
        tree.Write("a2/a2", Content(97, 5000));  // no longer a copy of anything
    });
    fake::Click(BtnDeleteGroup);
    fake::SelectByUser(LstGroups, 1);  // c1, c2, c3 moved up to line 1
    fake::Do([&] { chmod(P("c2").c_str(), 0444); });
    fake::Click(BtnDeleteGroup);
    Run();
    EXPECT_EQ(tree.Read("a2/a2"), Content(97, 5000));
    EXPECT_FALSE(OnDisk("a3"));  // the others still go
    EXPECT_TRUE(OnDisk("c2"));
    EXPECT_FALSE(OnDisk("c1"));
    EXPECT_FALSE(OnDisk("c3"));
    EXPECT_EQ(Lines(LstGroups), (Lines_{"2: b1, b2"}));
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (1)");
    EXPECT_EQ(state.memberList.size(), 2u);
}

TEST_F(DeletionTest, FolderSwappedForALinkLeadsNowhere) {
    // b2's folder moves away and a link to another folder takes its place; that folder holds
    // a file of the same name and the same bytes, never scanned nor shown.
    fake::SelectByUser(LstGroups, 1);  // b1, b2
    fake::SelectByUser(LstMembers, 1);
    fake::Do([&] {
        std::filesystem::rename(tree.Path("b2"), tree.Path("b2-moved"));
        tree.Write("elsewhere/b2", Content(2, 5000));
        tree.Symlink(tree.Path("elsewhere"), "b2");
    });
    fake::Click(BtnDeleteMarked);
    fake::SelectByUser(LstGroups, 0);  // a1, a2, a3
    fake::Do([&] {
        std::filesystem::rename(tree.Path("a3"), tree.Path("a3-moved"));
        tree.Write("elsewhere/a3", Content(1, 5000));
        tree.Symlink(tree.Path("elsewhere"), "a3");
    });
    fake::Click(BtnDeleteGroup);
    Run();
    EXPECT_TRUE(tree.Exists("elsewhere/b2"));
    EXPECT_TRUE(tree.Exists("b2-moved/b2"));
    EXPECT_TRUE(tree.Exists("elsewhere/a3"));
    EXPECT_TRUE(tree.Exists("a3-moved/a3"));
    EXPECT_FALSE(OnDisk("a1"));
    EXPECT_FALSE(OnDisk("a2"));
    EXPECT_TRUE(OnDisk("b1"));  // the pair dissolved; its last listed copy is never deleted
    EXPECT_EQ(Lines(LstGroups), (Lines_{"3: c1, c2, c3"}));
}

TEST_F(DeletionTest, MarkedWriteProtectedFileStays) {
    fake::SelectByUser(LstGroups, 2);  // c1, c2, c3
    fake::SelectByUser(LstMembers, 1);
    fake::Do([&] { chmod(P("c2").c_str(), 0400); });
    fake::Click(BtnDeleteMarked);
    fake::Click(BtnDeleteMarked);  // c3 is marked now, and writable
    Run();
    EXPECT_TRUE(OnDisk("c2"));
    EXPECT_FALSE(OnDisk("c3"));
    EXPECT_TRUE(OnDisk("c1"));
    EXPECT_EQ(Lines(LstGroups).size(), 2u);  // the group fell to one member
}

}  // namespace
}  // namespace twinrake
