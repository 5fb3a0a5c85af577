#include "port/RegisterPort.h"

namespace tondrel {

uint8_t RegisterPort::Read(Register reg) {
    ++reads_;
    return ReadRegister(reg);
}

void RegisterPort::Write(Register reg, uint8_t value) {
    if (reg == kStatus) return;  // read-only on every port
    if (shadow_) {
        uint8_t& shadow = reg == kData ? shadowData_ : shadowControl_;
        if (shadow == value) return;
        shadow = value;
    }
    ++writes_;
    WriteRegister(reg, value);
}

void RegisterPort::LoadShadows() {
    if (!shadow_) return;
    shadowData_ = Read(kData);
    shadowControl_ = Read(kControl);
}

uint8_t RegisterPort::PortIn(uint16_t address) {
    const Register reg = RegisterOf(address);
    // Addresses outside the port float high, like an empty ISA slot.
    return reg == kNone ? 0xFF : Read(reg);
}

void RegisterPort::PortOut(uint16_t address, uint8_t value) {
    const Register reg = RegisterOf(address);
    if (reg != kNone) Write(reg, value);
}

void RegisterPort::ChangeBit(uint16_t address, uint8_t bit, bool set) {
    const Register reg = RegisterOf(address);
    if (reg == kNone || reg == kStatus || bit > 7) return;
    const uint8_t current = shadow_ ? (reg == kData ? shadowData_ : shadowControl_) : Read(reg);
    const auto mask = static_cast<uint8_t>(1u << bit);
    Write(reg, static_cast<uint8_t>(set ? (current | mask) : (current & ~mask)));
}

void RegisterPort::SetPortBit(uint16_t address, uint8_t bit) {
    ChangeBit(address, bit, true);
}

void RegisterPort::ClrPortBit(uint16_t address, uint8_t bit) {
    ChangeBit(address, bit, false);
}

bool RegisterPort::GetPortBit(uint16_t address, uint8_t bit) {
    if (bit > 7) return false;
    return ((PortIn(address) >> bit) & 1u) != 0;
}

}  // namespace tondrel
