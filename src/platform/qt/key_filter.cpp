#include "platform/qt/key_filter.h"

#include <QKeyEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/qt/backend.h"

namespace platform::qt {

namespace {

bool IsCandidate(const Control& control) {
    bool tabStop = control.kind == ControlKind::PushButton || control.kind == ControlKind::List;
    return tabStop && !control.widget.isNull() && control.widget->isEnabled() &&
           control.widget->isVisible();
}

// Tab and Shift+Tab: the next or previous enabled tab stop in creation order, wrapping.
void MoveFocus(bool forward) {
    Backend& backend = State();
    if (backend.window.isNull()) {
        return;
    }
    std::vector<const Control*> candidates;
    for (const Control& control : backend.controls) {
        if (IsCandidate(control)) {
            candidates.push_back(&control);
        }
    }
    if (candidates.empty()) {
        return;
    }
    const Control* focused = OwnerOf(backend.window->focusWidget());
    const Control* target = nullptr;
    if (focused == nullptr) {
        target = forward ? candidates.front() : candidates.back();
    } else {
        auto at = std::find(candidates.begin(), candidates.end(), focused);
        if (at == candidates.end()) {
            // A focused control that cannot take the focus by Tab: only Shift+Tab leaves it.
            target = forward ? nullptr : candidates.back();
        } else if (forward) {
            target = std::next(at) == candidates.end() ? candidates.front() : *std::next(at);
        } else {
            target = at == candidates.begin() ? candidates.back() : *std::prev(at);
        }
    }
    if (target != nullptr) {
        target->widget->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    }
}

}  // namespace

bool KeyFilter::eventFilter(QObject* watched, QEvent* event) {
    QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) {
        return false;
    }
    if (!InMainWindow(watched)) {
        return false;
    }
    const auto* key = static_cast<const QKeyEvent*>(event);
    Qt::KeyboardModifiers held = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                     Qt::AltModifier | Qt::MetaModifier);
    bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    if (tab && (held & ~Qt::ShiftModifier) == Qt::NoModifier) {
        bool backward = key->key() == Qt::Key_Backtab || held == Qt::ShiftModifier;
        if (type == QEvent::KeyPress) {
            MoveFocus(!backward);
        }
        return true;
    }
    if (key->key() == Qt::Key_F4 && held == Qt::AltModifier) {
        if (type == QEvent::KeyPress && !key->isAutoRepeat()) {
            RaiseCloseEvent();
        }
        return true;
    }
    return false;
}

bool KeyFilter::InMainWindow(const QObject* watched) {
    MainWindow* window = State().window.data();
    if (window == nullptr) {
        return false;
    }
    if (watched->isWidgetType()) {
        return static_cast<const QWidget*>(watched)->window() == window;
    }
    return watched->isWindowType() && watched == window->windowHandle();
}

}  // namespace platform::qt
