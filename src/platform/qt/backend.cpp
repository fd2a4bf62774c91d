#include "platform/qt/backend.h"

#include "platform/qt/list_control.h"
#include "platform/qt/progress_control.h"

namespace platform::qt {

Backend& State() {
    static Backend backend;
    return backend;
}

void RaiseControlEvent(int32_t identifier) {
    State().pending.push_back(identifier);
}

void RaiseCloseEvent() {
    State().pending.push_back(kCloseRequest);
}

Control* Find(int32_t identifier) {
    for (Control& control : State().controls) {
        if (control.identifier == identifier && !control.widget.isNull()) {
            return &control;
        }
    }
    return nullptr;
}

ListControl* FindList(int32_t identifier) {
    Control* control = Find(identifier);
    if (control == nullptr || control->kind != ControlKind::List) {
        return nullptr;
    }
    return static_cast<ListControl*>(control->widget.data());
}

ProgressControl* FindBar(int32_t identifier) {
    Control* control = Find(identifier);
    if (control == nullptr || control->kind != ControlKind::ProgressBar) {
        return nullptr;
    }
    return static_cast<ProgressControl*>(control->widget.data());
}

const Control* OwnerOf(const QWidget* widget) {
    for (const QWidget* at = widget; at != nullptr; at = at->parentWidget()) {
        for (const Control& control : State().controls) {
            if (control.widget == at) {
                return &control;
            }
        }
    }
    return nullptr;
}

}  // namespace platform::qt
