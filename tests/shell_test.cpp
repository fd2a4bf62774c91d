// Start-up, the loop, the shell's commands, the control-state rules and the end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "app/controls.h"
#include "session.h"
#include "temp_tree.h"

namespace twinrake {
namespace {

using testing_support::TempTree;

class ShellTest : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        tree.Write("A/a1.txt", "alpha");
        tree.Write("A/a2.txt", "alpha");
        tree.Write("B/b1.txt", "beta");
        folderA = tree.Path("A") + "/";
        folderB = tree.Path("B") + "/";
        // The group line names A's files in the order the file system lists them.
        std::vector<std::string> names;
        for (const std::string& line : testing_support::ListingOrder(tree.Path("A"))) {
            names.push_back(line.substr(line.find('|') + 1, 6));
        }
        groupLine = "2: " + names.at(0) + ", " + names.at(1);
    }
    std::string groupLine;

    // With an empty catalogue: search, reset, members and deletions off; LstGroups keeps the
    // state it had (enabled here); adding and the file list are never disabled.
    void ExpectEmptyCatalogueStates() const {
        EXPECT_FALSE(Enabled(BtnSearch));
        EXPECT_FALSE(Enabled(BtnReset));
        EXPECT_FALSE(Enabled(LstMembers));
        EXPECT_FALSE(Enabled(BtnDeleteMarked));
        EXPECT_FALSE(Enabled(BtnDeleteGroup));
        EXPECT_TRUE(Enabled(LstGroups));
        EXPECT_TRUE(Enabled(BtnAddFolder));
        EXPECT_TRUE(Enabled(LstAllFiles));
    }
    TempTree tree;
    std::string folderA;
    std::string folderB;
};

TEST_F(ShellTest, StartUpBuildsTheWindowAndControlsInOrder) {
    Run();
    const fake::Recorder& r = fake::State();
    EXPECT_EQ(r.windowNumber, 0);
    EXPECT_EQ(r.clientWidth, 600);
    EXPECT_EQ(r.clientHeight, 300);
    EXPECT_EQ(r.style, 0x10C80000u);
    EXPECT_TRUE(r.centred);
    EXPECT_EQ(r.title, "Twinrake");
    EXPECT_EQ(r.creationOrder, (std::vector<int32_t>{0, 1, 2, 8, 9, 3, 4, 5, 6, 7, 10, 100, 101}));
    EXPECT_EQ(Caption(BtnAddFolder), "Pfad hinzufügen");
    EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien");
    EXPECT_EQ(Caption(BtnReset), "Zurücksetzen");
    EXPECT_EQ(Caption(BtnSearch), "Doppelte Dateien suchen");
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt");
    EXPECT_EQ(Caption(LblMembers), "Doppelte Dateien:");
    EXPECT_EQ(Caption(BtnDeleteMarked), "Lösche markierte Datei");
    EXPECT_EQ(Caption(BtnDeleteGroup), "Lösche alle Dateien (mit Original)");
    const platform::Box& members = Control(LstMembers).box;
    EXPECT_EQ(members.x, 200);
    EXPECT_EQ(members.y, 170);
    EXPECT_EQ(members.width, 398);
    EXPECT_EQ(members.height, 75);
    EXPECT_EQ(Control(PrgFile).rangeMax, 100);
    EXPECT_EQ(Control(PrgOverall).rangeMin, 0);
    EXPECT_EQ(Control(PrgOverall).progress, 0);
    EXPECT_EQ(state.programDirectory.back(), '/');
}

TEST_F(ShellTest, WindowThatCannotBeMadeEndsSilentlyWithZero) {
    fake::State().failCreateWindow = true;
    EXPECT_EQ(RunTwinrake(), 0);
    EXPECT_TRUE(fake::State().creationOrder.empty());
    EXPECT_TRUE(fake::State().messageBoxes.empty());
    EXPECT_EQ(fake::State().waits, 0);

    fake::Reset();
    fake::State().failSetParent = true;
    EXPECT_EQ(RunTwinrake(), 0);
    EXPECT_TRUE(fake::State().creationOrder.empty());
    EXPECT_TRUE(fake::State().messageBoxes.empty());
}

TEST_F(ShellTest, MissingControlDoesNotStopStartUp) {
    fake::State().failControls = {LstMembers};
    AddFolder(folderA);
    fake::Click(BtnSearch);
    fake::SelectByUser(LstGroups, 0);
    Run();
    EXPECT_EQ(fake::State().creationOrder.size(), 12u);
    EXPECT_EQ(Lines(LstGroups), (std::vector<std::string>{groupLine}));
}

