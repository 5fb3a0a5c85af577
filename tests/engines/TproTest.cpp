#include <gtest/gtest.h>

#include "engines/Tpro.h"

namespace tondrel {
namespace {

// Minimal recording port to pin the layer's register traffic.
class RecordingPort : public PortIo {
public:
    uint8_t regs[0x400] = {};
    std::vector<std::string> log;
    uint8_t PortIn(uint16_t a) override { return regs[a]; }
    void PortOut(uint16_t a, uint8_t v) override { regs[a] = v; log.push_back("out"); }
    void SetPortBit(uint16_t a, uint8_t b) override { regs[a] |= uint8_t(1u << b); log.push_back("set"); }
    void ClrPortBit(uint16_t a, uint8_t b) override { regs[a] &= uint8_t(~(1u << b)); log.push_back("clr"); }
    bool GetPortBit(uint16_t a, uint8_t b) override { return (regs[a] >> b) & 1; }
    std::string Describe() const override { return "recording"; }
};

TEST(TproPinLayer, ControlAndStatusInversions) {
    RecordingPort port;
    VirtualClock clock;
    CurrentChip chip;
    EngineEnv env{&port, &clock, &chip};
    Tpro pro(env);
    pro.SetPortBase(0x278);
    EXPECT_EQ(pro.StatusPort, 0x279);
    EXPECT_EQ(pro.ControlPort, 0x27A);
    pro.WriteControlPort(0);
    EXPECT_EQ(port.regs[0x27A], 0x0B);
    port.regs[0x279] = 0x7F;
    EXPECT_EQ(pro.ReadStatusPort(), 0xFF);
    port.regs[0x279] = 0x87;
    EXPECT_EQ(pro.ReadStatusPort(), 0x07);
    EXPECT_FALSE(pro.SetPin(10, true));
    EXPECT_FALSE(pro.SetPin(0, true));
    pro.SetPin(14, true);
    EXPECT_EQ(port.regs[0x27A] & 0x02, 0);
    port.regs[0x279] = 0x00;
    EXPECT_TRUE(pro.GetPin(11));  // BUSY physically high when raw bit 7 is 0
}

}  // namespace
}  // namespace tondrel
