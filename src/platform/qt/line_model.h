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
    std::string text_;
    std::vector<size_t> starts_;
};

}  // namespace platform::qt
