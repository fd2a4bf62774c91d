#include "platform/qt/line_model.h"

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <utility>

namespace platform::qt {

int LineModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count_;
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
    for (size_t at = base; at < text_.size(); at = text_.find('\0', at) + 1) {
        if (count_++ % kMarkEvery == 0) {
            marks_.push_back(at);
        }
    }
    endInsertRows();
}

void LineModel::Remove(int row) {
    beginRemoveRows(QModelIndex(), row, row);
    const size_t begin = StartOf(row);
    const size_t length = Line(row).size() + 1;
    // Every mark from the removed line on now belongs to the line after the one it marked.
    for (size_t k = static_cast<size_t>(row / kMarkEvery); k < marks_.size(); ++k) {
        if (marks_[k] >= begin) {
            marks_[k] = text_.find('\0', marks_[k]) + 1 - length;
        }
    }
    text_.erase(begin, length);
    --count_;
    if (!marks_.empty() && (marks_.size() - 1) * kMarkEvery >= static_cast<size_t>(count_)) {
        marks_.pop_back();  // it marked the line after the last
    }
    endRemoveRows();
}

void LineModel::Clear() {
    beginResetModel();
    std::string().swap(text_);
    std::vector<size_t>().swap(marks_);
    count_ = 0;
    endResetModel();
}

size_t LineModel::StartOf(int row) const {
    size_t at = marks_[static_cast<size_t>(row / kMarkEvery)];
    for (int k = row % kMarkEvery; k > 0; --k) {
        at = text_.find('\0', at) + 1;
    }
    return at;
}

std::string_view LineModel::Line(int row) const {
    const size_t begin = StartOf(row);
    return std::string_view(text_).substr(begin, text_.find('\0', begin) - begin);
}

}  // namespace platform::qt
