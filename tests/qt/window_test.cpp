// The window and its controls as the operations leave them, one wait at a time.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>

#include "app/controls.h"
#include "platform/window.h"
#include "user_session.h"

namespace {

using namespace twinrake;
using namespace qt_test;
using Got = std::vector<int32_t>;
using Strings = std::vector<std::string>;
constexpr int32_t kClose = platform::kEventClose;  // an identifier no control has

// What the user's `act` gives, pass after pass of the wait until one gives nothing: the
// identifier of the control for each control event, kClose for each close request.
Got Events(std::function<void()> act) {
    for (Got events;; act = [] {}) {
        platform::test::SetBeforeWait([act] { QTimer::singleShot(0, qApp, act); });
        int32_t value = platform::WaitForEvent();
        platform::test::SetBeforeWait({});
        if (value == 0) {
            return events;
        }
        events.push_back(value == platform::kEventControl ? platform::ControlIdentifier() : value);
    }
}

struct PaintCounter : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int paints = 0;
};

struct WindowTest : testing::Test {
    void SetUp() override {
        ASSERT_TRUE(StartUp(state));
        window = platform::qt::MainWindowWidget();
        Events([] {});  // lets the window system show the window
    }
    void TearDown() override {
        platform::CloseMainWindow(kMainWindowNumber);
        platform::test::SetFolderAnswer({});
    }

    AppState state;
    QWidget* window = nullptr;
};

TEST_F(WindowTest, FixedSizeCentredWithCaptionAndCloseBoxOnly) {
    EXPECT_EQ(window->size(), QSize(600, 300));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->windowTitle(), QString("Twinrake"));
    Qt::WindowFlags shown =
        Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint;
    EXPECT_EQ(window->windowFlags() & (shown | Qt::WindowMinimizeButtonHint |
                                       Qt::WindowMaximizeButtonHint | Qt::FramelessWindowHint),
              shown);
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    QRect outer = window->frameGeometry();
    ASSERT_EQ(outer.size(), window->size().grownBy(window->windowHandle()->frameMargins()));
    EXPECT_EQ(outer.topLeft(), screen.topLeft() + QPoint(screen.width() / 2 - outer.width() / 2,
                                                         screen.height() / 2 - outer.height() / 2));
    // Each halving rounds down, also for a screen smaller than the window.
    EXPECT_EQ(platform::qt::CentredOrigin(QSize(1024, 768), QSize(606, 325)), QPoint(209, 222));
    EXPECT_EQ(platform::qt::CentredOrigin(QSize(1023, 767), QSize(607, 325)), QPoint(208, 221));
    EXPECT_EQ(platform::qt::CentredOrigin(QSize(500, 300), QSize(607, 325)), QPoint(-53, -12));
}

TEST_F(WindowTest, ControlsInCreationOrderWithTheirBoxesKindsAndFirstCaptions) {
    const std::tuple<int32_t, QRect, const char*, const char*> expected[] = {
        {0, {0, 0, 195, 24}, "QPushButton", "Pfad hinzufügen"},
        {1, {0, 25, 195, 20}, "QLabel", "Alle Dateien"},
        {2, {0, 45, 195, 225}, "QListView", ""},
        {8, {0, 275, 195, 20}, "QPushButton", "Zurücksetzen"},
        {9, {200, 0, 368, 24}, "QPushButton", "Doppelte Dateien suchen"},
        {3, {200, 25, 368, 20}, "QLabel", "Dateien mit gleichem Inhalt"},
        {4, {200, 45, 368, 100}, "QListView", ""},
        {5, {200, 150, 398, 20}, "QLabel", "Doppelte Dateien:"},
        {6, {200, 170, 398, 75}, "QListView", ""},
        {7, {200, 250, 398, 20}, "QPushButton", "Lösche markierte Datei"},
        {10, {200, 275, 398, 20}, "QPushButton", "Lösche alle Dateien (mit Original)"},
        {100, {573, 75, 25, 70}, "QProgressBar", ""},
        {101, {573, 45, 25, 25}, "QProgressBar", ""},
    };
    QList<QWidget*> children = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), std::size(expected));
    for (qsizetype i = 0; i < children.size(); ++i) {
        auto [identifier, box, kind, caption] = expected[i];
        QWidget* widget = children[i];
        SCOPED_TRACE(identifier);
        ASSERT_EQ(platform::qt::IdentifierOf(widget), identifier);
        EXPECT_EQ(widget->geometry(), box);
        EXPECT_TRUE(widget->isVisible() && widget->isEnabled());
        EXPECT_TRUE(widget->inherits(kind));
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_TRUE(label->wordWrap() && label->textFormat() == Qt::PlainText);
        }
        if (*caption != '\0') {  // the caption is shown, and fits its box
            EXPECT_EQ(Caption(identifier), caption);
            QFontMetrics metrics(widget->font());
            EXPECT_LT(metrics.height(), box.height());
            EXPECT_LT(metrics.horizontalAdvance(QString::fromUtf8(caption)), box.width());
        }
    }
}

