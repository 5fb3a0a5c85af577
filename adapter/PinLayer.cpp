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

void PinLayer::SetPins(uint8_t first, bool firstLevel, uint8_t second, bool secondLevel) {
    const Pin* a = FindPin(first);
    const Pin* b = FindPin(second);
    const bool together = a != nullptr && b != nullptr && a->Dir == Direction::Output &&
                          b->Dir == Direction::Output && a->Reg == b->Reg && a != b;
    if (!together) {
        SetPin(first, firstLevel);
        SetPin(second, secondLevel);
        return;
    }
    const uint16_t address = a->Reg == Register::Data ? static_cast<uint16_t>(DataPort)
                                                      : static_cast<uint16_t>(ControlPort);
    const auto bitOf = [](const Pin& p, bool level) {
        return static_cast<uint8_t>((level != p.Inverted ? 1u : 0u) << p.Bit);
    };
    const auto mask = static_cast<uint8_t>((1u << a->Bit) | (1u << b->Bit));
    Io().ChangePortBits(address, mask,
                        static_cast<uint8_t>(bitOf(*a, firstLevel) | bitOf(*b, secondLevel)));
}

bool PinLayer::GetPin(uint8_t pin) {
    const Pin* p = FindPin(pin);
    if (p == nullptr || p->Dir != Direction::Input) return false;  // no engine asks for one
    return Io().GetPortBit(static_cast<uint16_t>(StatusPort), p->Bit) != p->Inverted;
}

}  // namespace tondrel::adapter
