#include "sim/SimPort.h"

#include "adapter/Pins.h"

namespace tondrel::sim {

SimPort::SimPort(Bench& bench, VirtualClock* clock, bool shadow)
    : RegisterPort(shadow), bench_(bench), clock_(clock) {
    // The model can be looked at without an access: the seeding costs no port time.
    SeedShadows(bench_.ReadData(), bench_.ReadControl());
}

RegisterPort::Register SimPort::RegisterOf(uint16_t address) const {
    const unsigned reg = address & 3u;
    return reg == 3 ? kNone : static_cast<Register>(reg);
}

uint8_t SimPort::ReadRegister(Register reg) {
    if (clock_) clock_->PortAccess();
    switch (reg) {
        case kData:
            return bench_.ReadData();
        case kStatus:
            return bench_.ReadStatus();
        default:
            return bench_.ReadControl();
    }
}

void SimPort::WriteRegister(Register reg, uint8_t value) {
    if (clock_) clock_->PortAccess();
    if (reg == kData)
        bench_.WriteData(value);
    else
        bench_.WriteControl(value);
}

uint8_t SimPort::ReadsBackAs(Register reg, uint8_t written) const {
    // The control register keeps only its four line bits, as the PC's driver reports them.
    return reg == kControl ? static_cast<uint8_t>(written & adapter::kControlPins) : written;
}

bool SimPort::ReadsLatch(Register reg, uint8_t latch) const {
    return reg != kData || bench_.ReadData() == latch;
}

std::string SimPort::Describe() const {
    return bench_.Name();
}

}  // namespace tondrel::sim
