#include "gui/TLanguageFrm.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace tondrel::gui {

TLanguageFrm::TLanguageFrm(QWidget* parent) : QDialog(parent) {
    setObjectName("TLanguageFrm");
    setWindowTitle("settings");
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog border
    auto* group = new QGroupBox("Select Language", this);
    group->setObjectName("GroupBox1");
    auto* groupLayout = new QVBoxLayout(group);
    combo_ = new QComboBox(group);
    combo_->setObjectName("ComboBox1");
    combo_->setEditable(false);  // typed text could name no language at all
    combo_->addItem("English Version");
    combo_->addItem(QString::fromUtf8("简 体 中 文"));
    combo_->setCurrentIndex(0);
    combo_->setMinimumWidth(180);
    groupLayout->addWidget(combo_);
    layout->addWidget(group);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("BitBtn1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignCenter);
}

int TLanguageFrm::LanguageCode() const {
    return combo_->currentIndex() + 1;
}

}  // namespace tondrel::gui