TEST_F(WindowTest, ProgramChangesToListsKeepTheOrderRaiseNoEventAndNeverScrollSideways) {
    for (const char* line : {"zebra.txt (5)", "apfel.txt (7)", "Größe – ü.txt (9)", "d"}) {
        platform::AppendLine(LstGroups, line);
    }
    EXPECT_EQ(Lines(LstGroups),
              (Strings{"zebra.txt (5)", "apfel.txt (7)", "Größe – ü.txt (9)", "d"}));
    EXPECT_EQ(platform::SelectedIndex(LstGroups), -1);
    platform::SelectLine(LstGroups, 2);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 2);
    platform::RemoveLine(LstGroups, 0);  // the selected line moves up with the others
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 1);
    EXPECT_EQ(Lines(LstGroups), (Strings{"apfel.txt (7)", "Größe – ü.txt (9)", "d"}));
    platform::RemoveLine(LstGroups, 1);  // the selected line itself: no neighbour takes over
    EXPECT_EQ(platform::SelectedIndex(LstGroups), -1);
    platform::SelectLine(LstGroups, 0);
    platform::SelectLine(LstGroups, -1);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), -1);
    platform::SelectLine(LstGroups, 1);
    platform::SelectLine(LstGroups, 7);  // past the end: nothing selected
    EXPECT_EQ(platform::SelectedIndex(LstGroups), -1);
    platform::SelectLine(LstGroups, 1);
    platform::ClearLines(LstGroups);
    EXPECT_EQ(platform::CountLines(LstGroups), 0);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), -1);
    // A batch goes after the lines there and keeps the selection.
    platform::AppendLine(LstGroups, "eins");
    platform::SelectLine(LstGroups, 0);
    platform::LineBatch batch;
    for (const char* line : {"zwei", "", "Größe – ü.txt (9)"}) {
        batch.Add(line);
    }
    batch.text += "vier";  // an unended rest is a line too
    platform::AppendLines(LstGroups, std::move(batch));
    platform::RemoveLine(LstGroups, 2);
    EXPECT_EQ(Lines(LstGroups), (Strings{"eins", "zwei", "Größe – ü.txt (9)", "vier"}));
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 0);
    EXPECT_EQ(Events([] {}), Got{});
    // A long line is cut, not shortened, and many lines scroll only up and down.
    platform::AppendLine(LstAllFiles, std::string(400, 'w') + ".txt (1)");
    for (int i = 0; i < 40; ++i) {
        platform::AppendLine(LstAllFiles, "datei" + std::to_string(i));
    }
    Events([] {});
    QListView* list = List(LstAllFiles);
    EXPECT_TRUE(list->verticalScrollBar()->isVisible());
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(list->textElideMode(), Qt::ElideNone);
}

TEST_F(WindowTest, UserSelectionsAndDoubleClicksAreEventsOfTheirList) {
    for (int32_t list : {LstAllFiles, LstGroups, LstMembers}) {
        for (const char* line : {"eins", "zwei", "drei"}) {
            platform::AppendLine(list, line);
        }
        EXPECT_EQ(Events([list] { ClickLine(list, 1); }), Got{list});
        EXPECT_EQ(platform::SelectedIndex(list), 1);
    }
    // Then, in LstMembers: each act, how many events it gives, and the selected line after it.
    // A click or a Ctrl+click on the selected line changes nothing; a double click on another
    // line selects it and is reported besides; an arrow at the end of the list says nothing.
    const std::tuple<std::function<void()>, size_t, int> acts[] = {
        {[] { ClickLine(LstMembers, 1); }, 0, 1},
        {[] { ClickLine(LstMembers, 1, false, Qt::ControlModifier); }, 0, 1},
        {[] { ClickLine(LstMembers, 2, true); }, 2, 2},
        {[] { ClickLine(LstMembers, 2, true); }, 1, 2},
        {[] { Press(Qt::Key_Up); }, 1, 1},
        {[] { Press(Qt::Key_Home); }, 1, 0},
        {[] { Press(Qt::Key_Up); }, 0, 0},
        {[] { Press(Qt::Key_Right); }, 1, 1},  // Left and Right step like Up and Down
        {[] { Press(Qt::Key_Left); }, 1, 0},
        {[] { Press(Qt::Key_End); }, 1, 2},
    };
    for (size_t i = 0; i < std::size(acts); ++i) {
        auto [act, events, selected] = acts[i];
        EXPECT_EQ(Events(act), Got(events, LstMembers)) << "act " << i;
        EXPECT_EQ(platform::SelectedIndex(LstMembers), selected) << "act " << i;
    }
}

