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

namespace tondrel::gui {

TchipManageFrm::TchipManageFrm(db::Database& database, QWidget* parent)
    : QDialog(parent), db_(database) {
    setObjectName("TchipManageFrm");
    setWindowTitle(QString::fromUtf8("芯片选择管理"));
    auto* outer = new QHBoxLayout(this);

    grid_ = new QTableWidget(this);
    grid_->setObjectName("DBGrid1");
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->verticalHeader()->hide();
    grid_->horizontalHeader()->setMinimumSectionSize(1);
    outer->addWidget(grid_, 1);

    auto* side = new QVBoxLayout;
    auto* byName = new QGroupBox(QString::fromUtf8("芯片名称查找"), this);
    byName->setObjectName("GroupBox1");
    auto* byNameLayout = new QVBoxLayout(byName);
    name_ = new QLineEdit(byName);
    name_->setObjectName("edtChipName");
    connect(name_, &QLineEdit::textChanged, this, &TchipManageFrm::edtChipNameChange);
    byNameLayout->addWidget(name_);
    side->addWidget(byName);

    auto* byFamily = new QGroupBox(QString::fromUtf8("芯片分类查找"), this);
    byFamily->setObjectName("GroupBox2");
    auto* byFamilyLayout = new QVBoxLayout(byFamily);
    categories_ = new QListWidget(byFamily);
    categories_->setObjectName("ListChipCat");
    for (const char* entry : {"所有", "PIC", "AT89", "AT90", "ATMEGA", "ATTINY"})
        categories_->addItem(QString::fromUtf8(entry));
    connect(categories_, &QListWidget::itemClicked, this, &TchipManageFrm::ListChipCatClick);
    byFamilyLayout->addWidget(categories_);
    side->addWidget(byFamily);

    auto* choose = new QPushButton(QString::fromUtf8("选定"), this);
    choose->setObjectName("Button1");
    choose->setAutoDefault(false);
    connect(choose, &QPushButton::clicked, this, &TchipManageFrm::Button1Click);
    side->addWidget(choose);
    auto* close = new QPushButton(QString::fromUtf8("关闭"), this);
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
                             QString::fromStdString(chips.Error().Text(Language::English)));
    rows_ = chips.ValueOr({});
    // Every catalogue column is there; only the name is wide enough to read.
    const auto columns = db_.ChipColumns().ValueOr({});
    grid_->clear();
    grid_->setColumnCount(static_cast<int>(columns.size()));
    QStringList titles;
    for (const auto& c : columns) titles << QString::fromStdString(c);
    grid_->setHorizontalHeaderLabels(titles);
    grid_->setRowCount(static_cast<int>(rows_.size()));
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        const ChipRecord& c = rows_[static_cast<size_t>(r)];
        const QString cells[] = {QString::number(c.ChipId),
                                 QString::number(MethodCode(c.MethodCode)),
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
    for (int col = 0; col < grid_->columnCount(); ++col)
        grid_->setColumnWidth(col, col == 2 ? 160 : 1);
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
    Show(entry == QString::fromUtf8("所有") ? db_.ListChips()
                                            : db_.SearchChips(entry.toStdString()));
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
    // Enter in the name box neither chooses nor closes.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    QDialog::keyPressEvent(event);
}

}  // namespace tondrel::gui
