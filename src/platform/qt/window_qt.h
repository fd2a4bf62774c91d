// What the Qt backend of platform/window.h offers beyond that header: access to its widgets, for
// the tests (their hooks are in test_hooks.h) and for the window's own parts.
#pragma once

#include <cstdint>

#include <QPoint>
#include <QSize>

class QWidget;

namespace platform::qt {

// The open main window, or nullptr before it is made and after CloseMainWindow.
QWidget* MainWindowWidget();

// The widget of control `identifier`, or nullptr when there is no such control.
QWidget* ControlWidget(int32_t identifier);

// The identifier of the control whose widget is `widget` or holds it; -1 for none.
int32_t IdentifierOf(const QWidget* widget);

// The top-left corner of a window of `outer` size centred on a screen of `screen` size, every
// halving rounded down as an arithmetic shift does.
QPoint CentredOrigin(QSize screen, QSize outer);

}  // namespace platform::qt