TEST_F(WindowTest, ProgressFillsFromTheBottomAndPaintsWithinTheCall) {
    auto* bar = qobject_cast<QProgressBar*>(Widget(PrgOverall));
    ASSERT_EQ(bar->geometry(), QRect(573, 75, 25, 70));  // rows 76 to 143 inside the frame
    const QColor fill = bar->palette().highlight().color();
    // Position asked for, position kept, filled rows.
    const std::tuple<int, int, int> steps[] = {
        {50, 50, 34}, {150, 100, 68}, {1, 1, 0}, {99, 99, 67}, {-3, 0, 0}};
    for (auto [percent, value, rows] : steps) {
        platform::SetProgress(PrgOverall, percent);
        EXPECT_EQ(bar->value(), value);
        // What the window shows, though no event was taken since: the filled rows of the
        // bar's middle column, counted up from the bottom without a gap.
        QImage shown = QGuiApplication::primaryScreen()->grabWindow(window->winId()).toImage();
        int filled = 0;
        while (filled < 68 && shown.pixelColor(585, 143 - filled) == fill) {
            ++filled;
        }
        EXPECT_EQ(filled, rows) << percent;
    }
    platform::SetProgress(PrgFile, 100);
    EXPECT_EQ(bar->value(), 0);
    // One paint per change: each is a trip to the display, and a search makes thousands.
    PaintCounter counter;
    bar->installEventFilter(&counter);
    platform::SetProgress(PrgOverall, 42);
    platform::SetProgress(PrgOverall, 42);
    EXPECT_EQ(counter.paints, 1);
}

TEST_F(WindowTest, ButtonsAnswerClicksAndSpaceOnlyAndCloseRequestsLeaveTheWindow) {
    EXPECT_EQ(Events([] { Click(BtnSearch); }), Got{BtnSearch});
    EXPECT_EQ(FocusedControl(), BtnSearch);
    EXPECT_EQ(Events([] { Press(Qt::Key_Return); }), Got{});
    EXPECT_EQ(Events([] { Press(Qt::Key_Enter, Qt::KeypadModifier); }), Got{});
    EXPECT_EQ(Events([] { Press(Qt::Key_Escape); }), Got{});
    EXPECT_EQ(Events([] { Press(Qt::Key_F4); }), Got{});
    EXPECT_EQ(Events([] { Press(Qt::Key_Space); }), Got{BtnSearch});
    EXPECT_EQ(Events([] { Press(Qt::Key_F4, Qt::AltModifier); }), Got{kClose});
    EXPECT_EQ(Events(CloseBox), Got{kClose});
    EXPECT_EQ(platform::qt::MainWindowWidget(), window);
    EXPECT_TRUE(window->isVisible());
    platform::EnableControl(BtnReset, true);  // the flag says "disabled"
    EXPECT_EQ(Events([] { Click(BtnReset); }), Got{});
    platform::EnableControl(BtnReset, false);
    EXPECT_EQ(Events([] { Click(BtnReset); }), Got{BtnReset});
    // Labels and bars neither report nor take the focus.
    EXPECT_EQ(Events([] { Click(LblGroups); }), Got{});
    EXPECT_EQ(Events([] { Click(PrgFile); }), Got{});
    EXPECT_EQ(FocusedControl(), BtnReset);
    platform::SetControlText(BtnSearch, "Suchen <b>&</b>");
    EXPECT_EQ(Caption(BtnSearch), "Suchen <b>&</b>");
}

