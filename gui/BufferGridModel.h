#pragma once
// A buffer as the grid shows it: 16 data cells and the ASCII column per row, byte or word
// cells; the 0…F legend and the row addresses are the view's own headers, so they stay in
// sight while the grid scrolls. Model row r, column c is grid cell (r + 1, c + 1). Texts come from
// the data layer's grid helpers, computed per visible cell, so a 128 KiB buffer appears at once.
#include <QAbstractTableModel>
#include <cstdint>
#include <functional>
#include <vector>

#include "data/GridText.h"

namespace tondrel::gui {

class BufferGridModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    // buffer() gives the current buffer (it may be re-created between refreshes).
    BufferGridModel(std::function<const std::vector<uint8_t>*()> buffer, QObject* parent);

    void SetMode(GridMode mode) { mode_ = mode; }
    GridMode Mode() const { return mode_; }
    // The buffer changed as a whole (loaded, read back, re-created).
    void Refresh();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    std::function<const std::vector<uint8_t>*()> buffer_;
    GridMode mode_ = GridMode::Byte;
    int32_t rows_ = 0;
};

}  // namespace tondrel::gui
