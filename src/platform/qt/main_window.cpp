#include "platform/qt/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include "platform/qt/backend.h"
#include "platform/qt/window_qt.h"

namespace platform {

MainWindow::MainWindow(int32_t windowNumber, bool centreOnScreen)
    : number(windowNumber), centred(centreOnScreen) {}

void MainWindow::Centre() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
    placedWithFrame = frame;
    QSize outer(width() + frame.left() + frame.right(), height() + frame.top() + frame.bottom());
    move(screen->geometry().topLeft() + qt::CentredOrigin(screen->geometry().size(), outer));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing ends the program's loop, which then destroys the window itself.
    event->ignore();
    qt::RaiseCloseEvent();
}

// The focus moves only by the Tab rule of this backend. Returning true without moving also
// keeps the focus on a control that gets disabled, as Windows does.
bool MainWindow::focusNextPrevChild(bool) {
    return true;
}

bool MainWindow::event(QEvent* event) {
    // A window manager adds its frame only after the window is mapped; centre once more when
    // its size becomes known.
    QEvent::Type type = event->type();
    if (centred &&
        (type == QEvent::Move || type == QEvent::Show || type == QEvent::WindowActivate) &&
        windowHandle() != nullptr && windowHandle()->frameMargins() != placedWithFrame) {
        centred = false;
        Centre();
    }
    return QWidget::event(event);
}

}  // namespace platform
