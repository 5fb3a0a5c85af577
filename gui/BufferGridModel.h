#pragma once
// A buffer as the grid shows it: 18 columns (address, 16 data cells, ASCII), a header row,
// byte or word cells. Texts come from the data layer's grid helpers, computed per visible cell,
// so a 128 KiB buffer appears at once.
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

  private:
    std::function<const std::vector<uint8_t>*()> buffer_;
    GridMode mode_ = GridMode::Byte;
    int32_t rows_ = 0;
};

}  // namespace tondrel::gui
