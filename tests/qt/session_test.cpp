// Whole runs of the program with a mouse or a keyboard, through its own event loop, on real
// folders: what the lists and captions show after every command, which controls are enabled,
// where Tab leads, and which files are left on the disk.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QListWidget>
#include <algorithm>

#include "app/controls.h"
#include "platform/qt/window_qt.h"
#include "user_session.h"

namespace {

using namespace twinrake;
using namespace qt_test;
using Strings = std::vector<std::string>;

// Six folders holding one file each, so that the catalogue order is the order of adding:
// eins, zwei and vier have one content, drei and fuenf another of the same size, sechs
// (below a subfolder) one of its own.
class Folders {
  public:
    Folders() {
        tree.Write("A/eins.txt", kSame);
        tree.Write("B/zwei.txt", kSame);
        tree.Write("C/drei.txt", kOther);
        tree.Write("D/vier.txt", kSame);
        tree.Write("E/fuenf.txt", kOther);
        tree.Write("F/tief/sechs.txt", "Notiz");
    }
    QString Folder(const char* name) const { return tree.Path(name); }
    std::string File(const char* relative) const { return tree.Bytes(relative); }

    static constexpr const char* kSame = "Urlaub am See 2019\n";
    static constexpr const char* kOther = "Urlaub am See 2020\n";

