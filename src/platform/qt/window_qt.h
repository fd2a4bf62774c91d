// What the Qt backend of platform/window.h offers its own parts beyond that header. (The tests'
// access to its widgets is in test_hooks.h.)
#pragma once

#include <QPoint>
#include <QSize>

namespace platform::qt {

// The top-left corner of a window of `outer` size centred on a screen of `screen` size, every
// halving rounded down as an arithmetic shift does.
QPoint CentredOrigin(QSize screen, QSize outer);

}  // namespace platform::qt
