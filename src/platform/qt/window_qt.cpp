// The windowing operations on Qt 6 Widgets. The window must behave as the Windows program
// does, so a few things Qt would do on its own are done here instead: the Tab focus cycle
// (key_filter), the one-event-per-pass wait, and lists that report only what the user did
// (list_control).
#include "platform/qt/window_qt.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <string>
#include <utility>

#include "platform/qt/backend.h"
#include "platform/qt/key_filter.h"
#include "platform/qt/list_control.h"
#include "platform/qt/main_window.h"
#include "platform/qt/progress_control.h"
#ifdef TWINRAKE_TEST_HOOKS
#include "platform/qt/test_hooks.h"
#endif
#include "platform/window.h"

namespace platform {

using qt::Backend;
using qt::Control;
using qt::Find;
using qt::FindAs;
using qt::FindBar;
using qt::FindList;
using qt::KeyFilter;
using qt::ListControl;
using qt::ProgressControl;
using qt::RaiseControlEvent;
using qt::State;

namespace {

// The Win32 style bits whose meaning a top-level window honours.
constexpr uint32_t kStyleVisible = 0x10000000;
constexpr uint32_t kStyleCaption = 0x00C00000;
constexpr uint32_t kStyleSystemMenu = 0x00080000;
constexpr uint32_t kStyleSizingFrame = 0x00040000;
constexpr uint32_t kStyleMinimiseBox = 0x00020000;
constexpr uint32_t kStyleMaximiseBox = 0x00010000;

// What the wait returns for a pass that brought no event.
constexpr int32_t kNoEvent = 0;

// A small sans-serif face like the one the Windows controls use, so that the captions fit
// their 20- and 24-pixel boxes.
QFont ControlFont() {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

Qt::WindowFlags FlagsForStyle(uint32_t style) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if ((style & kStyleCaption) == kStyleCaption) {
        flags |= Qt::WindowTitleHint;
    } else {
        flags |= Qt::FramelessWindowHint;
    }
    if ((style & kStyleSystemMenu) != 0) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if ((style & kStyleMinimiseBox) != 0) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    if ((style & kStyleMaximiseBox) != 0) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    return flags;
}

bool HaveApplication() {
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

#ifdef TWINRAKE_TEST_HOOKS
test::FolderAnswer& FolderAnswerHook() {
    static test::FolderAnswer hook;
    return hook;
}
std::function<void()>& BeforeWaitHook() {
    static std::function<void()> hook;
    return hook;
}
#endif

}  // namespace

MainWindow* CreateMainWindow(int32_t number, int32_t clientWidth, int32_t clientHeight,
                             uint32_t style, bool centred, const std::string& title) {
    Backend& backend = State();
    if (!HaveApplication() || !backend.window.isNull() || clientWidth <= 0 || clientHeight <= 0) {
        return nullptr;
    }
    auto* window = new MainWindow(number, centred);
    window->setWindowFlags(FlagsForStyle(style));
    window->setWindowTitle(QString::fromUtf8(title));
    window->setFont(ControlFont());
    window->setFocusPolicy(Qt::NoFocus);
    if ((style & kStyleSizingFrame) != 0) {
        window->resize(clientWidth, clientHeight);
    } else {
        window->setFixedSize(clientWidth, clientHeight);
    }
    if (centred) {
        window->winId();  // makes the native window, whose frame margins centring needs
        window->Centre();
    }
    backend.window = window;
    backend.controls.clear();
    backend.pending.clear();
    backend.latestControl = -1;
    if (backend.keyFilter == nullptr) {
        backend.keyFilter = new KeyFilter;
        qApp->installEventFilter(backend.keyFilter);
    }
    if ((style & kStyleVisible) != 0) {
        window->show();
    }
    // The window itself holds the focus at first: no control is focused until the user
    // moves there.
    window->setFocus(Qt::OtherFocusReason);
    return window;
}

bool SetControlParent(MainWindow* window) {
    if (window == nullptr || window != State().window.data()) {
        return false;
    }
    State().controlParent = window;
    return true;
}

void CreateControl(int32_t identifier, ControlKind kind, const Box& box, const char* caption,
                   int32_t rangeMin, int32_t rangeMax) {
    Backend& backend = State();
    QWidget* parent = backend.controlParent.data();
    if (parent == nullptr || Find(identifier) != nullptr) {
        return;
    }
    QString text = caption != nullptr ? QString::fromUtf8(caption) : QString();
    QWidget* widget = nullptr;
    switch (kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, parent);
            // Enter and Escape do nothing: no button is a default button.
            button->setAutoDefault(false);
            button->setDefault(false);
            button->setFocusPolicy(Qt::StrongFocus);
            QObject::connect(button, &QPushButton::clicked, button,
                             [identifier] { RaiseControlEvent(identifier); });
            widget = button;
            break;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(text, parent);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setFocusPolicy(Qt::NoFocus);
            widget = label;
            break;
        }
        case ControlKind::List: {
            auto* list = new ListControl(parent, identifier);
            list->setFocusPolicy(Qt::StrongFocus);
            widget = list;
            break;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new ProgressControl(parent);
            bar->setRange(rangeMin, std::max(rangeMin, rangeMax));
            bar->setValue(rangeMin);
            widget = bar;
            break;
        }
    }
    widget->setGeometry(box.x, box.y, box.width, box.height);
    if (kind != ControlKind::ProgressBar) {
        widget->setFont(ControlFont());
    }
    widget->show();
    backend.controls.push_back(Control{identifier, kind, widget});
}

