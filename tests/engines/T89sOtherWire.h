#pragma once
// A parallel port wired straight to one simulated chip, for end-to-end engine tests without the
// adapter in between: data bits 0, 1, 2 and 6 (pins 2, 3, 4, 8) are SCK, RST, the mode line and
// MOSI; AUTOFEED (pin 14) physically low switches the target drivers on; BUSY (pin 11) carries
// the chip's data out. Every access costs one port access on the virtual clock.
#include <cstdint>
#include <string>

#include "port/Clock.h"
#include "port/PortIo.h"
#include "sim/TargetChip.h"

namespace tondrel::testsupport {

class ChipWirePort : public PortIo {
public:
    ChipWirePort(sim::TargetChip& chip, VirtualClock& clock, uint16_t base = 0x378)
        : chip_(chip), clock_(clock), base_(base) {}

    uint8_t PortIn(uint16_t address) override {
        ++accesses_;
        clock_.PortAccess();
        if (address == base_ + 1) {
            // Unused status lines float high; BUSY is inverted by the port.
            const bool miso = chip_.DataOut(clock_.NowNs());
            return static_cast<uint8_t>(miso ? 0x78 : 0xF8);
        }
        return address == base_ ? data_ : address == base_ + 2 ? control_ : 0xFF;
    }
    void PortOut(uint16_t address, uint8_t value) override {
        ++accesses_;
        clock_.PortAccess();
        if (address == base_) data_ = value;
        if (address == base_ + 2) control_ = value;
        Drive();
    }
    void SetPortBit(uint16_t address, uint8_t bit) override {
        PortOut(address, static_cast<uint8_t>(Reg(address) | (1u << bit)));
    }
    void ClrPortBit(uint16_t address, uint8_t bit) override {
        PortOut(address, static_cast<uint8_t>(Reg(address) & ~(1u << bit)));
    }
    bool GetPortBit(uint16_t address, uint8_t bit) override {
        return ((PortIn(address) >> bit) & 1u) != 0;
    }
    std::string Describe() const override { return "wire"; }

    uint64_t Accesses() const { return accesses_; }

private:
    uint8_t Reg(uint16_t address) const {
        return address == base_ ? data_ : address == base_ + 2 ? control_ : 0;
    }

    void Drive() {
        sim::TargetLines lines;
        lines.Connected = (control_ & 0x02) != 0;  // pin 14 is low when control bit 1 is set
        lines.Sck = (data_ & 0x01) != 0;
        lines.Rst = (data_ & 0x02) != 0;
        lines.Mode = (data_ & 0x04) != 0;
        lines.Mosi = (data_ & 0x40) != 0;
        if (lines == last_) return;
        last_ = lines;
        chip_.SetLines(lines, clock_.NowNs());
    }

    sim::TargetChip& chip_;
    VirtualClock& clock_;
    uint16_t base_;
    uint8_t data_ = 0;
    uint8_t control_ = 0;
    sim::TargetLines last_{};
    uint64_t accesses_ = 0;
};

}  // namespace tondrel::testsupport
