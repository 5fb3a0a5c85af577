#pragma once
// The byte (word) editor of a grid cell: hex digits only, stored on OK or Enter.
#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "data/GridText.h"

class QLineEdit;

namespace tondrel::gui {

class TModifyDataFrm : public QDialog {
    Q_OBJECT

  public:
    // side picks the object name: TModifyFlashDataFrm or TModifyEEPROMDataFrm.
    // `store` takes what the editor holds when it is accepted; a cancel stores nothing.
    TModifyDataFrm(const std::vector<uint8_t>& buffer, Memory side, GridMode mode, int32_t position,
                   Language lang, std::function<void(const std::string&)> store, QWidget* parent);
    QLineEdit* Editor() { return edit_; }

  protected:
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void(const std::string&)> store_;
    QLineEdit* edit_ = nullptr;
};

}  // namespace tondrel::gui