int32_t WaitForEvent() {
    Backend& backend = State();
    if (!HaveApplication()) {
        return kEventClose;
    }
    if (backend.pending.empty()) {
#ifdef TWINRAKE_TEST_HOOKS
        if (BeforeWaitHook()) {
            BeforeWaitHook()();
        }
#endif
        if (backend.keptAlive) {
            // What KeepWindowAlive held back stays with Qt's X connection until its event
            // source runs again, which only news from the server or a posted event starts:
            // start it now, or a click made during the command might wait for the next move
            // of the mouse.
            backend.keptAlive = false;
            QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
            if (dispatcher != nullptr) {
                dispatcher->wakeUp();
            }
        }
        // Outside a running event loop Qt leaves objects scheduled for deletion alone.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    if (backend.pending.empty()) {
        return kNoEvent;
    }
    int32_t next = backend.pending.front();
    backend.pending.pop_front();
    if (next == qt::kCloseRequest) {
        return kEventClose;
    }
    backend.latestControl = next;
    return kEventControl;
}

int32_t ControlIdentifier() {
    return State().latestControl;
}

void AppendLine(int32_t list, const std::string& text) {
    LineBatch line;
    line.Add(text.c_str());  // the line ends at its first NUL, as a C string does
    AppendLines(list, std::move(line));
}

void AppendLines(int32_t list, LineBatch lines) {
    if (ListControl* control = FindList(list)) {
        control->ByProgram([&] { control->Lines().Append(std::move(lines)); });
    }
}

void ClearLines(int32_t list) {
    if (ListControl* control = FindList(list)) {
        control->ByProgram([&] { control->Lines().Clear(); });
    }
}

void RemoveLine(int32_t list, int32_t index) {
    ListControl* control = FindList(list);
    if (control == nullptr || index < 0 || index >= control->count()) {
        return;
    }
    control->ByProgram([&] {
        // Removing the selected line leaves none selected, where Qt would select a neighbour.
        bool selected = control->Selected() == index;
        control->Lines().Remove(index);
        if (selected) {
            control->selectionModel()->clear();
        }
    });
}

int32_t CountLines(int32_t list) {
    ListControl* control = FindList(list);
    return control != nullptr ? control->count() : 0;
}

int32_t SelectedIndex(int32_t list) {
    ListControl* control = FindList(list);
    return control != nullptr ? control->Selected() : -1;
}

