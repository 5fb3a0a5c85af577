#pragma once
// The serial-number dialog: where each chip's number goes, the first number and the step.
#include <QDialog>
#include <cstdint>
#include <optional>
#include <string>

#include "common/Messages.h"

class QLineEdit;
class QLabel;

namespace tondrel::gui {

struct SerialChoice {
    std::string Field;  // "" = no serial numbers
    int64_t Start = 0;
    int64_t Step = 1;
};

class SerialDialog : public QDialog {
    Q_OBJECT
  public:
    SerialDialog(QWidget* parent, const SerialChoice& current, Language lang);
    // What was typed, once it reads as a field and two numbers; nothing while it does not.
    std::optional<SerialChoice> Choice() const;

  private:
    void Check();
    Language lang_;
    QLineEdit* field_;
    QLineEdit* start_;
    QLineEdit* step_;
    QLabel* problem_;
};

}  // namespace tondrel::gui
