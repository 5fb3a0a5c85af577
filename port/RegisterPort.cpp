#include "port/RegisterPort.h"

namespace tondrel {

uint8_t RegisterPort::Read(Register reg) {
    ++reads_;
    return ReadRegister(reg);
}

void RegisterPort::Write(Register reg, uint8_t value) {
    if (shadow_ && Shadow(reg) == value) return;
    Store(reg, value);
}

void RegisterPort::Store(Register reg, uint8_t value) {
    if (reg == kStatus) return;  // read-only on every port
    if (shadow_) Shadow(reg) = ReadsBackAs(reg, value);
    ++writes_;
    WriteRegister(reg, value);
}

void RegisterPort::LoadShadows() {
    if (!shadow_) return;
    shadowData_ = Read(kData);
    shadowControl_ = Read(kControl);
}

void RegisterPort::SeedShadows(uint8_t data, uint8_t control) {
    shadowData_ = data;
    shadowControl_ = control;
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
    if (bit > 7) return;
    const auto mask = static_cast<uint8_t>(1u << bit);
    ChangePortBits(address, mask, set ? mask : 0);
}

void RegisterPort::ChangePortBits(uint16_t address, uint8_t mask, uint8_t values) {
    const Register reg = RegisterOf(address);
    if (reg == kNone || reg == kStatus) return;
    auto changed = [&](uint8_t v) { return static_cast<uint8_t>((v & ~mask) | (values & mask)); };
    if (shadow_ && ReadsLatch(reg, Shadow(reg)))
        Write(reg, changed(Shadow(reg)));
    else
        Store(reg, changed(Read(reg)));  // the literal read-modify-write
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
