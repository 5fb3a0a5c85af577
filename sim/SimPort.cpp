#include "sim/SimPort.h"

namespace tondrel::sim {

namespace {
constexpr int kData = 0, kStatus = 1, kControl = 2;
}

SimPort::SimPort(Bench& bench, VirtualClock* clock, bool shadow)
    : bench_(bench), clock_(clock), shadow_(shadow) {
    dataShadow_ = bench_.ReadData();
    controlShadow_ = bench_.ReadControl();
}

uint8_t SimPort::Read(int reg) {
    ++reads_;
    if (clock_) clock_->PortAccess();
    switch (reg) {
        case kData:
            return bench_.ReadData();
        case kStatus:
            return bench_.ReadStatus();
        case kControl:
            return bench_.ReadControl();
        default:
            return 0xFF;  // no register at base+3
    }
}

void SimPort::Write(int reg, uint8_t value) {
    ++writes_;
    if (clock_) clock_->PortAccess();
    if (reg == kData) {
        bench_.WriteData(value);
        dataShadow_ = value;
    } else if (reg == kControl) {
        bench_.WriteControl(value);
        // The shadow holds what a read would give back, so a bit change writes exactly what
        // the read-modify-write would have written.
        controlShadow_ = bench_.ReadControl();
    }
}

uint8_t SimPort::PortIn(uint16_t address) {
    return Read(address & 3);
}

void SimPort::PortOut(uint16_t address, uint8_t value) {
    Write(address & 3, value);
}

void SimPort::ChangeBit(uint16_t address, uint8_t bit, bool set) {
    const int reg = address & 3;
    const auto mask = static_cast<uint8_t>(1u << (bit & 7));
    // Data read back while the lines are inputs is not the latch; only then the shadow is no use.
    const bool useShadow =
        shadow_ && (reg == kControl || (reg == kData && bench_.ReadData() == dataShadow_));
    if (useShadow) {
        const uint8_t old = reg == kData ? dataShadow_ : controlShadow_;
        const auto value = static_cast<uint8_t>(set ? (old | mask) : (old & ~mask));
        if (value != old) Write(reg, value);
        return;
    }
    const uint8_t old = Read(reg);
    Write(reg, static_cast<uint8_t>(set ? (old | mask) : (old & ~mask)));
}

void SimPort::SetPortBit(uint16_t address, uint8_t bit) {
    ChangeBit(address, bit, true);
}
void SimPort::ClrPortBit(uint16_t address, uint8_t bit) {
    ChangeBit(address, bit, false);
}

bool SimPort::GetPortBit(uint16_t address, uint8_t bit) {
    return ((Read(address & 3) >> (bit & 7)) & 1) != 0;
}

std::string SimPort::Describe() const {
    return bench_.Name();
}

}  // namespace tondrel::sim
