#include <gtest/gtest.h>

#include <array>
#include <random>

#include "port/RegisterPort.h"

namespace tondrel {
namespace {

// Three registers in memory standing in for the hardware, with a tally of real accesses.
// Like a real port the status lines are driven from outside and the data latch reads back.
class MemoryPort : public RegisterPort {
  public:
    MemoryPort(bool shadow, uint8_t data = 0, uint8_t control = 0) : RegisterPort(shadow) {
        regs[kData] = data;
        regs[kControl] = control;
        LoadShadows();
    }
    std::string Describe() const override { return "memory"; }
    std::array<uint8_t, 3> regs{};

  protected:
    Register RegisterOf(uint16_t address) const override {
        if (address < 0x378 || address > 0x37A) return kNone;
        return static_cast<Register>(address - 0x378);
    }
    uint8_t ReadRegister(Register reg) override { return regs[reg]; }
    void WriteRegister(Register reg, uint8_t value) override { regs[reg] = value; }
};

TEST(RegisterPortShadow, OneBitChangeIsOneWriteAndNoChangeIsFree) {
    MemoryPort plain(false), shadowed(true);
    const uint64_t seedReads = shadowed.Reads();  // the two seeding reads
    for (RegisterPort* p :
         {static_cast<RegisterPort*>(&plain), static_cast<RegisterPort*>(&shadowed)}) {
        p->SetPortBit(0x378, 3);
        p->SetPortBit(0x378, 3);  // already set
        p->ClrPortBit(0x37A, 1);  // already clear
        p->PortOut(0x37A, 0x0B);
        p->PortOut(0x37A, 0x0B);  // same value again
    }
    EXPECT_EQ(plain.Reads(), 3u);
    EXPECT_EQ(plain.Writes(), 5u);
    EXPECT_EQ(shadowed.Reads() - seedReads, 0u);
    EXPECT_EQ(shadowed.Writes(), 2u);
    EXPECT_EQ(plain.regs, shadowed.regs);
    EXPECT_EQ(shadowed.regs[0], 0x08);
    EXPECT_EQ(shadowed.regs[2], 0x0B);
}

TEST(RegisterPortShadow, ShadowStartsFromWhatThePortHolds) {
    MemoryPort shadowed(true, 0x5A, 0x04);
    shadowed.SetPortBit(0x378, 0);
    shadowed.ClrPortBit(0x37A, 2);
    EXPECT_EQ(shadowed.regs[0], 0x5B);
    EXPECT_EQ(shadowed.regs[2], 0x00);
}

TEST(RegisterPortShadow, LevelsMatchAnUnshadowedPortOverAnyOperationMix) {
    MemoryPort plain(false, 0x81, 0x0B), shadowed(true, 0x81, 0x0B);
    std::mt19937 rng(7);
    for (int step = 0; step < 5000; ++step) {
        const auto address = static_cast<uint16_t>(0x378 + rng() % 3);
        const auto bit = static_cast<uint8_t>(rng() % 8);
        const auto value = static_cast<uint8_t>(rng());
        plain.regs[1] = shadowed.regs[1] = static_cast<uint8_t>(rng());  // status moves
        switch (rng() % 5) {
            case 0:
                EXPECT_EQ(plain.PortIn(address), shadowed.PortIn(address));
                break;
            case 1:
                plain.PortOut(address, value), shadowed.PortOut(address, value);
                break;
            case 2:
                plain.SetPortBit(address, bit), shadowed.SetPortBit(address, bit);
                break;
            case 3:
                plain.ClrPortBit(address, bit), shadowed.ClrPortBit(address, bit);
                break;
            default:
                EXPECT_EQ(plain.GetPortBit(address, bit), shadowed.GetPortBit(address, bit));
        }
        ASSERT_EQ(plain.regs, shadowed.regs) << "step " << step;
    }
    EXPECT_LT(shadowed.Reads() + shadowed.Writes(), plain.Reads() + plain.Writes());
}

TEST(RegisterPortShadow, StatusIsReadFreshAndNeverWritten) {
    MemoryPort shadowed(true);
    shadowed.regs[1] = 0x80;
    EXPECT_TRUE(shadowed.GetPortBit(0x379, 7));
    shadowed.regs[1] = 0x00;
    EXPECT_FALSE(shadowed.GetPortBit(0x379, 7));
    shadowed.PortOut(0x379, 0xFF);
    shadowed.SetPortBit(0x379, 3);
    EXPECT_EQ(shadowed.regs[1], 0x00);
}

TEST(RegisterPortShadow, AddressesOutsideThePortAreIgnored) {
    MemoryPort plain(false, 0x11, 0x22);
    EXPECT_EQ(plain.PortIn(0x37B), 0xFF);
    EXPECT_EQ(plain.PortIn(0x377), 0xFF);
    plain.PortOut(0x37B, 0x00);
    plain.SetPortBit(0x3BC, 1);
    plain.SetPortBit(0x378, 9);  // no such bit
    EXPECT_EQ(plain.regs, (std::array<uint8_t, 3>{0x11, 0, 0x22}));
    EXPECT_EQ(plain.Writes(), 0u);
}

// A serial byte as the engines clock it: the shadow spends one write per real change only.
TEST(RegisterPortShadow, SerialClockingCostsOneWritePerEdge) {
    MemoryPort shadowed(true);
    const uint64_t seedReads = shadowed.Reads();
    for (int i = 0; i < 8; ++i) {
        shadowed.ClrPortBit(0x378, 0);
        shadowed.SetPortBit(0x378, 6);
        shadowed.SetPortBit(0x378, 0);
        shadowed.GetPortBit(0x379, 7);
    }
    shadowed.PortOut(0x37A, 0x0B);
    shadowed.PortIn(0x379);
    // SCK toggles 16 times (the first clear finds it clear), MOSI once, control once.
    EXPECT_EQ(shadowed.Writes(), 15u + 1u + 1u);
    EXPECT_EQ(shadowed.Reads() - seedReads, 9u);
}

}  // namespace
}  // namespace tondrel
