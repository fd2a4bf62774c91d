// A list box: single selection, lines in the order appended, no horizontal scrolling, and only
// the user's selection changes and double clicks reported.
#pragma once

#include <QListView>
#include <cstdint>

#include "platform/qt/line_model.h"

namespace platform::qt {

class ListControl final : public QListView {
  public:
    ListControl(QWidget* parent, int32_t identifier);

    // Runs `change` as the program's own, which reports nothing.
    template <typename Change>
    void ByProgram(Change change) {
        bool outer = changedByProgram_;
        changedByProgram_ = true;
        change();
        DropCurrentWithoutSelection();
        changedByProgram_ = outer;
    }

    int32_t Selected() const;
    int count() const { return lines_->rowCount(); }
    LineModel& Lines() { return *lines_; }

  protected:
    void focusInEvent(QFocusEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void updateGeometries() override;

  private:
    // Qt keeps a current line apart from the selection; a list box has only the selected
    // line, so an arrow key in a list without one starts from the top.
    void DropCurrentWithoutSelection();

    LineModel* lines_;
    bool changedByProgram_ = false;
};

}  // namespace platform::qt
