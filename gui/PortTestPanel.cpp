#include "gui/PortTestPanel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/Pins.h"
#include "adapter/Wiring.h"
#include "core/Session.h"

namespace tondrel::gui {

namespace {

// The connector's pins of one direction: the data lines first, then the control lines.
std::vector<int> PinsOf(adapter::Direction dir) {
    std::vector<int> pins;
    for (adapter::Register reg :
         {adapter::Register::Data, adapter::Register::Status, adapter::Register::Control})
        for (const adapter::Pin& p : adapter::kPins)
            if (p.Dir == dir && p.Reg == reg) pins.push_back(p.Number);
    return pins;
}

// The message key of what a pin does for the target on the adapters' wiring; empty for a pin
// no adapter uses.
std::string_view RoleKey(int pin) {
    // In the order of adapter::Role.
    static constexpr std::string_view kKeys[] = {"Gui.PortRole.Enable",  "Gui.PortRole.Reset",
                                                 "Gui.PortRole.Mode",    "Gui.PortRole.Clock",
                                                 "Gui.PortRole.DataOut", "Gui.PortRole.DataIn"};
    static_assert(std::size(kKeys) == adapter::kRoles.size());
    for (const adapter::Wiring* w : adapter::kWirings)
        if (const auto role = w->RoleOf(pin)) return kKeys[static_cast<size_t>(*role)];
    return {};
}

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
    const Language lang = session_.State().Lang();
    int i = 0;
    for (int pin : PinsOf(adapter::Direction::Output)) {
        const std::string_view role = RoleKey(pin);
        const std::string caption =
            role.empty() ? TrFormat("Gui.PortTestPin", lang, pin)
                         : TrFormat("Gui.PortTestPinRole", lang, pin, Tr(role, lang));
        auto* box = new QCheckBox(QString::fromStdString(caption), out);
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
    for (int pin : PinsOf(adapter::Direction::Input)) {
        auto* label = new QLabel(in);
        label->setObjectName(QString("pin%1").arg(pin));
        inGrid->addWidget(label, 0, i++);
        inputs_[pin] = label;
    }
    layout->addWidget(in);
    auto* close = new QPushButton(text("Chip.Close"), this);
    close->setObjectName("PortTestClose");
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
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
        const std::string_view role = RoleKey(pin);
        const std::string text =
            role.empty() ? TrFormat("Gui.PortTestLevel", lang, pin, level)
                         : TrFormat("Gui.PortTestLevelRole", lang, pin, Tr(role, lang), level);
        label->setText(QString::fromStdString(text));
        label->setProperty("high", high);
    }
}

}  // namespace tondrel::gui
