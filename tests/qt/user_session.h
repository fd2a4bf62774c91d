// A scripted user in front of the real window: acts and looks go through the same widget
// events a mouse and a keyboard make, and a session's steps are taken by the program's own
// wait, one pass of its loop at a time.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "platform/qt/test_hooks.h"
#include "platform/qt/window_qt.h"

namespace qt_test {

inline QWindow* NativeWindow() {
    QWidget* window = platform::qt::MainWindowWidget();
    return window != nullptr ? window->windowHandle() : nullptr;
}

inline QWidget* Widget(int32_t control) {
    QWidget* widget = platform::qt::ControlWidget(control);
    EXPECT_NE(widget, nullptr) << "no control " << control;
    return widget;
}

inline QListView* List(int32_t list) {
    return qobject_cast<QListView*>(Widget(list));
}

inline int Rows(int32_t list) {
    return List(list) != nullptr ? List(list)->model()->rowCount() : 0;
}

// Clicks (once or twice) at `point` of `widget`, by default its centre, through the native
// window.
inline void ClickAt(QWidget* widget, QPoint point = {}, bool twice = false, int modifiers = 0) {
    ASSERT_TRUE(widget != nullptr && NativeWindow() != nullptr);
    point = widget->mapTo(widget->window(), point.isNull() ? widget->rect().center() : point);
    auto held = Qt::KeyboardModifiers(static_cast<Qt::KeyboardModifier>(modifiers));
    if (twice) {
        QTest::mouseDClick(NativeWindow(), Qt::LeftButton, held, point);
    } else {
        QTest::mouseClick(NativeWindow(), Qt::LeftButton, held, point);
    }
}

inline void Click(int32_t control) {
    ClickAt(Widget(control));
}

inline void ClickLine(int32_t list, int row, bool twice = false, int modifiers = 0) {
    QListView* widget = List(list);
    ASSERT_TRUE(widget != nullptr && row >= 0 && row < Rows(list)) << list << ":" << row;
    QPoint line = widget->visualRect(widget->model()->index(row, 0)).center();
    ClickAt(widget->viewport(), line, twice, modifiers);
}

inline void Press(int key, int modifiers = 0) {
    ASSERT_NE(NativeWindow(), nullptr);
    QTest::keyClick(NativeWindow(), static_cast<Qt::Key>(key),
                    Qt::KeyboardModifiers(static_cast<Qt::KeyboardModifier>(modifiers)));
}

inline void CloseBox() {
    ASSERT_NE(NativeWindow(), nullptr);
    NativeWindow()->close();
}

inline std::vector<std::string> Lines(int32_t list) {
    std::vector<std::string> lines;
    for (int row = 0; row < Rows(list); ++row) {
        QString text = List(list)->model()->index(row, 0).data().toString();
        lines.push_back(QFile::encodeName(text).toStdString());
    }
    return lines;
}

// The text of a label or a button.
inline std::string Caption(int32_t control) {
    QWidget* widget = Widget(control);
    return widget != nullptr ? widget->property("text").toString().toStdString() : "";
}

inline int32_t FocusedControl() {  // -1 when no control has the focus
    QWidget* window = platform::qt::MainWindowWidget();
    return window != nullptr ? platform::qt::IdentifierOf(window->focusWidget()) : -1;
}

// A temporary folder tree.
struct Tree {
    QString Path(const QString& relative) const { return dir.path() + "/" + relative; }
    bool Exists(const QString& relative) const { return QFile::exists(Path(relative)); }
    void Write(const QString& relative, const QByteArray& content) const {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(Path(relative)).path()));
        QFile file(Path(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }

    QTemporaryDir dir;
};

class UserSession {
  public:
    UserSession() {
        platform::test::SetBeforeWait([this] {
            if (steps_.empty()) {  // the window would keep the loop waiting for ever
                ADD_FAILURE() << "the window is still open after the last step";
                std::abort();
            }
            QTimer::singleShot(0, qApp, steps_.takeFirst());
        });
        platform::test::SetFolderAnswer([this](const QString&, const QString&) {
            EXPECT_FALSE(answers.isEmpty()) << "the folder picker opened with no answer scripted";
            return answers.isEmpty() ? QString() : answers.takeFirst();
        });
        watcher_.setInterval(0);
        // Reads the credits box when it shows and presses its OK button.
        QObject::connect(&watcher_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) {
                return;
            }
            watcher_.stop();
            QAbstractButton* ok = box->button(QMessageBox::Ok);
            credits = QString("%1 | %2 | %3 button(s)%4 | %5")
                          .arg(box->windowTitle(), box->text().section("\n\n", 0, 0),
                               QString::number(box->buttons().size()), ok != nullptr ? ", OK" : "",
                               platform::qt::MainWindowWidget() == nullptr ? "gone" : "open")
                          .toStdString();
            ok != nullptr ? QTest::mouseClick(ok, Qt::LeftButton) : box->done(0);
        });
    }
    ~UserSession() {
        platform::test::SetBeforeWait({});
        platform::test::SetFolderAnswer({});
    }

    // The user's next act or look, in a pass of its own after a pass in which the mouse only
    // crosses the window (to its bottom-right corner, no control's), so that the loop has
    // updated the enabled states by then.
    void Then(std::function<void()> act) {
        steps_.push_back([] { QTest::mouseMove(NativeWindow(), QPoint(599, 299)); });
        steps_.push_back(std::move(act));
    }
    // Closes the window `how`; the credits box that follows is read and dismissed with OK.
    void Close(std::function<void()> how) {
        Then([this, how = std::move(how)] {
            watcher_.start();
            how();
        });
    }
    // Runs the program until the script has closed its window; gives its exit code.
    int Run() {
        int code = twinrake::RunTwinrake();
        EXPECT_TRUE(steps_.empty()) << steps_.size() << " steps were never taken";
        EXPECT_TRUE(answers.isEmpty()) << answers.size() << " picker answers were left";
        return code;
    }

    QStringList answers;  // what the folder picker answers in turn (no trailing '/')
    std::string credits;  // the credits box: "caption | first paragraph | buttons | window"

  private:
    QList<std::function<void()>> steps_;
    QTimer watcher_;
};

}  // namespace qt_test