TEST_F(WindowTest, MissingControlsAndAClosedWindowAreIgnored) {
    platform::AppendLine(55, "x");
    platform::SelectLine(55, 0);
    platform::SetControlText(55, "x");
    platform::EnableControl(55, true);
    platform::SetProgress(LstGroups, 50);  // not a bar
    EXPECT_EQ(platform::CountLines(55) + platform::CountLines(BtnSearch), 0);
    EXPECT_EQ(platform::SelectedIndex(55), -1);
    // A second window while one is open, or controls without a parent, are refused.
    EXPECT_EQ(platform::CreateMainWindow(0, 600, 300, platform::kMainWindowStyle, true, "2"),
              nullptr);
    EXPECT_FALSE(platform::SetControlParent(nullptr));
    platform::CloseMainWindow(1);  // another number
    ASSERT_EQ(platform::qt::MainWindowWidget(), window);
    QPointer<QWidget> list = Widget(LstGroups);
    platform::CloseMainWindow(kMainWindowNumber);
    EXPECT_EQ(platform::qt::MainWindowWidget(), nullptr);
    EXPECT_TRUE(list.isNull());
    platform::AppendLine(LstGroups, "x");
    EXPECT_EQ(platform::CountLines(LstGroups), 0);
    platform::SetProgress(PrgFile, 30);
    platform::CloseMainWindow(kMainWindowNumber);
    AppState again;  // a new window can be made once the old one is gone
    ASSERT_TRUE(StartUp(again));
}

TEST_F(WindowTest, FolderPickerAddsTheTrailingSeparatorAndKeepsTheBytes) {
    // What the dialog answers, the initial folder, the folder picked.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/srv/Fotos", "/srv/alt/", "/srv/Fotos/"},
        {"/", "", "/"},
        {"/srv/Bilder Ä", "/srv/Fotos/", "/srv/Bilder Ä/"},
        {"/srv/mit/", "/", "/srv/mit/"},
        {"", "/srv/", ""}};  // cancelled
    for (auto [answer, initial, folder] : cases) {
        QString asked;
        platform::test::SetFolderAnswer([&](const QString& title, const QString& start) {
            asked = title + "|" + start;
            return QString::fromUtf8(answer);
        });
        EXPECT_EQ(platform::PickFolder(kPickerTitle, initial), folder);
        EXPECT_EQ(asked, QString::fromUtf8("Pfad hinzufügen...|") + QString::fromUtf8(initial));
    }
}

// A display number no X server here listens on.
QString UnusedDisplay() {
    for (int number = 200;; ++number) {
        if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) &&
            !QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number))) {
            return QStringLiteral(":%1").arg(number);
        }
    }
}

// A list of many lines finds each of them however lines before it were removed: at the first
// line, around every sixteenth (where a list keeps its marks), and at the last.
TEST_F(WindowTest, ManyLinesStayInOrderThroughRemovalsAnywhere) {
    Strings expected;
    platform::LineBatch batch;
    for (int i = 0; i < 50; ++i) {
        expected.push_back(std::string(static_cast<size_t>(i % 7), 'x') + std::to_string(i));
        batch.Add(expected.back());
    }
    platform::AppendLines(LstAllFiles, std::move(batch));
    platform::AppendLine(LstAllFiles, "after");  // one more, appended on its own
    expected.push_back("after");
    for (int row : {0, 15, 16, 17, 31, 44, 32, 0, 16}) {
        SCOPED_TRACE(row);
        platform::RemoveLine(LstAllFiles, row);
        expected.erase(expected.begin() + row);
        ASSERT_EQ(Lines(LstAllFiles), expected);
    }
    platform::RemoveLine(LstAllFiles, static_cast<int32_t>(expected.size()) - 1);
    expected.pop_back();
    EXPECT_EQ(Lines(LstAllFiles), expected);
    platform::AppendLine(LstAllFiles, "last");
    expected.push_back("last");
    EXPECT_EQ(Lines(LstAllFiles), expected);
}

TEST(Program, WithoutADisplayItCanReachSaysSoInOneLineAndFails) {
    // No display at all; an X display that nobody serves (a stale DISPLAY, ssh without X).
    for (const QString& display : {QString(), UnusedDisplay()}) {
        SCOPED_TRACE(display.toStdString());
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            environment.remove(name);
        }
        if (!display.isEmpty()) {
            environment.insert(QStringLiteral("DISPLAY"), display);
        }
        program.setProcessEnvironment(environment);
        program.start(TWINRAKE_PROGRAM, QStringList());
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 1);
        QString errors = QString::fromLocal8Bit(program.readAllStandardError());
        EXPECT_EQ(errors.count('\n'), 1) << errors.toStdString();
        EXPECT_TRUE(errors.startsWith("twinrake: ") && errors.endsWith('\n') &&
                    errors.contains("display") && errors.contains(display))
            << errors.toStdString();
        EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
    }
}

}  // namespace