void SelectLine(int32_t list, int32_t index) {
    ListControl* control = FindList(list);
    if (control == nullptr) {
        return;
    }
    control->ByProgram([&] {
        if (index >= 0 && index < control->count()) {
            control->selectionModel()->setCurrentIndex(control->model()->index(index, 0),
                                                       QItemSelectionModel::ClearAndSelect);
        } else {
            control->selectionModel()->clear();
        }
    });
}

void SetControlText(int32_t control, const std::string& text) {
    if (auto* button = FindAs<QPushButton>(control)) {
        button->setText(QString::fromUtf8(text));
    } else if (auto* label = FindAs<QLabel>(control)) {
        label->setText(QString::fromUtf8(text));
    }
}

void EnableControl(int32_t control, bool disabled) {
    if (Control* found = Find(control)) {
        found->widget->setEnabled(!disabled);
    }
}

void SetProgress(int32_t bar, int32_t percent) {
    ProgressControl* progress = FindBar(bar);
    if (progress == nullptr) {
        return;
    }
    int value = std::clamp(percent, progress->minimum(), progress->maximum());
    if (value == progress->value()) {
        return;
    }
    // The search runs without taking events, so the bar must paint now. QProgressBar
    // repaints by itself when it deems the change visible; a second paint would only cost
    // another trip to the display, which thousands of small files make up to seconds.
    int64_t paints = progress->Paints();
    progress->setValue(value);
    if (progress->Paints() == paints) {
        progress->repaint();
    }
}

void KeepWindowAlive() {
    if (!HaveApplication()) {
        return;
    }
    // Paint, exposure and the window manager's messages (its pings among them), never a key
    // or a click: Qt's X connection holds those, and the close box's WM_DELETE_WINDOW with
    // them, in their order, for the next wait. Whatever raises an event meanwhile only queues
    // it in `pending`; no command runs from here.
    State().keptAlive = true;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

std::string PickFolder(const std::string& title, const std::string& initialFolder) {
    if (!HaveApplication()) {
        return {};
    }
    QString caption = QString::fromUtf8(title);
    QString initial = QFile::decodeName(initialFolder.c_str());
    QString chosen;
#ifdef TWINRAKE_TEST_HOOKS
    if (FolderAnswerHook()) {
        chosen = FolderAnswerHook()(caption, initial);
    } else
#endif
    {
        chosen = QFileDialog::getExistingDirectory(State().window.data(), caption,
                                                   initial.isEmpty() ? QDir::homePath() : initial,
                                                   QFileDialog::ShowDirsOnly);
    }
    if (chosen.isEmpty()) {
        return {};
    }
    std::string folder = QFile::encodeName(chosen).toStdString();
    if (folder.back() != '/') {
        folder.push_back('/');
    }
    return folder;
}

void ShowMessageBox(const std::string& caption, const std::string& text, uint32_t) {
    if (!HaveApplication()) {
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption), QString::fromUtf8(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void CloseMainWindow(int32_t number) {
    Backend& backend = State();
    if (backend.window.isNull() || backend.window->number != number) {
        return;
    }
    delete backend.window.data();
    backend.controls.clear();
    backend.controlParent = nullptr;
    backend.pending.clear();
}

namespace qt {

#ifdef TWINRAKE_TEST_HOOKS
QWidget* MainWindowWidget() {
    return State().window.data();
}

QWidget* ControlWidget(int32_t identifier) {
    Control* control = Find(identifier);
    return control != nullptr ? control->widget.data() : nullptr;
}

int32_t IdentifierOf(const QWidget* widget) {
    const Control* control = OwnerOf(widget);
    return control != nullptr ? control->identifier : -1;
}
#endif

QPoint CentredOrigin(QSize screen, QSize outer) {
    return QPoint((screen.width() >> 1) - (outer.width() >> 1),
                  (screen.height() >> 1) - (outer.height() >> 1));
}

}  // namespace qt

#ifdef TWINRAKE_TEST_HOOKS
namespace test {

void SetFolderAnswer(FolderAnswer answer) {
    FolderAnswerHook() = std::move(answer);
}

void SetBeforeWait(std::function<void()> hook) {
    BeforeWaitHook() = std::move(hook);
}

}  // namespace test
#endif

}  // namespace platform