    Tree tree;
};

const Strings kAllFileLines = {"eins.txt (19)", "zwei.txt (19)",  "drei.txt (19)",
                               "vier.txt (19)", "fuenf.txt (19)", "sechs.txt (5)"};
const Strings kGroupLines = {"3: eins.txt, zwei.txt, vier.txt", "2: drei.txt, fuenf.txt"};

void AddAllFolders(UserSession& user, const Folders& folders, std::function<void()> act) {
    for (const char* folder : {"A", "B", "C", "D", "E", "F"}) {
        user.Answer(folders.Folder(folder));
        user.Then(act);
    }
}

// The enabled states the loop sets, in the order of the controls' creation.
std::vector<bool> EnabledStates() {
    std::vector<bool> states;
    for (const ControlSpec& control : kControls) {
        states.push_back(Enabled(control.identifier));
    }
    return states;
}

// Expected enabled states, naming the disabled controls.
std::vector<bool> AllEnabledBut(std::initializer_list<int32_t> disabled) {
    std::vector<bool> states;
    for (const ControlSpec& control : kControls) {
        states.push_back(std::find(disabled.begin(), disabled.end(), control.identifier) ==
                         disabled.end());
    }
    return states;
}

void ExpectCreditsAfterTheWindow(const UserSession& user) {
    const CreditsBox& credits = user.Credits();
    ASSERT_TRUE(credits.seen);
    EXPECT_EQ(credits.caption.toStdString(), "Credits");
    EXPECT_TRUE(credits.text.startsWith(QString::fromUtf8(".-´¯`- Twinrake -´¯`-.\n\n")))
        << credits.text.toStdString();
    EXPECT_EQ(credits.buttons, 1);
    EXPECT_TRUE(credits.okButton);
    EXPECT_TRUE(credits.mainWindowGone);
}

TEST(MouseSession, AddSearchBrowseAndDeleteChangeTheViewsAndTheDisk) {
    Folders folders;
    UserSession user;
    user.Check([] {
        EXPECT_EQ(FocusedControl(), -1);
        EXPECT_EQ(EnabledStates(), AllEnabledBut({BtnSearch, LstMembers, BtnDeleteMarked,
                                                  BtnDeleteGroup, BtnReset}));
        EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien");
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt");
        EXPECT_EQ(Caption(LblMembers), "Doppelte Dateien:");
    });
    AddAllFolders(user, folders, [] { Click(BtnAddFolder); });
    user.Check([&] {
        EXPECT_EQ(Lines(LstAllFiles), kAllFileLines);
        EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (6)");
        EXPECT_EQ(Lines(LstGroups), Strings{});
        EXPECT_EQ(EnabledStates(),
                  AllEnabledBut({LstGroups, LstMembers, BtnDeleteMarked, BtnDeleteGroup}));
        // The picker opens at the folder added before, with the separator it returned.
        const auto& calls = user.PickerCalls();
        ASSERT_EQ(calls.size(), 6u);
        EXPECT_EQ(calls[0].first.toStdString(), "Pfad hinzufügen...");
        EXPECT_TRUE(calls[0].second.isEmpty());
        EXPECT_EQ(calls[1].second, folders.Folder("A") + "/");
        EXPECT_EQ(calls[5].second, folders.Folder("E") + "/");
    });
    user.Then([] { Click(BtnSearch); });
    user.Check([] {
        EXPECT_EQ(Lines(LstGroups), kGroupLines);
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (2)");
        EXPECT_EQ(platform::SelectedIndex(LstGroups), -1);
        EXPECT_EQ(Lines(LstMembers), Strings{});
        EXPECT_EQ(EnabledStates(), AllEnabledBut({BtnDeleteMarked, BtnDeleteGroup}));
    });
    user.Then([] { ClickLine(LstGroups, 0); });
    user.Check([&] {
        EXPECT_EQ(Lines(LstMembers),
                  (Strings{folders.File("A/eins.txt"), folders.File("B/zwei.txt"),
                           folders.File("D/vier.txt")}));
        EXPECT_EQ(platform::SelectedIndex(LstMembers), 0);
        EXPECT_EQ(EnabledStates(), AllEnabledBut({}));
    });
    user.Then([] { ClickLine(LstMembers, 1); });
    user.Then([] { Click(BtnDeleteMarked); });
    user.Check([&] {
        const Tree& tree = folders.tree;
        EXPECT_FALSE(tree.Exists("B/zwei.txt"));
        EXPECT_TRUE(tree.Exists("A/eins.txt"));
        EXPECT_TRUE(tree.Exists("D/vier.txt"));
        EXPECT_EQ(Lines(LstMembers),
                  (Strings{folders.File("A/eins.txt"), folders.File("D/vier.txt")}));
        EXPECT_EQ(platform::SelectedIndex(LstMembers), 1);
        // The group's line keeps the name of the deleted file until the next search.
        EXPECT_EQ(Lines(LstGroups), kGroupLines);
        EXPECT_EQ(platform::SelectedIndex(LstGroups), 0);
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (2)");
        EXPECT_EQ(Lines(LstAllFiles), kAllFileLines);
        EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (6)");
    });
    user.Then([] { Click(BtnDeleteGroup); });
    user.Check([&] {
        const Tree& tree = folders.tree;
        EXPECT_FALSE(tree.Exists("A/eins.txt"));
        EXPECT_FALSE(tree.Exists("D/vier.txt"));
        EXPECT_TRUE(tree.Exists("C/drei.txt"));
        EXPECT_TRUE(tree.Exists("E/fuenf.txt"));
        EXPECT_EQ(Lines(LstGroups), Strings{"2: drei.txt, fuenf.txt"});
        EXPECT_EQ(platform::SelectedIndex(LstGroups), 0);
        EXPECT_EQ(Lines(LstMembers),
                  (Strings{folders.File("C/drei.txt"), folders.File("E/fuenf.txt")}));
        EXPECT_EQ(platform::SelectedIndex(LstMembers), 0);
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (1)");
        EXPECT_EQ(EnabledStates(), AllEnabledBut({}));
    });
    // The marked file of the last group of two: that file goes, the other one stays.
    user.Then([] { Click(BtnDeleteMarked); });
    user.Check([&] {
        EXPECT_FALSE(folders.tree.Exists("C/drei.txt"));
        EXPECT_TRUE(folders.tree.Exists("E/fuenf.txt"));
        EXPECT_TRUE(folders.tree.Exists("F/tief/sechs.txt"));
        EXPECT_EQ(Lines(LstGroups), Strings{});
        EXPECT_EQ(Lines(LstMembers), Strings{});
        EXPECT_EQ(platform::SelectedIndex(LstGroups), -1);
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (0)");
        EXPECT_EQ(EnabledStates(),
                  AllEnabledBut({LstGroups, LstMembers, BtnDeleteMarked, BtnDeleteGroup}));
        EXPECT_EQ(Lines(LstAllFiles), kAllFileLines);
    });
    user.Then([] { Click(BtnReset); });
    user.Check([] {
        EXPECT_EQ(Lines(LstAllFiles), Strings{});
        EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien");
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt");
        EXPECT_EQ(EnabledStates(), AllEnabledBut({LstGroups, BtnSearch, LstMembers, BtnDeleteMarked,
                                                  BtnDeleteGroup, BtnReset}));
    });
    user.Answer(folders.Folder("F"));
    user.Then([] { Click(BtnAddFolder); });
    user.Check([&] {
        EXPECT_TRUE(user.PickerCalls().back().second.isEmpty());
        EXPECT_EQ(Lines(LstAllFiles), Strings{"sechs.txt (5)"});
        EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (1)");
    });
    user.Close();
    EXPECT_EQ(user.Run(), 0);
    ExpectCreditsAfterTheWindow(user);
    EXPECT_EQ(platform::qt::MainWindowWidget(), nullptr);
    EXPECT_TRUE(folders.tree.Exists("E/fuenf.txt"));
    EXPECT_TRUE(folders.tree.Exists("F/tief/sechs.txt"));
}

TEST(MouseSession, DoubleClickOnTheSelectedGroupListsItsMembersAgain) {
    Folders folders;
    UserSession user;
    AddAllFolders(user, folders, [] { Click(BtnAddFolder); });
    user.Then([] { Click(BtnSearch); });
    user.Then([] { ClickLine(LstGroups, 1); });
    user.Then([] { ClickLine(LstMembers, 1); });
    user.Check([] { EXPECT_EQ(platform::SelectedIndex(LstMembers), 1); });
    user.Then([] { DoubleClickLine(LstGroups, 1); });
    user.Check([&] {
        // The double click was reported: the members were listed anew, the first marked.
        EXPECT_EQ(platform::SelectedIndex(LstMembers), 0);
        EXPECT_EQ(Lines(LstMembers),
                  (Strings{folders.File("C/drei.txt"), folders.File("E/fuenf.txt")}));
    });
    user.Close();
    EXPECT_EQ(user.Run(), 0);
}

TEST(MouseSession, SearchesThatFindNothingAddALineEach) {
    Tree tree;
    tree.Write("X/a.txt", "eins");
    tree.Write("X/b.txt", "zwei!");
    UserSession user;
    user.Answer(tree.Path("X"));
    user.Then([] { Click(BtnAddFolder); });
    user.Then([] { Click(BtnSearch); });
    user.Check([] {
        EXPECT_EQ(Lines(LstGroups), Strings{"(keine doppelten Dateien)"});
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt");
        EXPECT_EQ(EnabledStates(),
                  AllEnabledBut({LstGroups, LstMembers, BtnDeleteMarked, BtnDeleteGroup}));
    });
    user.Then([] { Click(BtnSearch); });
    user.Check([] {
        EXPECT_EQ(Lines(LstGroups),
                  (Strings{"(keine doppelten Dateien)", "(keine doppelten Dateien)"}));
    });
    // The same folder again, straight after: nothing is added.
    user.Answer(tree.Path("X"));
    user.Then([] { Click(BtnAddFolder); });
    user.Check([] { EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (2)"); });
    // A cancelled picker changes nothing either.
    user.Answer(QString());
    user.Then([] { Click(BtnAddFolder); });
    user.Check([&] {
        EXPECT_EQ(Caption(LblAllFiles), "Alle Dateien (2)");
        EXPECT_EQ(user.PickerCalls().back().second, tree.Path("X") + "/");
    });
    user.Close([] { Press(Qt::Key_F4, Qt::AltModifier); });
    EXPECT_EQ(user.Run(), 0);
    ExpectCreditsAfterTheWindow(user);
    EXPECT_TRUE(tree.Exists("X/a.txt"));
    EXPECT_TRUE(tree.Exists("X/b.txt"));
}

TEST(KeyboardSession, EverythingWorksWithTabSpaceAndArrows) {
    Folders folders;
    UserSession user;
    user.Then([] { Press(Qt::Key_Tab); });
    user.Check([] { EXPECT_EQ(FocusedControl(), BtnAddFolder); });
    AddAllFolders(user, folders, [] { Press(Qt::Key_Space); });
    user.Check([] { EXPECT_EQ(Lines(LstAllFiles), kAllFileLines); });
    user.Then([] { Press(Qt::Key_Tab); });
    user.Then([] { Press(Qt::Key_Tab); });
    user.Then([] { Press(Qt::Key_Tab); });
    user.Check([] { EXPECT_EQ(FocusedControl(), BtnSearch); });
    user.Then([] { Press(Qt::Key_Space); });
    user.Then([] { Press(Qt::Key_Tab); });
    user.Check([] {
        EXPECT_EQ(Lines(LstGroups), kGroupLines);
        EXPECT_EQ(FocusedControl(), LstGroups);
        EXPECT_EQ(Lines(LstMembers), Strings{});
    });
    user.Then([] { Press(Qt::Key_Down); });  // the first group
    user.Then([] { Press(Qt::Key_Tab); });
    user.Then([] { Press(Qt::Key_Down); });  // its second file
    user.Check([&] {
        EXPECT_EQ(platform::SelectedIndex(LstGroups), 0);
        EXPECT_EQ(FocusedControl(), LstMembers);
        EXPECT_EQ(platform::SelectedIndex(LstMembers), 1);
    });
    user.Then([] { Press(Qt::Key_Tab); });
    user.Then([] { Press(Qt::Key_Space); });
    user.Check([&] {
        EXPECT_EQ(FocusedControl(), BtnDeleteMarked);
        EXPECT_FALSE(folders.tree.Exists("B/zwei.txt"));
        EXPECT_TRUE(folders.tree.Exists("A/eins.txt"));
        EXPECT_TRUE(folders.tree.Exists("D/vier.txt"));
    });
    user.Then([] { Press(Qt::Key_Tab); });
    user.Then([] { Press(Qt::Key_Space); });
    user.Check([&] {
        EXPECT_EQ(FocusedControl(), BtnDeleteGroup);
        EXPECT_FALSE(folders.tree.Exists("A/eins.txt"));
        EXPECT_FALSE(folders.tree.Exists("D/vier.txt"));
        EXPECT_EQ(Lines(LstGroups), Strings{"2: drei.txt, fuenf.txt"});
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (1)");
    });
    // The whole last group goes; its button is disabled while it keeps the focus.
    user.Then([] { Press(Qt::Key_Space); });
    user.Check([&] {
        EXPECT_FALSE(folders.tree.Exists("C/drei.txt"));
        EXPECT_FALSE(folders.tree.Exists("E/fuenf.txt"));
        EXPECT_TRUE(folders.tree.Exists("F/tief/sechs.txt"));
        EXPECT_EQ(Lines(LstGroups), Strings{});
        EXPECT_EQ(Caption(LblGroups), "Dateien mit gleichem Inhalt (0)");
        EXPECT_FALSE(Enabled(BtnDeleteGroup));
        EXPECT_EQ(FocusedControl(), BtnDeleteGroup);
    });
    // From a focused control that is no candidate, Tab moves nothing and Shift+Tab goes to
    // the last candidate.
    user.Then([] { Press(Qt::Key_Tab); });
    user.Check([] { EXPECT_EQ(FocusedControl(), BtnDeleteGroup); });
    user.Then([] { Press(Qt::Key_Backtab, Qt::ShiftModifier); });
    user.Check([] { EXPECT_EQ(FocusedControl(), BtnSearch); });
    user.Close([] { Press(Qt::Key_F4, Qt::AltModifier); });
    EXPECT_EQ(user.Run(), 0);
    ExpectCreditsAfterTheWindow(user);
}

// Counts the Tab keys that arrive at a widget.
class TabCounter final : public QObject {
  public:
    int tabs = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
                ++tabs;
            }
        }
        return false;
    }
};

