#pragma once
// The chip dialog: the catalogue by name, narrowed by a name fragment or a family, and the
// choice of one chip without touching the target.
#include <QDialog>
#include <optional>
#include <vector>

#include "common/ChipRecord.h"
#include "db/Database.h"

class QLineEdit;
class QListWidget;
class QTableWidget;

namespace tondrel::gui {

class TchipManageFrm : public QDialog {
    Q_OBJECT

  public:
    TchipManageFrm(db::Database& database, QWidget* parent, Language lang = Language::Chinese);
    // The chip chosen with "选定"; nothing when the dialog was closed without a choice.
    const std::optional<ChipRecord>& Chosen() const { return chosen_; }
    int ListedCount() const;
    std::vector<std::string> ListedNames() const;

  public slots:
    void ListChipCatClick();
    void edtChipNameChange(const QString& text);
    void Button1Click();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Show(Result<std::vector<ChipRecord>> chips);
    db::Database& db_;
    Language lang_;
    std::vector<ChipRecord> rows_;
    std::optional<ChipRecord> chosen_;
    QTableWidget* grid_ = nullptr;
    QLineEdit* name_ = nullptr;
    QListWidget* categories_ = nullptr;
};

}  // namespace tondrel::gui
