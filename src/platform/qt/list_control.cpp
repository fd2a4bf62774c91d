#include "platform/qt/list_control.h"

#include <QScrollBar>

#include "platform/qt/backend.h"

namespace platform::qt {

ListControl::ListControl(QWidget* parent, int32_t identifier)
    : QListView(parent), lines_(new LineModel(this)) {
    setModel(lines_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, identifier] {
        if (!changedByProgram_) {
            RaiseControlEvent(identifier);
        }
    });
    connect(this, &QAbstractItemView::doubleClicked, this,
            [identifier](const QModelIndex&) { RaiseControlEvent(identifier); });
}

int32_t ListControl::Selected() const {
    QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ListControl::focusInEvent(QFocusEvent* event) {
    QListView::focusInEvent(event);
    DropCurrentWithoutSelection();
}

QModelIndex ListControl::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    // One column: Left and Right step like Up and Down, and the first step in a list without a
    // selected line lands on the first line.
    if (action == MoveLeft) {
        action = MoveUp;
    } else if (action == MoveRight) {
        action = MoveDown;
    }
    if ((action == MoveUp || action == MoveDown) && Selected() < 0 && count() > 0) {
        return model()->index(0, 0);
    }
    return QListView::moveCursor(action, modifiers);
}

QItemSelectionModel::SelectionFlags ListControl::selectionCommand(const QModelIndex& index,
                                                                  const QEvent* event) const {
    // The user moves the selection but cannot take it away: a click below the last line or a
    // Ctrl+click on the selected line changes nothing.
    if (!index.isValid()) {
        return QItemSelectionModel::NoUpdate;
    }
    QItemSelectionModel::SelectionFlags flags = QListView::selectionCommand(index, event);
    if (flags.testFlag(QItemSelectionModel::Deselect)) {
        return QItemSelectionModel::NoUpdate;
    }
    return flags;
}

void ListControl::updateGeometries() {
    // Lines wider than the list are cut at its right edge; nothing scrolls sideways.
    QListView::updateGeometries();
    horizontalScrollBar()->setRange(0, 0);
}

void ListControl::DropCurrentWithoutSelection() {
    if (Selected() < 0 && currentIndex().isValid()) {
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
}

}  // namespace platform::qt