TEST(TabCycle, VisitsEveryEnabledTabStopInCreationOrderBothWays) {
    Folders folders;
    UserSession user;
    TabCounter counter;
    std::vector<int32_t> forward;
    std::vector<int32_t> backward;
    AddAllFolders(user, folders, [] { Click(BtnAddFolder); });
    user.Then([] { Click(BtnSearch); });
    user.Then([] { ClickLine(LstGroups, 0); });
    user.Check([&] {
        ASSERT_EQ(EnabledStates(), AllEnabledBut({}));
        EXPECT_EQ(FocusedControl(), LstGroups);
        for (const ControlSpec& control : kControls) {
            QWidget* widget = Widget(control.identifier);
            widget->installEventFilter(&counter);
            if (auto* list = qobject_cast<QListWidget*>(widget)) {
                list->viewport()->installEventFilter(&counter);
            }
        }
    });
    for (int i = 0; i < 8; ++i) {
        user.Then([&] {
            Press(Qt::Key_Tab);
            forward.push_back(FocusedControl());
        });
    }
    for (int i = 0; i < 8; ++i) {
        user.Then([&] {
            Press(Qt::Key_Backtab, Qt::ShiftModifier);
            backward.push_back(FocusedControl());
        });
    }
    // Shift held with a plain Tab counts as Shift+Tab as well.
    user.Then([&] {
        Press(Qt::Key_Tab, Qt::ShiftModifier);
        backward.push_back(FocusedControl());
    });
    user.Close();
    EXPECT_EQ(user.Run(), 0);
    EXPECT_EQ(forward,
              (std::vector<int32_t>{LstMembers, BtnDeleteMarked, BtnDeleteGroup, BtnAddFolder,
                                    LstAllFiles, BtnReset, BtnSearch, LstGroups}));
    EXPECT_EQ(backward,
              (std::vector<int32_t>{BtnSearch, BtnReset, LstAllFiles, BtnAddFolder, BtnDeleteGroup,
                                    BtnDeleteMarked, LstMembers, LstGroups, BtnSearch}));
    EXPECT_EQ(counter.tabs, 0);
}

