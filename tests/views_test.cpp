// The three list views and their captions, rebuilt from hand-made lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "results/views.h"
#include "session.h"

namespace twinrake {
namespace {

class ViewsTest : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        ASSERT_TRUE(StartUp(state));
    }
    void Catalogue(const std::string& directory, const std::string& name, int32_t size) {
        state.fileCatalogue.Append(state.fileCatalogue.AddDirectory(directory), name, size);
    }
    // Members show entries of a catalogue of their own, which leaves "Alle Dateien" as it is.
    void Group(const std::vector<std::pair<std::string, std::string>>& members) {
        auto first = state.memberList.end();
        for (const auto& [directory, name] : members) {
            const FileEntry& entry = grouped.Append(grouped.AddDirectory(directory), name, 1);
            auto at = state.memberList.insert(state.memberList.end(), GroupMember(entry));
            if (first == state.memberList.end()) {
                first = at;
            }
        }
        state.groupList.push_back({static_cast<int32_t>(members.size()), first});
    }
    FileCatalogue grouped;
};

TEST_F(ViewsTest, AllFilesLinesWithSignedSizesAndCount) {
    Catalogue("/x", "bild.jpg", 1024);
    Catalogue("/y", "bild.jpg", 1024);
    Catalogue("/y", "huge.iso", -1294967296);
    Catalogue("/y", "empty", 0);
    RefreshViews(state, RefreshAllFiles);
    EXPECT_EQ(Lines(LstAllFiles),
              (std::vector<std::string>{"bild.jpg (1024)", "bild.jpg (1024)",
                                        "huge.iso (-1294967296)", "empty (0)"}));
    EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (4)");
    EXPECT_EQ(Selected(LstAllFiles), -1);
    EXPECT_EQ(Control(LstAllFiles).batches, 1);  // all lines in one go, not line by line
    // A second refresh rebuilds from the start rather than adding.
    Catalogue("/z", "neu", 7);
    RefreshViews(state, RefreshAllFiles);
    EXPECT_EQ(Lines(LstAllFiles).size(), 5u);
    EXPECT_EQ(Lines(LstAllFiles).back(), "neu (7)");
    EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (5)");
}

TEST_F(ViewsTest, EmptyCatalogueShowsCountZero) {
    RefreshViews(state, RefreshAllFiles);
    EXPECT_TRUE(Lines(LstAllFiles).empty());
    EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (0)");
}

TEST_F(ViewsTest, GroupLinesNameEveryMember) {
    Group({{"/d", "eins.txt"}, {"/d", "zwei.txt"}, {"/e", "drei.txt"}});
    Group({{"/d", "a"}, {"/d", "b"}});
    RefreshViews(state, RefreshGroups);
    EXPECT_EQ(Lines(LstGroups),
              (std::vector<std::string>{"3: eins.txt, zwei.txt, drei.txt", "2: a, b"}));
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (2)");
    EXPECT_EQ(Selected(LstGroups), -1);
    EXPECT_EQ(Control(LstGroups).batches, 1);
}

TEST_F(ViewsTest, NoDuplicatesLineAccumulatesAndKeepsEarlierLines) {
    RefreshViews(state, RefreshGroups);
    RefreshViews(state, RefreshGroups);
    EXPECT_EQ(Lines(LstGroups),
              (std::vector<std::string>{"(keine doppelten Dateien)", "(keine doppelten Dateien)"}));
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt");
    // Groups replace every line, the "none" lines included.
    Group({{"/d", "a"}, {"/d", "b"}});
    RefreshViews(state, RefreshGroups);
    EXPECT_EQ(Lines(LstGroups), (std::vector<std::string>{"2: a, b"}));
    // Nothing found after groups: the old line and count stay, the "none" line goes below.
    state.groupList.clear();
    state.memberList.clear();
    RefreshViews(state, RefreshGroups);
    EXPECT_EQ(Lines(LstGroups), (std::vector<std::string>{"2: a, b", "(keine doppelten Dateien)"}));
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (1)");
}

TEST_F(ViewsTest, MembersOfTheSelectedGroupFirstOneMarked) {
    Group({{"/d", "a"}, {"/d", "b"}});
    Group({{"/daten", "eins.txt"}, {"", "root.txt"}, {"/x y", "z"}});
    RefreshViews(state, RefreshGroups);
    // Nothing selected: stays empty.
    RefreshViews(state, RefreshMembers);
    EXPECT_TRUE(Lines(LstMembers).empty());
    EXPECT_EQ(Selected(LstMembers), -1);
    platform::SelectLine(LstGroups, 1);
    RefreshViews(state, RefreshMembers);
    EXPECT_EQ(Lines(LstMembers),
              (std::vector<std::string>{"/daten/eins.txt", "/root.txt", "/x y/z"}));
    EXPECT_EQ(Selected(LstMembers), 0);
    EXPECT_EQ(Control(LstMembers).batches, 1);
}

TEST(LineBatchTest, EveryNulEndsOneLineAndAnUnendedRestIsOneMore) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"", {}},
        {std::string("a\0", 2), {"a"}},
        {std::string("\0\0", 2), {"", ""}},
        {std::string("eins (1)\0zwei", 13), {"eins (1)", "zwei"}},
    };
    for (const auto& [text, want] : cases) {
        std::vector<std::string> got;
        platform::LineBatch{text}.ForEach([&](std::string_view line) { got.emplace_back(line); });
        EXPECT_EQ(got, want) << text.size();
    }
}

TEST_F(ViewsTest, MembersEmptyWhenThereAreNoGroups) {
    platform::AppendLine(LstMembers, "stale");
    platform::AppendLine(LstGroups, "(keine doppelten Dateien)");
    platform::SelectLine(LstGroups, 0);
    RefreshViews(state, RefreshMembers);
    EXPECT_TRUE(Lines(LstMembers).empty());
}

TEST_F(ViewsTest, GroupRefreshLeavesMembersAlone) {
    Group({{"/d", "a"}, {"/d", "b"}});
    platform::AppendLine(LstMembers, "/old/member");
    RefreshViews(state, RefreshGroups);
    EXPECT_EQ(Lines(LstMembers), (std::vector<std::string>{"/old/member"}));
}

TEST_F(ViewsTest, ZeroMaskResetsListsAndCaptions) {
    Catalogue("/x", "f", 1);
    Group({{"/d", "a"}, {"/d", "b"}});
    RefreshViews(state, RefreshAllFiles | RefreshGroups);
    platform::SelectLine(LstGroups, 0);
    RefreshViews(state, RefreshMembers);
    RefreshViews(state, 0);
    EXPECT_TRUE(Lines(LstAllFiles).empty());
    EXPECT_TRUE(Lines(LstGroups).empty());
    EXPECT_TRUE(Lines(LstMembers).empty());
    EXPECT_EQ(Selected(LstGroups), -1);
    EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien");
    EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt");
    EXPECT_EQ(Caption(LblMembers), "Doppelte Dateien:");
}

}  // namespace
}  // namespace twinrake
