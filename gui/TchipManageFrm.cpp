#include "gui/TchipManageFrm.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <iterator>

#include "common/Messages.h"

namespace tondrel::gui {

namespace {

// What a person calls the chips of a programming method.
const char* FamilyOf(Method method) {
    if (method == Method::None) return "-";
    if (IsPic(method)) return "PIC16";
    return method == Method::Avr ? "AVR" : "AT89S";
}

}  // namespace

TchipManageFrm::TchipManageFrm(db::Database& database, QWidget* parent, Language lang)
    : QDialog(parent), db_(database), lang_(lang) {
    auto text = [lang](const char* key) { return QString::fromStdString(Tr(key, lang)); };
    setObjectName("TchipManageFrm");
    setWindowTitle(text("Chip.Title"));
    auto* outer = new QHBoxLayout(this);

    grid_ = new QTableWidget(this);
    grid_->setObjectName("DBGrid1");
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->verticalHeader()->hide();
    grid_->horizontalHeader()->setMinimumSectionSize(1);
    // A double click on a row chooses it, as "选定" does.
    connect(grid_, &QTableWidget::cellDoubleClicked, this, &TchipManageFrm::Button1Click);
    outer->addWidget(grid_, 1);

    auto* side = new QVBoxLayout;
    auto* byName = new QGroupBox(text("Chip.ByName"), this);
    byName->setObjectName("GroupBox1");
    auto* byNameLayout = new QVBoxLayout(byName);
    name_ = new QLineEdit(byName);
    name_->setObjectName("edtChipName");
    connect(name_, &QLineEdit::textChanged, this, &TchipManageFrm::edtChipNameChange);
    byNameLayout->addWidget(name_);
    side->addWidget(byName);

    auto* byFamily = new QGroupBox(text("Chip.ByFamily"), this);
    byFamily->setObjectName("GroupBox2");
    auto* byFamilyLayout = new QVBoxLayout(byFamily);
    categories_ = new QListWidget(byFamily);
    categories_->setObjectName("ListChipCat");
    categories_->addItem(text("Chip.All"));  // row 0: the whole catalogue
    for (const char* entry : {"PIC", "AT89", "AT90", "ATMEGA", "ATTINY"})
        categories_->addItem(QString::fromUtf8(entry));
    connect(categories_, &QListWidget::itemClicked, this, &TchipManageFrm::ListChipCatClick);
    byFamilyLayout->addWidget(categories_);
    side->addWidget(byFamily);

    auto* choose = new QPushButton(text("Chip.Choose"), this);
    choose->setObjectName("Button1");
    choose->setAutoDefault(false);
    connect(choose, &QPushButton::clicked, this, &TchipManageFrm::Button1Click);
    side->addWidget(choose);
    auto* close = new QPushButton(text("Chip.Close"), this);
    close->setObjectName("BitBtn2");
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    side->addWidget(close);
    outer->addLayout(side);

    Show(db_.ListChips());
}

void TchipManageFrm::Show(Result<std::vector<ChipRecord>> chips) {
    if (!chips)
        QMessageBox::warning(this, windowTitle(),
                             QString::fromStdString(chips.Error().Text(lang_)));
    rows_ = chips.ValueOr({});
    // Every catalogue column is there; only the name is wide enough to read.
    const auto columns = db_.ChipColumns().ValueOr({});
    grid_->clear();
    grid_->setColumnCount(static_cast<int>(columns.size()));
    QStringList titles;
    for (const auto& c : columns) {
        // The catalogue names its columns in Chinese; English has a title of its own for each.
        std::string title = c;
        if (lang_ == Language::English)
            for (const MessageEntry& e : AllMessages())
                if (e.Chinese == c && e.Key.substr(0, 9) == "Chip.Col.") title = e.English;
        titles << QString::fromStdString(title);
    }
    grid_->setHorizontalHeaderLabels(titles);
    grid_->setRowCount(static_cast<int>(rows_.size()));
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        const ChipRecord& c = rows_[static_cast<size_t>(r)];
        const QString cells[] = {
            QString::number(c.ChipId),
            QString("%1 (%2)").arg(FamilyOf(c.MethodCode)).arg(MethodCode(c.MethodCode)),
            QString::fromStdString(c.Name),
            QString::fromStdString(c.Signature),
            QString::number(c.FlashSize),
            QString::number(c.EEPROMSize),
            QString::number(c.PageSize),
            QString::number(c.EraseDelayMs),
            QString::number(c.FlashWriteDelayUs),
            QString::number(c.EepromWriteDelayUs),
            QString::number(c.FlashReadback),
            QString::number(c.EepromReadback),
            QString::number(c.CalibrationCount)};
        constexpr int kCells = static_cast<int>(std::size(cells));
        for (int col = 0; col < grid_->columnCount() && col < kCells; ++col)
            grid_->setItem(r, col, new QTableWidgetItem(cells[col]));
    }
    // The name, the family, the signature and the two sizes are what a choice rests on; the
    // timing columns stay narrow.
    const QFontMetrics fm(grid_->font());
    for (int col = 0; col < grid_->columnCount(); ++col) {
        const bool read = col >= 1 && col <= 5;
        grid_->setColumnWidth(col, col == 2 ? 160
                                   : read   ? fm.horizontalAdvance("PIC16 (6)") + 16
                                            : 1);
    }
}

int TchipManageFrm::ListedCount() const {
    return static_cast<int>(rows_.size());
}

std::vector<std::string> TchipManageFrm::ListedNames() const {
    std::vector<std::string> names;
    for (const auto& c : rows_) names.push_back(c.Name);
    return names;
}

void TchipManageFrm::ListChipCatClick() {
    const QListWidgetItem* item = categories_->currentItem();
    if (!item) return;
    const QString entry = item->text();
    Show(categories_->currentRow() == 0 ? db_.ListChips() : db_.SearchChips(entry.toStdString()));
}

void TchipManageFrm::edtChipNameChange(const QString& text) {
    Show(db_.SearchChips(text.trimmed().toStdString()));
}

void TchipManageFrm::Button1Click() {
    // Nothing selected (an empty list, say): nothing to choose.
    const int row = grid_->currentRow();
    if (row < 0 || row >= static_cast<int>(rows_.size())) return;
    chosen_ = rows_[static_cast<size_t>(row)];
    accept();
}

void TchipManageFrm::keyPressEvent(QKeyEvent* event) {
    // Enter chooses the selected row; with none it neither chooses nor closes.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Button1Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tondrel::gui
