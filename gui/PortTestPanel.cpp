#include "gui/PortTestPanel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include "core/Session.h"

namespace tondrel::gui {

namespace {
constexpr int kOutputPins[] = {2, 3, 4, 5, 6, 7, 8, 9, 1, 14, 16, 17};
constexpr int kInputPins[] = {10, 11, 12, 13, 15};
}  // namespace

PortTestPanel::PortTestPanel(core::Session& session, QWidget* parent)
    : QDialog(parent), session_(session) {
    setObjectName("PortTestPanel");
    auto text = [this](std::string_view key, const QString& arg = {}) {
        return QString::fromStdString(TrFormat(key, session_.State().Lang(), arg.toStdString()));
    };
    setWindowTitle(
        text("Gui.PortTestTitle", "0x" + QString::number(session_.PortBase(), 16).toUpper()));
    auto* layout = new QVBoxLayout(this);
    auto* out = new QGroupBox(text("Gui.PortTestOutputs"), this);
    auto* outGrid = new QGridLayout(out);
    int i = 0;
    for (int pin : kOutputPins) {
        auto* box = new QCheckBox(text("Gui.PortTestPin", QString::number(pin)), out);
        box->setObjectName(QString("pin%1").arg(pin));
        connect(box, &QCheckBox::toggled, this, [this, pin](bool high) {
            session_.SetTestPin(static_cast<uint8_t>(pin), high);
            Poll();
        });
        outGrid->addWidget(box, i / 4, i % 4);
        outputs_[pin] = box;
        ++i;
    }
    layout->addWidget(out);
    auto* in = new QGroupBox(text("Gui.PortTestInputs"), this);
    auto* inGrid = new QGridLayout(in);
    i = 0;
    for (int pin : kInputPins) {
        auto* label = new QLabel(in);
        label->setObjectName(QString("pin%1").arg(pin));
        inGrid->addWidget(label, 0, i++);
        inputs_[pin] = label;
    }
    layout->addWidget(in);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &PortTestPanel::Poll);
    timer_->start(100);
    Poll();
}

void PortTestPanel::Poll() {
    const Language lang = session_.State().Lang();
    for (auto& [pin, label] : inputs_) {
        const bool high = session_.TestPin(static_cast<uint8_t>(pin));
        const std::string level = Tr(high ? "Gui.PortTestHigh" : "Gui.PortTestLow", lang);
        label->setText(QString::fromStdString(
            TrFormat("Gui.PortTestLevel", lang, std::to_string(pin), level)));
        label->setProperty("high", high);
    }
}

}  // namespace tondrel::gui
