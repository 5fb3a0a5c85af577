#include "engines/Tpro.h"

#include <utility>

namespace tondrel {

void Tpro::SetPortBase(int32_t base) {
    DataPort = base;
    StatusPort = base + 1;
    ControlPort = base + 2;
}

uint8_t Tpro::ReadStatusPort() {
    return static_cast<uint8_t>(Io().PortIn(static_cast<uint16_t>(StatusPort)) ^ 0x80);
}

void Tpro::WriteDataPort(uint8_t value) { Io().PortOut(static_cast<uint16_t>(DataPort), value); }

void Tpro::WriteControlPort(uint8_t value) {
    Io().PortOut(static_cast<uint16_t>(ControlPort), static_cast<uint8_t>(value ^ 0x0B));
}

bool Tpro::SetPin(uint8_t pin, bool level) {
    const auto data = static_cast<uint16_t>(DataPort);
    const auto control = static_cast<uint16_t>(ControlPort);
    auto drive = [this](uint16_t reg, uint8_t bit, bool set) {
        if (set)
            Io().SetPortBit(reg, bit);
        else
            Io().ClrPortBit(reg, bit);
    };
    switch (pin) {
        case 1: drive(control, 0, !level); return true;   // STROBE, inverted
        case 14: drive(control, 1, !level); return true;  // AUTOFEED, inverted
        case 16: drive(control, 2, level); return true;   // INIT
        case 17: drive(control, 3, !level); return true;  // SELECT IN, inverted
        default:
            if (pin >= 2 && pin <= 9) {
                drive(data, static_cast<uint8_t>(pin - 2), level);
                return true;
            }
            return false;
    }
}

bool Tpro::GetPin(uint8_t pin) {
    uint8_t bit;
    switch (pin) {
        case 10: bit = 6; break;
        case 11: bit = 7; break;
        case 12: bit = 5; break;
        case 13: bit = 4; break;
        case 15: bit = 3; break;
        default: return false;  // not a status pin; no engine asks for one
    }
    const bool high = Io().GetPortBit(static_cast<uint16_t>(StatusPort), bit);
    return pin == 11 ? !high : high;  // BUSY is inverted by the port hardware
}

Status Tpro::PortStatus() {
    std::string error = Io().TakeError();
    if (error.empty()) return {};
    return Verbatim(std::move(error));
}

Status Tpro::Outcome(Status own) {
    Status port = PortStatus();
    return port.Ok() ? own : port;
}

void Tpro::BitDelayCountdown(int32_t bitDelay) {
    if (bitDelay < 0) return;
    Clk().Spin(int64_t{bitDelay} + 1);
}

bool Tpro::PollReadBack(const std::function<bool()>& matches) {
    // Nanoseconds, not truncated milliseconds, so "more than 1000 ms" means exactly that.
    constexpr uint64_t kLimitNs = 1000ull * 1000000ull;
    const uint64_t start = Clk().NowNs();
    for (;;) {
        if (matches()) return true;
        if (Clk().NowNs() - start > kLimitNs) return false;
    }
}

void Tpro::Sleep(uint32_t ms) { Clk().SleepMs(ms); }

}  // namespace tondrel