TEST_F(ShellTest, CreditsBoxComesAfterTheWindowIsGone) {
    fake::Idle();
    fake::CloseWindow();
    fake::Idle();  // never reached: the loop ended on the close
    EXPECT_EQ(RunTwinrake(), 0);
    const fake::Recorder& r = fake::State();
    EXPECT_FALSE(r.windowOpen);
    ASSERT_EQ(r.messageBoxes.size(), 1u);
    EXPECT_FALSE(r.messageBoxes[0].windowExisted);
    EXPECT_EQ(r.messageBoxes[0].caption, "Credits");
    const std::string& text = r.messageBoxes[0].text;
    const std::string banner = ".-´¯`- Twinrake -´¯`-.\n\n";
    ASSERT_GT(text.size(), banner.size());
    EXPECT_EQ(text.substr(0, banner.size()), banner);
    EXPECT_EQ(text.find('\n', banner.size()), std::string::npos);  // a one-line footer
    EXPECT_EQ(r.waits, 2);
}

TEST_F(ShellTest, SameFolderTwiceInARowChangesNothingButABAAddsAAgain) {
    AddFolder(folderA);
    AddFolder(folderA);
    fake::Do([&] { EXPECT_EQ(state.fileCatalogue.Count(), 2); });
    AddFolder(folderB);
    AddFolder(folderA);
    Run();
    ASSERT_EQ(state.fileCatalogue.Count(), 5);
    EXPECT_EQ(state.fileCatalogue[2].name(), "b1.txt");
    EXPECT_EQ(state.fileCatalogue[0].name(), state.fileCatalogue[3].name());
    EXPECT_EQ(state.fileCatalogue[1].name(), state.fileCatalogue[4].name());
    EXPECT_EQ(Lines(LstAllFiles).size(), 5u);
    EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (5)");
    EXPECT_EQ(state.lastFolder, folderA);
    // The picker opened each time at the folder added last.
    const auto& calls = fake::State().pickerCalls;
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], std::make_pair(std::string("Pfad hinzufügen..."), std::string()));
    EXPECT_EQ(calls[1].second, folderA);
    EXPECT_EQ(calls[2].second, folderA);
    EXPECT_EQ(calls[3].second, folderB);
}

TEST_F(ShellTest, CancelledPickerChangesNothing) {
    AddFolder(folderA);
    AddFolder("");  // cancel
    fake::Click(BtnAddFolder);
    Run();
    EXPECT_EQ(state.lastFolder, folderA);
    EXPECT_EQ(state.fileCatalogue.Count(), 2);
    EXPECT_EQ(fake::State().pickerCalls.back().second, folderA);
}

TEST_F(ShellTest, AddingAFolderLeavesTheGroupViewsAlone) {
    AddFolder(folderA);
    fake::Click(BtnSearch);
    fake::SelectByUser(LstGroups, 0);
    AddFolder(folderB);
    Run();
    EXPECT_EQ(Lines(LstGroups), (std::vector<std::string>{groupLine}));
    EXPECT_EQ(Lines(LstMembers).size(), 2u);
    EXPECT_EQ(Selected(LstGroups), 0);
    EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (3)");
}

TEST_F(ShellTest, ResetEmptiesEverythingAndDisablesAtTheNextEvent) {
    AddFolder(folderA);
    fake::Click(BtnSearch);
    fake::SelectByUser(LstGroups, 0);
    fake::Click(BtnReset);
    fake::Do([&] {
        // The pass that ran the reset computed the states before it.
        EXPECT_TRUE(Enabled(BtnSearch));
        EXPECT_TRUE(Enabled(BtnDeleteMarked));
    });
    fake::Do([&] { ExpectEmptyCatalogueStates(); });
    fake::Click(BtnAddFolder);  // picker opens with no initial folder
    Run();
    EXPECT_EQ(state.fileCatalogue.Count(), 0);
    EXPECT_TRUE(state.groupList.empty());
    EXPECT_TRUE(state.memberList.empty());
    EXPECT_TRUE(state.lastFolder.empty());
    EXPECT_TRUE(Lines(LstAllFiles).empty());
    EXPECT_TRUE(Lines(LstGroups).empty());
    EXPECT_TRUE(Lines(LstMembers).empty());
    EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien");
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt");
    EXPECT_EQ(fake::State().pickerCalls.back().second, "");
}

TEST_F(ShellTest, ResetThenAddStartsTheCatalogueAtIndexZero) {
    AddFolder(folderA);
    fake::Click(BtnReset);
    AddFolder(folderB);
    Run();
    ASSERT_EQ(state.fileCatalogue.Count(), 1);
    EXPECT_EQ(state.fileCatalogue[0].name(), "b1.txt");
}

