// The lines of one list, kept compactly: their bytes back to back in one buffer, each ended by
// a NUL, and where each line starts. A line becomes text only while the view asks for it, so a
// list of a million files costs little more than their names.
#pragma once

#include <QAbstractListModel>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window.h"

namespace platform::qt {

class LineModel final : public QAbstractListModel {
  public:
    explicit LineModel(QObject* parent) : QAbstractListModel(parent) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // All lines of `lines` at the end, announced to the view as one insertion.
    void Append(LineBatch lines);
    void Remove(int row);
    void Clear();

    std::string_view Line(int row) const;

  private:
    // Where every kMarkEvery-th line starts; a line between two marks is found from the one
    // before it, a few short lines on. At a million lines that keeps 0.5 MB of marks instead
    // of 8 MB of starts, and a view asks for only the few lines it shows.
    static constexpr int kMarkEvery = 16;
    size_t StartOf(int row) const;

    std::string text_;
    std::vector<size_t> marks_;
    int count_ = 0;
};

}  // namespace platform::qt
