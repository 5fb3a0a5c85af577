#include "gui/BufferGridModel.h"

#include <QColor>

namespace tondrel::gui {

BufferGridModel::BufferGridModel(std::function<const std::vector<uint8_t>*()> buffer,
                                 QObject* parent)
    : QAbstractTableModel(parent), buffer_(std::move(buffer)) {}

void BufferGridModel::Refresh() {
    beginResetModel();
    const auto* b = buffer_();
    rows_ = b && !b->empty() ? DataRowCount(b->size(), mode_) : 0;
    endResetModel();
}

int BufferGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int BufferGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() || rows_ == 0 ? 0 : GridColumnCount - 1;
}

QVariant BufferGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int row = index.row() + 1;
    const int column = index.column() + 1;
    if (role == Qt::TextAlignmentRole && column < GridAsciiColumn) return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole) return {};
    const auto* b = buffer_();
    if (!b) return {};
    if (column == GridAsciiColumn) return QString::fromStdString(AsciiText(*b, mode_, row));
    return QString::fromStdString(CellText(*b, mode_, row, column));
}

QVariant BufferGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return QString::fromStdString(HeaderText(section + 1));
    return QString::fromStdString(RowHeader(section + 1));
}

}  // namespace tondrel::gui
