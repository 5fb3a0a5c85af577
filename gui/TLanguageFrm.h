#pragma once
// The first-start language question. Only its two entries can be chosen, so the program always
// leaves it with a language; closing it without OK keeps the entry shown.
#include <QDialog>

class QComboBox;

namespace tondrel::gui {

class TLanguageFrm : public QDialog {
    Q_OBJECT

  public:
    explicit TLanguageFrm(QWidget* parent = nullptr);
    // 1 English, 2 Chinese: the chosen entry's index + 1.
    int LanguageCode() const;

  private:
    QComboBox* combo_ = nullptr;
};

}  // namespace tondrel::gui
