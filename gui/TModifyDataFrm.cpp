#include "gui/TModifyDataFrm.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tondrel::gui {

TModifyDataFrm::TModifyDataFrm(const std::vector<uint8_t>& buffer, Memory side, GridMode mode,
                               int32_t position, Language lang,
                               std::function<void(const std::string&)> store, QWidget* parent)
    : QDialog(parent), store_(std::move(store)) {
    setObjectName(side == Memory::Flash ? "TModifyFlashDataFrm" : "TModifyEEPROMDataFrm");
    setWindowTitle(QString::fromStdString(EditorTitle(side)));
    auto* layout = new QVBoxLayout(this);
    auto* caption =
        new QLabel(QString::fromStdString(EditorCaption(side, mode, position, lang)), this);
    caption->setObjectName("Label1");
    layout->addWidget(caption);
    edit_ = new QLineEdit(QString::fromStdString(EditorText(buffer, mode, position)), this);
    edit_->setObjectName("Edit1");
    edit_->setMaxLength(EditorMaxLength(mode));
    edit_->installEventFilter(this);
    edit_->selectAll();
    layout->addWidget(edit_);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("BitBtn1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok);
}

bool TModifyDataFrm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        // Navigation and the Enter key pass; typed characters only when the editor takes them.
        if (!text.isEmpty() && text[0].isPrint() && !EditorAcceptsKey(text[0].unicode()))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TModifyDataFrm::done(int result) {
    // OK and Enter store; Escape and the close box leave the byte as it was, since a user who
    // cancels does not mean to change it.
    if (result == QDialog::Accepted && store_) store_(edit_->text().toStdString());
    QDialog::done(result);
}

}  // namespace tondrel::gui
