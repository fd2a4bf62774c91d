// The window and its controls as the operations leave them, one wait at a time.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "app/app.h"
#include "app/controls.h"
#include "platform/qt/window_qt.h"
#include "platform/window.h"
#include "user_session.h"

namespace {

using namespace twinrake;
using qt_test::Widget;

// One pass of the wait in which the user does `act`; gives what the wait returned.
int32_t Pass(std::function<void()> act = [] {}) {
    platform::qt::SetWaitHookForTests([act] { QTimer::singleShot(0, qApp, act); });
    int32_t value = platform::WaitForEvent();
    platform::qt::SetWaitHookForTests({});
    return value;
}

// Counts the paint events a widget gets.
class PaintCounter final : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(StartUp(state));
        window = platform::qt::MainWindowWidget();
        ASSERT_NE(window, nullptr);
        // Let the window system show the window before anything is looked at.
        Pass();
    }
    void TearDown() override {
        platform::CloseMainWindow(kMainWindowNumber);
        platform::qt::SetFolderAnswerForTests({});
    }

    QListWidget* List(int32_t list) { return qobject_cast<QListWidget*>(Widget(list)); }

    AppState state;
    QWidget* window = nullptr;
};

TEST_F(WindowTest, ClientAreaIsFixedAt600By300WithCaptionAndCloseBoxOnly) {
    EXPECT_EQ(window->size(), QSize(600, 300));
    EXPECT_EQ(window->minimumSize(), QSize(600, 300));
    EXPECT_EQ(window->maximumSize(), QSize(600, 300));
    EXPECT_EQ(window->windowTitle(), QString("Twinrake"));
    EXPECT_TRUE(window->isVisible());
    Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::FramelessWindowHint));
}

TEST_F(WindowTest, WindowIsCentredOnThePrimaryScreen) {
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    QRect outer = window->frameGeometry();
    ASSERT_EQ(outer.size(),
              QSize(600, 300) + QSize(window->windowHandle()->frameMargins().left() +
                                          window->windowHandle()->frameMargins().right(),
                                      window->windowHandle()->frameMargins().top() +
                                          window->windowHandle()->frameMargins().bottom()));
    int x = screen.x() + screen.width() / 2 - outer.width() / 2;
    int y = screen.y() + screen.height() / 2 - outer.height() / 2;
    EXPECT_EQ(outer.topLeft(), QPoint(x, y));
    EXPECT_NE(outer.topLeft(), QPoint(0, 0));
}

TEST(CentredOrigin, HalvesEachSizeRoundingDown) {
    EXPECT_EQ(platform::qt::CentredOrigin(QSize(1024, 768), QSize(606, 325)), QPoint(209, 222));
    // Odd sizes: 1023 / 2 = 511, 607 / 2 = 303, 767 / 2 = 383, 325 / 2 = 162.
    EXPECT_EQ(platform::qt::CentredOrigin(QSize(1023, 767), QSize(607, 325)), QPoint(208, 221));
    // A screen smaller than the window puts the corner off screen.
    EXPECT_EQ(platform::qt::CentredOrigin(QSize(500, 300), QSize(607, 325)), QPoint(-53, -12));
}

TEST_F(WindowTest, ControlsStandInTheirBoxesInCreationOrder) {
    struct Expected {
        int32_t identifier;
        QRect box;
    };
    const Expected expected[] = {
        {0, {0, 0, 195, 24}},     {1, {0, 25, 195, 20}},     {2, {0, 45, 195, 225}},
        {8, {0, 275, 195, 20}},   {9, {200, 0, 368, 24}},    {3, {200, 25, 368, 20}},
        {4, {200, 45, 368, 100}}, {5, {200, 150, 398, 20}},  {6, {200, 170, 398, 75}},
        {7, {200, 250, 398, 20}}, {10, {200, 275, 398, 20}}, {100, {573, 75, 25, 70}},
        {101, {573, 45, 25, 25}},
    };
    std::vector<QWidget*> children;
    for (QObject* child : window->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child);
            widget != nullptr && !widget->isWindow()) {
            children.push_back(widget);
        }
    }
    ASSERT_EQ(children.size(), std::size(expected));
    for (size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control " << i);
        EXPECT_EQ(platform::qt::IdentifierOf(children[i]), expected[i].identifier);
        EXPECT_EQ(children[i]->geometry(), expected[i].box);
        EXPECT_TRUE(children[i]->isVisible());
        EXPECT_TRUE(children[i]->isEnabled());
    }
}

