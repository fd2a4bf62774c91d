// What the Qt backend keeps between calls: the main window, its controls in creation order and
// the events raised but not yet taken by the wait. One backend per process, used from the
// thread that made the QApplication.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/qt/main_window.h"
#include "platform/window.h"

namespace platform::qt {

class KeyFilter;
class ListControl;
class ProgressControl;

struct Control {
    int32_t identifier = 0;
    ControlKind kind = ControlKind::Label;
    QPointer<QWidget> widget;
};

// What `pending` holds for a close request; controls have identifiers of 0 and up.
inline constexpr int32_t kCloseRequest = -1;

struct Backend {
    QPointer<MainWindow> window;
    QPointer<QWidget> controlParent;
    std::vector<Control> controls;  // in creation order
    std::deque<int32_t> pending;    // control identifiers, or kCloseRequest
    int32_t latestControl = -1;
    KeyFilter* keyFilter = nullptr;
    bool keptAlive = false;  // KeepWindowAlive ran since the latest wait for events
};

Backend& State();

// Queue an event for the wait to take, in the order raised.
void RaiseControlEvent(int32_t identifier);
void RaiseCloseEvent();

// The control `identifier` while its widget lives, else nullptr.
Control* Find(int32_t identifier);

template <typename Widget>
Widget* FindAs(int32_t identifier) {
    Control* control = Find(identifier);
    return control != nullptr ? qobject_cast<Widget*>(control->widget.data()) : nullptr;
}

// The list or progress bar `identifier`; nullptr when it is none or of another kind.
ListControl* FindList(int32_t identifier);
ProgressControl* FindBar(int32_t identifier);

// The control that holds `widget`, or nullptr when it is none of them (the window itself).
const Control* OwnerOf(const QWidget* widget);

}  // namespace platform::qt
