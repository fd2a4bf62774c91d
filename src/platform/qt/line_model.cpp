#include "platform/qt/line_model.h"

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <utility>

namespace platform::qt {

int LineModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(starts_.size());
}

QVariant LineModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    std::string_view line = Line(index.row());
    return QFile::decodeName(
        QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size())));
}

Qt::ItemFlags LineModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren
                           : Qt::NoItemFlags;
}

void LineModel::Append(LineBatch lines) {
    size_t count = std::count(lines.text.begin(), lines.text.end(), '\0');
    if (!lines.text.empty() && lines.text.back() != '\0') {
        lines.text.push_back('\0');  // the unended rest is a line too
        ++count;
    }
    if (count == 0) {
        return;
    }
    int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(count) - 1);
    size_t base = text_.size();
    if (text_.empty()) {
        text_ = std::move(lines.text);
        if (text_.capacity() - text_.size() > text_.size() / 4) {
            text_.shrink_to_fit();  // what a batch grew by beyond its lines
        }
    } else {
        text_.append(lines.text);
    }
    starts_.reserve(starts_.size() + count);
    for (size_t at = base; at < text_.size(); at = text_.find('\0', at) + 1) {
        starts_.push_back(at);
    }
    endInsertRows();
}

void LineModel::Remove(int row) {
    beginRemoveRows(QModelIndex(), row, row);
    size_t begin = starts_[static_cast<size_t>(row)];
    size_t length = Line(row).size() + 1;
    text_.erase(begin, length);
    starts_.erase(starts_.begin() + row);
    for (auto at = starts_.begin() + row; at != starts_.end(); ++at) {
        *at -= length;
    }
    endRemoveRows();
}

void LineModel::Clear() {
    beginResetModel();
    std::string().swap(text_);
    std::vector<size_t>().swap(starts_);
    endResetModel();
}

std::string_view LineModel::Line(int row) const {
    size_t at = static_cast<size_t>(row);
    size_t end = at + 1 < starts_.size() ? starts_[at + 1] : text_.size();
    return std::string_view(text_).substr(starts_[at], end - 1 - starts_[at]);
}

}  // namespace platform::qt