TEST_F(WindowTest, ControlsAreOfTheirKinds) {
    for (int32_t button : {0, 8, 9, 7, 10}) {
        auto* widget = qobject_cast<QPushButton*>(Widget(button));
        ASSERT_NE(widget, nullptr) << button;
        EXPECT_FALSE(widget->autoDefault());
        EXPECT_FALSE(widget->isDefault());
    }
    for (int32_t label : {1, 3, 5}) {
        auto* widget = qobject_cast<QLabel*>(Widget(label));
        ASSERT_NE(widget, nullptr) << label;
        EXPECT_TRUE(widget->wordWrap());
        EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus);
    }
    for (int32_t list : {2, 4, 6}) {
        QListWidget* widget = List(list);
        ASSERT_NE(widget, nullptr) << list;
        EXPECT_EQ(widget->selectionMode(), QAbstractItemView::SingleSelection);
        EXPECT_FALSE(widget->isSortingEnabled());
        EXPECT_EQ(widget->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    }
    for (int32_t bar : {100, 101}) {
        auto* widget = qobject_cast<QProgressBar*>(Widget(bar));
        ASSERT_NE(widget, nullptr) << bar;
        EXPECT_EQ(widget->orientation(), Qt::Vertical);
        EXPECT_EQ(widget->minimum(), 0);
        EXPECT_EQ(widget->maximum(), 100);
        EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus);
    }
}

TEST_F(WindowTest, FirstCaptionsEmptyListsAndEmptyBars) {
    EXPECT_EQ(qt_test::Caption(0), "Pfad hinzufügen");
    EXPECT_EQ(qt_test::Caption(1), "Alle Dateien");
    EXPECT_EQ(qt_test::Caption(8), "Zurücksetzen");
    EXPECT_EQ(qt_test::Caption(9), "Doppelte Dateien suchen");
    EXPECT_EQ(qt_test::Caption(3), "Dateien mit gleichem Inhalt");
    EXPECT_EQ(qt_test::Caption(5), "Doppelte Dateien:");
    EXPECT_EQ(qt_test::Caption(7), "Lösche markierte Datei");
    EXPECT_EQ(qt_test::Caption(10), "Lösche alle Dateien (mit Original)");
    for (int32_t list : {2, 4, 6}) {
        EXPECT_EQ(List(list)->count(), 0);
        EXPECT_EQ(platform::SelectedIndex(list), -1);
    }
    EXPECT_EQ(qobject_cast<QProgressBar*>(Widget(100))->value(), 0);
    EXPECT_EQ(qobject_cast<QProgressBar*>(Widget(101))->value(), 0);
}

TEST_F(WindowTest, CaptionsFitTheirBoxes) {
    for (int32_t control : {0, 1, 8, 9, 3, 5, 7, 10}) {
        QWidget* widget = Widget(control);
        QString text = qobject_cast<QLabel*>(widget) != nullptr
                           ? qobject_cast<QLabel*>(widget)->text()
                           : qobject_cast<QPushButton*>(widget)->text();
        QFontMetrics metrics(widget->font());
        EXPECT_LT(metrics.height(), widget->height()) << control;
        EXPECT_LT(metrics.horizontalAdvance(text), widget->width()) << control;
    }
}

TEST_F(WindowTest, LinesStayInAppendOrderAndAppendingSelectsNothing) {
    platform::AppendLine(LstAllFiles, "zebra.txt (5)");
    platform::AppendLine(LstAllFiles, "apfel.txt (7)");
    platform::AppendLine(LstAllFiles, "Größe – ü.txt (9)");
    EXPECT_EQ(platform::CountLines(LstAllFiles), 3);
    EXPECT_EQ(qt_test::Lines(LstAllFiles),
              (std::vector<std::string>{"zebra.txt (5)", "apfel.txt (7)", "Größe – ü.txt (9)"}));
    EXPECT_EQ(List(LstAllFiles)->item(2)->text(), QString::fromUtf8("Größe – ü.txt (9)"));
    EXPECT_EQ(platform::SelectedIndex(LstAllFiles), -1);
    EXPECT_EQ(Pass(), 0);
}

