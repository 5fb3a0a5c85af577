#include "gui/BufferGridModel.h"

#include <QColor>

namespace tondrel::gui {

BufferGridModel::BufferGridModel(std::function<const std::vector<uint8_t>*()> buffer,
                                 QObject* parent)
    : QAbstractTableModel(parent), buffer_(std::move(buffer)) {}

void BufferGridModel::Refresh() {
    beginResetModel();
    const auto* b = buffer_();
    rows_ = b && !b->empty() ? GridRowCount(b->size(), mode_) : 0;
    endResetModel();
}

int BufferGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int BufferGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() || rows_ == 0 ? 0 : GridColumnCount;
}

QVariant BufferGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int row = index.row();
    const int column = index.column();
    if (role == Qt::TextAlignmentRole && column >= 1 && column < GridAsciiColumn)
        return int(Qt::AlignCenter);
    if (role == Qt::BackgroundRole && (row == 0 || column == 0)) return QColor(0xF0, 0xF0, 0xF0);
    if (role != Qt::DisplayRole) return {};
    const auto* b = buffer_();
    if (!b) return {};
    if (row == 0) return QString::fromStdString(HeaderText(column));
    if (column == 0) return QString::fromStdString(RowHeader(row));
    if (column == GridAsciiColumn) return QString::fromStdString(AsciiText(*b, mode_, row));
    return QString::fromStdString(CellText(*b, mode_, row, column));
}

}  // namespace tondrel::gui
