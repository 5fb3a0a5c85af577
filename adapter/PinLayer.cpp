#include "adapter/PinLayer.h"

#include "adapter/Pins.h"

namespace tondrel::adapter {

void PinLayer::SetPortBase(int32_t base) {
    DataPort = base;
    StatusPort = base + 1;
    ControlPort = base + 2;
}

uint8_t PinLayer::ReadStatusPort() {
    return FlipInverted(Register::Status, Io().PortIn(static_cast<uint16_t>(StatusPort)));
}

void PinLayer::WriteDataPort(uint8_t value) {
    Io().PortOut(static_cast<uint16_t>(DataPort), value);
}

void PinLayer::WriteControlPort(uint8_t value) {
    Io().PortOut(static_cast<uint16_t>(ControlPort), FlipInverted(Register::Control, value));
}

bool PinLayer::SetPin(uint8_t pin, bool level) {
    const Pin* p = FindPin(pin);
    if (p == nullptr || p->Dir != Direction::Output) return false;
    const uint16_t address = p->Reg == Register::Data ? static_cast<uint16_t>(DataPort)
                                                      : static_cast<uint16_t>(ControlPort);
    if (level != p->Inverted)
        Io().SetPortBit(address, p->Bit);
    else
        Io().ClrPortBit(address, p->Bit);
    return true;
}

bool PinLayer::GetPin(uint8_t pin) {
    const Pin* p = FindPin(pin);
    if (p == nullptr || p->Dir != Direction::Input) return false;  // no engine asks for one
    return Io().GetPortBit(static_cast<uint16_t>(StatusPort), p->Bit) != p->Inverted;
}

}  // namespace tondrel::adapter