TEST_F(WindowTest, SelectionsByTheProgramRaiseNoEvent) {
    for (const char* line : {"a", "b", "c", "d"}) {
        platform::AppendLine(LstGroups, line);
    }
    platform::SelectLine(LstGroups, 2);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 2);
    platform::RemoveLine(LstGroups, 0);  // the selected line moves up with the others
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 1);
    EXPECT_EQ(qt_test::Lines(LstGroups), (std::vector<std::string>{"b", "c", "d"}));
    platform::RemoveLine(LstGroups, 1);  // the selected line itself
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
    EXPECT_EQ(Pass(), 0);
    EXPECT_EQ(Pass(), 0);
}

TEST_F(WindowTest, UserSelectionAndDoubleClickAreEvents) {
    for (const char* line : {"eins", "zwei", "drei"}) {
        platform::AppendLine(LstGroups, line);
    }
    EXPECT_EQ(Pass([] { qt_test::ClickLine(LstGroups, 1); }), platform::kEventControl);
    EXPECT_EQ(platform::ControlIdentifier(), LstGroups);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 1);
    // A click on the line already selected changes nothing and says nothing.
    EXPECT_EQ(Pass([] { qt_test::ClickLine(LstGroups, 1); }), 0);
    // A double click on another line: its first click selects it, then the double click.
    EXPECT_EQ(Pass([] { qt_test::DoubleClickLine(LstGroups, 2); }), platform::kEventControl);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 2);
    EXPECT_EQ(Pass(), platform::kEventControl);
    EXPECT_EQ(platform::ControlIdentifier(), LstGroups);
    EXPECT_EQ(Pass(), 0);
    // Arrow keys move the selection of the focused list.
    EXPECT_EQ(Pass([] { qt_test::Press(Qt::Key_Up); }), platform::kEventControl);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 1);
    EXPECT_EQ(Pass([] { qt_test::Press(Qt::Key_Home); }), platform::kEventControl);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 0);
    EXPECT_EQ(Pass([] { qt_test::Press(Qt::Key_Up); }), 0);  // already on the first line
    EXPECT_EQ(Pass([] { qt_test::Press(Qt::Key_End); }), platform::kEventControl);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 2);
    // The user cannot take the selection away.
    EXPECT_EQ(Pass([] {
                  QListWidget* list = qobject_cast<QListWidget*>(Widget(LstGroups));
                  QPoint line = list->visualItemRect(list->item(2)).center();
                  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, line);
              }),
              0);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), 2);
}

TEST_F(WindowTest, UserSelectionInOtherListsNamesThatList) {
    platform::AppendLine(LstMembers, "/a/x");
    platform::AppendLine(LstMembers, "/b/x");
    EXPECT_EQ(Pass([] { qt_test::ClickLine(LstMembers, 1); }), platform::kEventControl);
    EXPECT_EQ(platform::ControlIdentifier(), LstMembers);
    EXPECT_EQ(platform::SelectedIndex(LstMembers), 1);
}

TEST_F(WindowTest, LongLinesAreCutAndManyLinesScroll) {
    platform::AppendLine(LstAllFiles, std::string(400, 'w') + ".txt (1)");
    Pass();
    QListWidget* list = List(LstAllFiles);
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(list->textElideMode(), Qt::ElideNone);
    EXPECT_FALSE(list->verticalScrollBar()->isVisible());
    for (int i = 0; i < 40; ++i) {
        platform::AppendLine(LstAllFiles, "datei" + std::to_string(i));
    }
    Pass();
    EXPECT_TRUE(list->verticalScrollBar()->isVisible());
    EXPECT_GT(list->verticalScrollBar()->maximum(), 0);
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    // Keys that scroll sideways elsewhere leave the view where it is.
    Pass([] { qt_test::ClickLine(LstAllFiles, 0); });
    Pass([] { qt_test::Press(Qt::Key_Right); });
    EXPECT_EQ(list->horizontalScrollBar()->value(), 0);
}

TEST_F(WindowTest, ProgressClampsToTheRangeAndPaintsAtOnce) {
    auto* bar = qobject_cast<QProgressBar*>(Widget(PrgOverall));
    ASSERT_TRUE(window->windowHandle()->isExposed());
    PaintCounter counter;
    bar->installEventFilter(&counter);
    platform::SetProgress(PrgOverall, 50);
    // No event was taken since: the bar painted inside the call.
    EXPECT_GE(counter.paints, 1);
    EXPECT_EQ(bar->value(), 50);
    int painted = counter.paints;
    platform::SetProgress(PrgOverall, 150);
    EXPECT_EQ(bar->value(), 100);
    EXPECT_GT(counter.paints, painted);
    painted = counter.paints;
    platform::SetProgress(PrgOverall, -3);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_GT(counter.paints, painted);
    bar->removeEventFilter(&counter);
}

