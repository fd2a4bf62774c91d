// Whole runs of the program on real folders, by mouse and by keyboard: what the lists and
// captions show, which controls are enabled, where Tab leads, which files are left on disk.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/controls.h"
#include "user_session.h"

namespace {

using namespace twinrake;
using namespace qt_test;
using Strings = std::vector<std::string>;
using Ids = std::set<int32_t>;

// Six folders holding one file each, so that the catalogue order is the order of adding:
// eins, zwei and vier have one content, drei and fuenf another of the same size, sechs
// (below a subfolder) one of its own. The picker will answer with each folder in turn.
struct Folders : Tree {
    explicit Folders(UserSession& user) {
        const char* same = "Urlaub am See 2019\n";
        const char* other = "Urlaub am See 2020\n";  // of the same size
        const std::pair<const char*, const char*> files[] = {
            {"A/eins.txt", same}, {"B/zwei.txt", same},   {"C/drei.txt", other},
            {"D/vier.txt", same}, {"E/fuenf.txt", other}, {"F/tief/sechs.txt", "Notiz"}};
        for (auto [file, content] : files) {
            Write(file, content);
            user.answers << Path(QString(file[0]));
        }
    }
    std::string File(const char* relative) const { return Path(relative).toStdString(); }
};

const Strings kAllFileLines = {"eins.txt (19)", "zwei.txt (19)",  "drei.txt (19)",
                               "vier.txt (19)", "fuenf.txt (19)", "sechs.txt (5)"};
const Strings kGroupLines = {"3: eins.txt, zwei.txt, vier.txt", "2: drei.txt, fuenf.txt"};
const Ids kGroupSide = {LstGroups, LstMembers, BtnDeleteMarked, BtnDeleteGroup};

Ids Disabled() {
    Ids disabled;
    for (const auto& control : kControls) {
        if (!Widget(control.identifier)->isEnabled()) {
            disabled.insert(control.identifier);
        }
    }
    return disabled;
}

TEST(MouseSession, AddSearchSelectAndDeleteChangeTheViewsAndTheDisk) {
    UserSession user;
    Folders tree(user);
    for (int i = 0; i < 6; ++i) {
        user.Then([] { Click(BtnAddFolder); });
    }
    user.Then([&] {
        EXPECT_EQ(Lines(LstAllFiles), kAllFileLines);
        EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (6)");
        EXPECT_EQ(Disabled(), kGroupSide);
    });
    user.Then([] { Click(BtnSearch); });
    user.Then([] {
        EXPECT_EQ(Lines(LstGroups), kGroupLines);
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (2)");
        EXPECT_EQ(Lines(LstMembers), Strings{});
        EXPECT_EQ(Disabled(), (Ids{BtnDeleteMarked, BtnDeleteGroup}));
    });
    user.Then([] { ClickLine(LstGroups, 0); });
    user.Then([] { ClickLine(LstMembers, 1); });
    user.Then([] { EXPECT_EQ(Disabled(), Ids{}); });
    user.Then([] { Click(BtnDeleteMarked); });
    user.Then([&] {
        EXPECT_FALSE(tree.Exists("B/zwei.txt"));
        EXPECT_TRUE(tree.Exists("A/eins.txt") && tree.Exists("D/vier.txt"));
        EXPECT_EQ(Lines(LstMembers), (Strings{tree.File("A/eins.txt"), tree.File("D/vier.txt")}));
        // The group's line keeps the name of the deleted file until the next search.
        EXPECT_EQ(Lines(LstGroups), kGroupLines);
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (2)");
        EXPECT_EQ(Lines(LstAllFiles), kAllFileLines);
    });
    user.Then([] { Click(BtnDeleteGroup); });
    user.Then([&] {
        EXPECT_FALSE(tree.Exists("A/eins.txt") || tree.Exists("D/vier.txt"));
        EXPECT_TRUE(tree.Exists("C/drei.txt") && tree.Exists("E/fuenf.txt"));
        EXPECT_EQ(Lines(LstGroups), Strings{"2: drei.txt, fuenf.txt"});
        EXPECT_EQ(Lines(LstMembers), (Strings{tree.File("C/drei.txt"), tree.File("E/fuenf.txt")}));
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (1)");
        EXPECT_EQ(Disabled(), Ids{});
    });
    // The marked file of the last group of two: that file goes, the other one stays.
    user.Then([] { Click(BtnDeleteMarked); });
    user.Then([&] {
        EXPECT_FALSE(tree.Exists("C/drei.txt"));
        EXPECT_TRUE(tree.Exists("E/fuenf.txt") && tree.Exists("F/tief/sechs.txt"));
        EXPECT_EQ(Lines(LstGroups), Strings{});
        EXPECT_EQ(Lines(LstMembers), Strings{});
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (0)");
        EXPECT_EQ(Disabled(), kGroupSide);
        EXPECT_EQ(Lines(LstAllFiles), kAllFileLines);
    });
    user.Close(CloseBox);
    EXPECT_EQ(user.Run(), 0);
    EXPECT_EQ(user.credits, "Credits | .-´¯`- Twinrake -´¯`-. | 1 button(s), OK | gone");
}

// The keyboard alone: Tab and Shift+Tab walk the enabled buttons and lists in creation order,
// wrapping; Space presses the focused button; the arrows choose lines.
TEST(KeyboardSession, TabCycleSpaceAndArrowsReachEveryCommand) {
    UserSession user;
    Folders tree(user);
    // Keys by letter: T Tab, B Shift+Tab, S Tab with Shift held, _ Space, v Down.
    const std::map<char, std::pair<int, int>> keys = {{'T', {Qt::Key_Tab, 0}},
                                                      {'B', {Qt::Key_Backtab, Qt::ShiftModifier}},
                                                      {'_', {Qt::Key_Space, 0}},
                                                      {'S', {Qt::Key_Tab, Qt::ShiftModifier}},
                                                      {'v', {Qt::Key_Down, 0}}};
    std::vector<int32_t> focus;  // where the focus is after each key
    // Presses the keys of `script`, then expects the focus to have gone through `expected`.
    auto walk = [&](std::string script, std::vector<int32_t> expected) {
        for (char key : script) {
            user.Then([&focus, key = keys.at(key)] {
                Press(key.first, key.second);
                focus.push_back(FocusedControl());
            });
        }
        user.Then([&focus, expected] {
            EXPECT_EQ(focus, expected);
            focus.clear();
        });
    };
    // At first no control has the focus and LstGroups is still enabled.
    user.Then([] {
        EXPECT_EQ(FocusedControl(), -1);
        EXPECT_EQ(Disabled(),
                  (Ids{BtnSearch, LstMembers, BtnDeleteMarked, BtnDeleteGroup, BtnReset}));
    });
    walk("BTTTT", {LstGroups, BtnAddFolder, LstAllFiles, LstGroups, BtnAddFolder});
    walk("______", std::vector<int32_t>(6, BtnAddFolder));
    user.Then([] { EXPECT_EQ(Lines(LstAllFiles), kAllFileLines); });
    walk("TTTTB", {LstAllFiles, BtnReset, BtnSearch, BtnAddFolder, BtnSearch});
    // Search, then the first group (an arrow in a list without a selected line takes the
    // first line) and its second file, the one the next Space deletes.
    walk("_TvTv", {BtnSearch, LstGroups, LstGroups, LstMembers, LstMembers});
    // With everything enabled now, the whole cycle both ways.
    walk("TTTTTTTTBBBBBBBBS",
         {BtnDeleteMarked, BtnDeleteGroup, BtnAddFolder, LstAllFiles, BtnReset, BtnSearch,
          LstGroups, LstMembers, LstGroups, BtnSearch, BtnReset, LstAllFiles, BtnAddFolder,
          BtnDeleteGroup, BtnDeleteMarked, LstMembers, LstGroups});
    walk("TT_", {LstMembers, BtnDeleteMarked, BtnDeleteMarked});
    user.Then([&] {
        EXPECT_EQ(Lines(LstMembers), (Strings{tree.File("A/eins.txt"), tree.File("D/vier.txt")}));
    });
    // Both groups go with the other button, which is then disabled but keeps the focus: Tab
    // cannot move on from it, Shift+Tab goes to the last candidate.
    walk("T__TB", {BtnDeleteGroup, BtnDeleteGroup, BtnDeleteGroup, BtnDeleteGroup, BtnSearch});
    user.Close([] { Press(Qt::Key_F4, Qt::AltModifier); });
    EXPECT_EQ(user.Run(), 0);
}

// The disk changes behind the window's back: "Lösche alle Dateien (mit Original)" deletes
// only the files that are still what the search compared and may be written; the others stay
// on disk, and the views go on as for files that could not be deleted.
TEST(MouseSession, GroupDeletionKeepsWhatChangedOrIsWriteProtected) {
    UserSession user;
    Folders tree(user);
    for (int i = 0; i < 6; ++i) {
        user.Then([] { Click(BtnAddFolder); });
    }
    user.Then([] { Click(BtnSearch); });
    user.Then([] { ClickLine(LstGroups, 0); });
    user.Then([&] {
        QFile::setPermissions(tree.Path("B/zwei.txt"), QFile::ReadOwner | QFile::ReadGroup);
        tree.Write("D/vier.txt", "Urlaub am Meer 2019");  // same length, other bytes
    });
    user.Then([] { Click(BtnDeleteGroup); });
    user.Then([&] {
        EXPECT_FALSE(tree.Exists("A/eins.txt"));
        EXPECT_TRUE(tree.Exists("B/zwei.txt") && tree.Exists("D/vier.txt"));
        EXPECT_EQ(Lines(LstGroups), Strings{"2: drei.txt, fuenf.txt"});
        EXPECT_EQ(Lines(LstMembers), (Strings{tree.File("C/drei.txt"), tree.File("E/fuenf.txt")}));
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (1)");
    });
    user.Close(CloseBox);
    EXPECT_EQ(user.Run(), 0);
}

}  // namespace