TEST(TabCycle, SkipsDisabledControlsAndStartsFromNoFocus) {
    Tree tree;
    tree.Write("X/a.txt", "eins");
    UserSession user;
    std::vector<int32_t> visited;
    auto press = [&](int key, int modifiers) {
        user.Then([&visited, key, modifiers] {
            Press(key, modifiers);
            visited.push_back(FocusedControl());
        });
    };
    user.Check([] {
        EXPECT_EQ(FocusedControl(), -1);
        // At start LstGroups keeps the enabled state it was made with.
        EXPECT_TRUE(Enabled(LstGroups));
    });
    // With no control focused, Shift+Tab goes to the last candidate.
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    press(Qt::Key_Tab, 0);
    press(Qt::Key_Tab, 0);
    press(Qt::Key_Tab, 0);
    user.Check([&] {
        EXPECT_EQ(visited, (std::vector<int32_t>{LstGroups, BtnAddFolder, LstAllFiles, LstGroups}));
        visited.clear();
    });
    user.Answer(tree.Path("X"));
    user.Then([] { Click(BtnAddFolder); });
    for (int i = 0; i < 4; ++i) {
        press(Qt::Key_Tab, 0);
    }
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    user.Close();
    EXPECT_EQ(user.Run(), 0);
    EXPECT_EQ(visited,
              (std::vector<int32_t>{LstAllFiles, BtnReset, BtnSearch, BtnAddFolder, BtnSearch}));
}

}  // namespace
