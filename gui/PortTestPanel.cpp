#include "gui/PortTestPanel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace tondrel::gui {

namespace {
constexpr int kOutputPins[] = {2, 3, 4, 5, 6, 7, 8, 9, 1, 14, 16, 17};
constexpr int kInputPins[] = {10, 11, 12, 13, 15};
}  // namespace

PortTestPanel::PortTestPanel(EngineEnv& env, int32_t portBase, QWidget* parent)
    : QDialog(parent), pins_(env) {
    setObjectName("PortTestPanel");
    setWindowTitle(QString("Port test 0x%1").arg(portBase, 3, 16, QChar('0')).toUpper());
    pins_.SetPortBase(portBase);
    auto* layout = new QVBoxLayout(this);
    auto* out = new QGroupBox("Outputs (pin: high when ticked)", this);
    auto* outGrid = new QGridLayout(out);
    int i = 0;
    for (int pin : kOutputPins) {
        auto* box = new QCheckBox(QString("pin %1").arg(pin), out);
        box->setObjectName(QString("pin%1").arg(pin));
        connect(box, &QCheckBox::toggled, this, [this, pin](bool high) {
            pins_.SetPin(static_cast<uint8_t>(pin), high);
            Poll();
        });
        outGrid->addWidget(box, i / 4, i % 4);
        outputs_[pin] = box;
        ++i;
    }
    layout->addWidget(out);
    auto* in = new QGroupBox("Inputs", this);
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
    for (auto& [pin, label] : inputs_) {
        const bool high = pins_.GetPin(static_cast<uint8_t>(pin));
        label->setText(QString("pin %1: %2").arg(pin).arg(high ? "high" : "low"));
        label->setProperty("high", high);
    }
}

}  // namespace tondrel::gui
