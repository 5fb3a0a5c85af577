#include "gui/SerialDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/Status.h"
#include "common/Text.h"
#include "data/SerialField.h"

namespace tondrel::gui {

namespace {

QString Tr(const char* key, Language lang) {
    return QString::fromStdString(Msg(key).Text(lang));
}

}  // namespace

SerialDialog::SerialDialog(QWidget* parent, const SerialChoice& current, Language lang)
    : QDialog(parent), lang_(lang) {
    setObjectName("SerialDialog");
    setWindowTitle(Tr("Gui.SerialTitle", lang));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    field_ = new QLineEdit(QString::fromStdString(current.Field), this);
    field_->setObjectName("SerialField");
    field_->setPlaceholderText("eeprom:0x1F0:4:big");
    start_ = new QLineEdit(QString::number(current.Start), this);
    start_->setObjectName("SerialStart");
    step_ = new QLineEdit(QString::number(current.Step), this);
    step_->setObjectName("SerialStep");
    form->addRow(Tr("Gui.SerialFieldLabel", lang), field_);
    form->addRow(Tr("Gui.SerialStartLabel", lang), start_);
    form->addRow(Tr("Gui.SerialStepLabel", lang), step_);
    layout->addLayout(form);
    auto* help = new QLabel(Tr("Gui.SerialHelp", lang), this);
    help->setWordWrap(true);
    layout->addWidget(help);
    problem_ = new QLabel(this);
    problem_->setObjectName("SerialProblem");
    layout->addWidget(problem_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QLineEdit* edit : {field_, start_, step_})
        connect(edit, &QLineEdit::textChanged, this, &SerialDialog::Check);
    Check();
}

std::optional<SerialChoice> SerialDialog::Choice() const {
    SerialChoice choice;
    choice.Field = field_->text().trimmed().toStdString();
    const auto start = ParseNumber(start_->text().trimmed().toStdString(),
                                   NumberStyle::DecimalOrHex, 0, INT64_MAX / 2);
    const auto step = ParseNumber(step_->text().trimmed().toStdString(), NumberStyle::DecimalOrHex,
                                  1, INT64_MAX / 2);
    if (!start || !step) return std::nullopt;
    if (!choice.Field.empty() && !ParseSerialField(choice.Field)) return std::nullopt;
    choice.Start = *start;
    choice.Step = *step;
    return choice;
}

void SerialDialog::Check() {
    const auto choice = Choice();
    const std::string field = field_->text().trimmed().toStdString();
    const auto parsed =
        field.empty() ? Result<SerialField>(SerialField{}) : ParseSerialField(field);
    problem_->setText(parsed ? (choice ? QString() : Tr("Gui.SerialBadNumber", lang_))
                             : QString::fromStdString(parsed.Error().Text(lang_)));
    findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->setEnabled(choice.has_value());
}

}  // namespace tondrel::gui
