#include "user_session.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdlib>

#include "app/app.h"
#include "platform/qt/window_qt.h"

namespace qt_test {

namespace {

QWindow* NativeWindow() {
    QWidget* window = platform::qt::MainWindowWidget();
    return window != nullptr ? window->windowHandle() : nullptr;
}

// `point` of `widget` in the coordinates of the main window.
QPoint InWindow(QWidget* widget, QPoint point) {
    return widget->mapTo(platform::qt::MainWindowWidget(), point);
}

QListWidget* List(int32_t list) {
    return qobject_cast<QListWidget*>(Widget(list));
}

QPoint LineCentre(int32_t list, int row) {
    QListWidget* widget = List(list);
    if (widget == nullptr || row < 0 || row >= widget->count()) {
        ADD_FAILURE() << "list " << list << " has no line " << row;
        return {};
    }
    QRect line = widget->visualItemRect(widget->item(row));
    return InWindow(widget->viewport(), line.center());
}

}  // namespace

UserSession::UserSession() {
    platform::qt::SetWaitHookForTests([this] { OnWait(); });
    platform::qt::SetFolderAnswerForTests([this](const QString& title, const QString& initial) {
        pickerCalls_.emplace_back(title, initial);
        if (answers_.empty()) {
            ADD_FAILURE() << "the folder picker opened with no answer scripted";
            return QString();
        }
        QString answer = answers_.front();
        answers_.pop_front();
        return answer;
    });
}

UserSession::~UserSession() {
    platform::qt::SetWaitHookForTests({});
    platform::qt::SetFolderAnswerForTests({});
    delete watcher_;
}

void UserSession::Then(std::function<void()> act) {
    steps_.push_back(MoveMouseAway);
    steps_.push_back(std::move(act));
}

void UserSession::Check(std::function<void()> check) {
    steps_.push_back(MoveMouseAway);
    steps_.push_back(std::move(check));
}

void UserSession::Close(std::function<void()> how) {
    steps_.push_back(MoveMouseAway);
    steps_.push_back([this, how = std::move(how)] {
        WatchForCreditsBox();
        how();
    });
}

void UserSession::Close() {
    Close(CloseBox);
}

int UserSession::Run() {
    int code = twinrake::RunTwinrake();
    EXPECT_TRUE(steps_.empty()) << steps_.size() << " steps were never taken";
    EXPECT_TRUE(answers_.empty()) << answers_.size() << " picker answers were never asked for";
    return code;
}

void UserSession::OnWait() {
    ++passes_;
    if (!steps_.empty()) {
        std::function<void()> step = std::move(steps_.front());
        steps_.pop_front();
        QTimer::singleShot(0, qApp, std::move(step));
        return;
    }
    // The script is done: the user closes the window. A window that will not close would
    // keep the loop waiting for ever, so give up loudly.
    if (++closeRequests_ > 3) {
        ADD_FAILURE() << "the window does not close";
        std::abort();
    }
    QTimer::singleShot(0, qApp, [this] {
        WatchForCreditsBox();
        CloseBox();
    });
}

void UserSession::WatchForCreditsBox() {
    if (watcher_ != nullptr) {
        return;
    }
    watcher_ = new QTimer;
    watcher_->setInterval(0);
    QObject::connect(watcher_, &QTimer::timeout, watcher_, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        watcher_->stop();
        credits_.seen = true;
        credits_.caption = box->windowTitle();
        credits_.text = box->text();
        credits_.buttons = static_cast<int>(box->buttons().size());
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        credits_.okButton = ok != nullptr;
        credits_.mainWindowGone = platform::qt::MainWindowWidget() == nullptr;
        if (ok != nullptr) {
            QTest::mouseClick(ok, Qt::LeftButton);
        } else {
            box->done(0);
        }
    });
    watcher_->start();
}

QWidget* Widget(int32_t control) {
    QWidget* widget = platform::qt::ControlWidget(control);
    if (widget == nullptr) {
        ADD_FAILURE() << "no control " << control;
    }
    return widget;
}

void MoveMouseAway() {
    // The bottom-right corner of the client area belongs to no control.
    if (QWindow* window = NativeWindow()) {
        QTest::mouseMove(window, QPoint(window->width() - 1, window->height() - 1));
    }
}

void Click(int32_t control) {
    QWidget* widget = Widget(control);
    if (widget == nullptr || NativeWindow() == nullptr) {
        return;
    }
    QTest::mouseClick(NativeWindow(), Qt::LeftButton, Qt::NoModifier,
                      InWindow(widget, widget->rect().center()));
}

void ClickLine(int32_t list, int row) {
    if (NativeWindow() != nullptr) {
        QTest::mouseClick(NativeWindow(), Qt::LeftButton, Qt::NoModifier, LineCentre(list, row));
    }
}

void DoubleClickLine(int32_t list, int row) {
    if (NativeWindow() != nullptr) {
        QTest::mouseDClick(NativeWindow(), Qt::LeftButton, Qt::NoModifier, LineCentre(list, row));
    }
}

void Press(int key, int modifiers) {
    if (QWindow* window = NativeWindow()) {
        QTest::keyClick(window, static_cast<Qt::Key>(key),
                        Qt::KeyboardModifiers(static_cast<Qt::KeyboardModifier>(modifiers)));
    }
}

void CloseBox() {
    if (QWindow* window = NativeWindow()) {
        window->close();
    }
}

std::vector<std::string> Lines(int32_t list) {
    std::vector<std::string> lines;
    if (QListWidget* widget = List(list)) {
        for (int row = 0; row < widget->count(); ++row) {
            lines.push_back(QFile::encodeName(widget->item(row)->text()).toStdString());
        }
    }
    return lines;
}

std::string Caption(int32_t control) {
    QWidget* widget = Widget(control);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text().toStdString();
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        return button->text().toStdString();
    }
    return {};
}

bool Enabled(int32_t control) {
    QWidget* widget = Widget(control);
    return widget != nullptr && widget->isEnabled();
}

int32_t FocusedControl() {
    QWidget* window = platform::qt::MainWindowWidget();
    return window != nullptr ? platform::qt::IdentifierOf(window->focusWidget()) : -1;
}

Tree::Tree() {
    EXPECT_TRUE(dir_.isValid());
}

void Tree::Write(const QString& relative, const QByteArray& content) const {
    QString path = Path(relative);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(content), content.size());
}

bool Tree::Exists(const QString& relative) const {
    return QFileInfo::exists(Path(relative));
}

}  // namespace qt_test