TEST_F(ShellTest, ControlStatesFollowTheData) {
    // Empty catalogue: search, reset, members and deletions off; LstGroups untouched.
    fake::Idle();
    fake::Do([&] { ExpectEmptyCatalogueStates(); });
    // A search without a catalogue cannot be started: the button is off.
    fake::Click(BtnSearch);
    fake::Do([&] { EXPECT_TRUE(Lines(LstGroups).empty()); });
    // Catalogue, no groups.
    AddFolder(folderB);
    fake::Idle();
    fake::Do([&] {
        EXPECT_TRUE(Enabled(BtnSearch));
        EXPECT_TRUE(Enabled(BtnReset));
        EXPECT_FALSE(Enabled(LstGroups));
        EXPECT_FALSE(Enabled(LstMembers));
        EXPECT_FALSE(Enabled(BtnDeleteMarked));
    });
    // Groups, but no member lines yet.
    AddFolder(folderA);
    fake::Click(BtnSearch);
    fake::Idle();
    fake::Do([&] {
        EXPECT_TRUE(Enabled(LstGroups));
        EXPECT_TRUE(Enabled(LstMembers));
        EXPECT_FALSE(Enabled(BtnDeleteMarked));
        EXPECT_FALSE(Enabled(BtnDeleteGroup));
    });
    // Groups with member lines.
    fake::SelectByUser(LstGroups, 0);
    fake::Idle();
    fake::Do([&] {
        EXPECT_TRUE(Enabled(BtnDeleteMarked));
        EXPECT_TRUE(Enabled(BtnDeleteGroup));
        EXPECT_TRUE(Enabled(LstMembers));
    });
    Run();
}

TEST_F(ShellTest, StaleMembersAfterASecondSearchEnableButDeleteNothing) {
    AddFolder(folderA);
    fake::Click(BtnSearch);
    fake::SelectByUser(LstGroups, 0);
    fake::Click(BtnSearch);
    fake::Idle();
    fake::Do([&] {
        EXPECT_EQ(Selected(LstGroups), -1);
        EXPECT_EQ(Lines(LstMembers).size(), 2u);
        EXPECT_TRUE(Enabled(BtnDeleteMarked));
        EXPECT_TRUE(Enabled(BtnDeleteGroup));
    });
    fake::Click(BtnDeleteMarked);
    fake::Click(BtnDeleteGroup);
    Run();
    EXPECT_TRUE(tree.Exists("A/a1.txt"));
    EXPECT_TRUE(tree.Exists("A/a2.txt"));
    EXPECT_EQ(state.groupList.size(), 1u);
    EXPECT_EQ(Lines(LstMembers).size(), 2u);
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (1)");
}

TEST_F(ShellTest, SearchThatFindsNothingDisablesTheGroupSide) {
    AddFolder(folderB);
    fake::Click(BtnSearch);
    fake::Idle();
    Run();
    EXPECT_FALSE(Enabled(LstGroups));
    EXPECT_FALSE(Enabled(LstMembers));
    EXPECT_FALSE(Enabled(BtnDeleteMarked));
    EXPECT_FALSE(Enabled(BtnDeleteGroup));
    EXPECT_TRUE(Enabled(BtnSearch));
    EXPECT_TRUE(Enabled(BtnReset));
    EXPECT_EQ(Lines(LstGroups), (std::vector<std::string>{"(keine doppelten Dateien)"}));
}

TEST_F(ShellTest, EventsOfOtherControlsAreIgnored) {
    AddFolder(folderA);
    fake::SelectByUser(LstAllFiles, 1);
    fake::DoubleClick(LstAllFiles);
    fake::Click(LblAllFiles);
    Run();
    EXPECT_TRUE(Lines(LstGroups).empty());
    EXPECT_TRUE(Lines(LstMembers).empty());
    EXPECT_EQ(state.fileCatalogue.Count(), 2);
}

TEST_F(ShellTest, DoubleClickOnAGroupListsItsMembersAgain) {
    AddFolder(folderA);
    fake::Click(BtnSearch);
    fake::SelectByUser(LstGroups, 0);
    fake::Do([] { platform::SelectLine(LstMembers, 1); });
    fake::DoubleClick(LstGroups);
    Run();
    EXPECT_EQ(Lines(LstMembers).size(), 2u);
    EXPECT_EQ(Selected(LstMembers), 0);
}

}  // namespace
}  // namespace twinrake