TEST_F(WindowTest, ProgressFillsFromTheBottomInProportion) {
    auto* bar = qobject_cast<QProgressBar*>(Widget(PrgOverall));
    const QColor fill = bar->palette().highlight().color();
    // The filled rows inside the one-pixel frame, counted down the middle column, and
    // whether they reach the bottom row without a gap.
    struct Fill {
        int rows = 0;
        bool fromBottom = true;
    };
    auto measure = [&] {
        QImage image = bar->grab().toImage();
        Fill result;
        bool seenEmpty = false;
        for (int y = image.height() - 2; y >= 1; --y) {
            if (image.pixelColor(image.width() / 2, y) == fill) {
                ++result.rows;
                result.fromBottom = result.fromBottom && !seenEmpty;
            } else {
                seenEmpty = true;
            }
        }
        return result;
    };
    ASSERT_EQ(bar->height(), 70);
    EXPECT_EQ(measure().rows, 0);
    platform::SetProgress(PrgOverall, 50);
    EXPECT_EQ(measure().rows, 34);  // half of the 68 rows inside the frame
    EXPECT_TRUE(measure().fromBottom);
    platform::SetProgress(PrgOverall, 1);
    EXPECT_EQ(measure().rows, 0);  // 0.68 of a row
    platform::SetProgress(PrgOverall, 99);
    EXPECT_EQ(measure().rows, 67);
    platform::SetProgress(PrgOverall, 100);
    EXPECT_EQ(measure().rows, 68);
    platform::SetProgress(PrgOverall, 0);
    EXPECT_EQ(measure().rows, 0);
    platform::SetProgress(PrgFile, 100);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(WindowTest, ButtonsReactToClicksAndSpaceButNotToEnterOrEscape) {
    EXPECT_EQ(Pass([] { qt_test::Click(BtnSearch); }), platform::kEventControl);
    EXPECT_EQ(platform::ControlIdentifier(), BtnSearch);
    EXPECT_EQ(qt_test::FocusedControl(), BtnSearch);
    EXPECT_EQ(Pass([] { qt_test::Press(Qt::Key_Return); }), 0);
    EXPECT_EQ(Pass([] { qt_test::Press(Qt::Key_Enter, Qt::KeypadModifier); }), 0);
    EXPECT_EQ(Pass([] { qt_test::Press(Qt::Key_Escape); }), 0);
    EXPECT_EQ(Pass([] { qt_test::Press(Qt::Key_Space); }), platform::kEventControl);
    EXPECT_EQ(platform::ControlIdentifier(), BtnSearch);
    platform::EnableControl(BtnReset, true);
    EXPECT_FALSE(Widget(BtnReset)->isEnabled());
    EXPECT_EQ(Pass([] { qt_test::Click(BtnReset); }), 0);
    platform::EnableControl(BtnReset, false);
    EXPECT_TRUE(Widget(BtnReset)->isEnabled());
    EXPECT_EQ(Pass([] { qt_test::Click(BtnReset); }), platform::kEventControl);
    EXPECT_EQ(platform::ControlIdentifier(), BtnReset);
    // Labels and bars report nothing.
    EXPECT_EQ(Pass([] { qt_test::Click(LblGroups); }), 0);
    EXPECT_EQ(Pass([] { qt_test::Click(PrgFile); }), 0);
}

TEST_F(WindowTest, CaptionsChangeByText) {
    platform::SetControlText(LblAllFiles, "Alle Dateien (12)");
    EXPECT_EQ(qt_test::Caption(LblAllFiles), "Alle Dateien (12)");
    platform::SetControlText(BtnSearch, "Suchen <b>&</b>");
    EXPECT_EQ(qt_test::Caption(BtnSearch), "Suchen <b>&</b>");
    EXPECT_EQ(qobject_cast<QLabel*>(Widget(LblAllFiles))->textFormat(), Qt::PlainText);
}

TEST_F(WindowTest, CloseBoxAndAltF4AskToCloseButLeaveTheWindow) {
    EXPECT_EQ(Pass([] { qt_test::CloseBox(); }), platform::kEventClose);
    EXPECT_EQ(platform::qt::MainWindowWidget(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(Pass([] { qt_test::Press(Qt::Key_F4, Qt::AltModifier); }), platform::kEventClose);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(Pass([] { qt_test::Press(Qt::Key_F4); }), 0);
}

TEST_F(WindowTest, CloseMainWindowDestroysOnlyItsOwnNumber) {
    platform::CloseMainWindow(1);
    ASSERT_NE(platform::qt::MainWindowWidget(), nullptr);
    QPointer<QWidget> list = Widget(LstGroups);
    platform::CloseMainWindow(kMainWindowNumber);
    EXPECT_EQ(platform::qt::MainWindowWidget(), nullptr);
    EXPECT_TRUE(list.isNull());
    // Whatever is addressed to the controls now does nothing.
    platform::AppendLine(LstGroups, "x");
    EXPECT_EQ(platform::CountLines(LstGroups), 0);
    EXPECT_EQ(platform::SelectedIndex(LstGroups), -1);
    platform::SetProgress(PrgFile, 30);
    platform::CloseMainWindow(kMainWindowNumber);
    EXPECT_EQ(platform::qt::ControlWidget(LstGroups), nullptr);
    // A new window can be made once the old one is gone.
    AppState again;
    ASSERT_TRUE(StartUp(again));
    EXPECT_NE(platform::qt::MainWindowWidget(), nullptr);
}

TEST_F(WindowTest, MissingControlsAreIgnored) {
    platform::AppendLine(55, "x");
    platform::SelectLine(55, 0);
    platform::SetControlText(55, "x");
    platform::EnableControl(55, true);
    platform::SetProgress(LstGroups, 50);  // not a bar
    EXPECT_EQ(platform::CountLines(55), 0);
    EXPECT_EQ(platform::SelectedIndex(55), -1);
    EXPECT_EQ(platform::CountLines(BtnSearch), 0);
    // A second window while one is open, or controls without a parent, are refused.
    EXPECT_EQ(platform::CreateMainWindow(0, 600, 300, platform::kMainWindowStyle, true, "Zwei"),
              nullptr);
    EXPECT_FALSE(platform::SetControlParent(nullptr));
}

TEST_F(WindowTest, FolderPickerAddsTheSeparatorAndKeepsTheBytes) {
    std::vector<std::pair<QString, QString>> calls;
    QString answer;
    platform::qt::SetFolderAnswerForTests([&](const QString& title, const QString& initial) {
        calls.emplace_back(title, initial);
        return answer;
    });
    answer = "/srv/Fotos";
    EXPECT_EQ(platform::PickFolder(kPickerTitle, "/srv/alt/"), "/srv/Fotos/");
    answer = "/";
    EXPECT_EQ(platform::PickFolder(kPickerTitle, ""), "/");
    answer = QString::fromUtf8("/srv/Bilder Ä");
    EXPECT_EQ(platform::PickFolder(kPickerTitle, "/srv/Fotos/"), "/srv/Bilder Ä/");
    answer = "/srv/mit/";
    EXPECT_EQ(platform::PickFolder(kPickerTitle, "/"), "/srv/mit/");
    answer.clear();
    EXPECT_EQ(platform::PickFolder(kPickerTitle, "/srv/"), "");
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].first, QString::fromUtf8("Pfad hinzufügen..."));
    EXPECT_EQ(calls[0].second, QString("/srv/alt/"));
    EXPECT_EQ(calls[1].second, QString());
    EXPECT_EQ(calls[2].second, QString("/srv/Fotos/"));
}

TEST(MessageBox, ShowsCaptionTextAndOneOkButton) {
    QString caption;
    QString text;
    int buttons = -1;
    QTimer watcher;
    watcher.setInterval(0);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        watcher.stop();
        caption = box->windowTitle();
        text = box->text();
        buttons = static_cast<int>(box->buttons().size());
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    watcher.start();
    platform::ShowMessageBox("Credits", "Zeile eins\n\nZeile <zwei>", platform::kMessageBoxOk);
    EXPECT_EQ(caption, QString("Credits"));
    EXPECT_EQ(text, QString("Zeile eins\n\nZeile <zwei>"));
    EXPECT_EQ(buttons, 1);
}

TEST(Program, WithoutADisplaySaysSoInOneLineAndFails) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    program.setProcessEnvironment(environment);
    program.start(TWINRAKE_PROGRAM, QStringList());
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(program.exitCode(), 0);
    QString errors = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_EQ(errors.count('\n'), 1) << errors.toStdString();
    EXPECT_TRUE(errors.endsWith('\n'));
    EXPECT_TRUE(errors.contains("display")) << errors.toStdString();
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

}  // namespace
