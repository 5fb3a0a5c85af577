#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engines/Engines.h"
#include "engines/Tpro.h"
#include "tests/support/RecordingPort.h"
#include "tests/support/Results.h"

namespace tondrel {
namespace {

using testsupport::PortEvent;
using testsupport::PortOp;
using testsupport::RecordingPort;

struct PinBench {
    RecordingPort port{0x378};
    VirtualClock clock;
    CurrentChip chip;
    EngineEnv env{&port, &clock, &chip};
};

// Exposes the protected helpers every engine builds on.
class ProbeTpro : public Tpro {
  public:
    using Tpro::BitDelayCountdown;
    using Tpro::PollReadBack;
    using Tpro::Tpro;
};

TEST(TproPinLayer, RegisterAddressesFollowTheBase) {
    PinBench b;
    b.port.Base = 0x278;
    Tpro pro(b.env);
    pro.SetPortBase(0x278);
    EXPECT_EQ(pro.DataPort, 0x278);
    EXPECT_EQ(pro.StatusPort, 0x279);
    EXPECT_EQ(pro.ControlPort, 0x27A);

    pro.WriteDataPort(0xA5);
    pro.WriteControlPort(0);
    ASSERT_EQ(b.port.Events().size(), 2u);
    EXPECT_EQ(b.port.Events()[0].Address, 0x278);
    EXPECT_EQ(b.port.Events()[0].Arg, 0xA5);
    // All four control pins low means raw 0x0B: bits 0, 1 and 3 are inverted by the port.
    EXPECT_EQ(b.port.Events()[1].Address, 0x27A);
    EXPECT_EQ(b.port.Events()[1].Arg, 0x0B);
    for (uint8_t pin : {1, 14, 16, 17}) EXPECT_FALSE(b.port.OutputPin(pin)) << int(pin);

    // Bits 4..7 pass unchanged, so the upper control bits can still be driven on purpose.
    pro.WriteControlPort(0xF5);
    EXPECT_EQ(b.port.Control(), 0xFE);
    EXPECT_TRUE(b.port.OutputPin(1));
    EXPECT_FALSE(b.port.OutputPin(14));
    EXPECT_TRUE(b.port.OutputPin(16));
    EXPECT_FALSE(b.port.OutputPin(17));
}

TEST(TproPinLayer, StatusReadCorrectsTheBusyInversion) {
    PinBench b;
    Tpro pro(b.env);
    pro.SetPortBase(0x378);
    b.port.QueueStatusRaw({0x7F, 0x87, 0x00, 0xFF});
    EXPECT_EQ(pro.ReadStatusPort(), 0xFF);
    EXPECT_EQ(pro.ReadStatusPort(), 0x07);
    EXPECT_EQ(pro.ReadStatusPort(), 0x80);
    EXPECT_EQ(pro.ReadStatusPort(), 0x7F);
    for (const PortEvent& e : b.port.Events()) {
        EXPECT_EQ(e.Op, PortOp::In);
        EXPECT_EQ(e.Address, 0x379);
    }
}

TEST(TproPinLayer, SetPinIsOneBitOperationOnTheRightRegister) {
    struct Row {
        uint8_t Pin;
        bool Level;
        PortOp Op;
        uint16_t Address;
        uint8_t Bit;
    };
    const std::vector<Row> rows = {
        {1, true, PortOp::ClrBit, 0x37A, 0},  {1, false, PortOp::SetBit, 0x37A, 0},
        {14, true, PortOp::ClrBit, 0x37A, 1}, {14, false, PortOp::SetBit, 0x37A, 1},
        {16, true, PortOp::SetBit, 0x37A, 2}, {16, false, PortOp::ClrBit, 0x37A, 2},
        {17, true, PortOp::ClrBit, 0x37A, 3}, {17, false, PortOp::SetBit, 0x37A, 3},
        {2, true, PortOp::SetBit, 0x378, 0},  {2, false, PortOp::ClrBit, 0x378, 0},
        {5, true, PortOp::SetBit, 0x378, 3},  {8, false, PortOp::ClrBit, 0x378, 6},
        {9, true, PortOp::SetBit, 0x378, 7},  {9, false, PortOp::ClrBit, 0x378, 7},
    };
    for (const Row& r : rows) {
        PinBench b;
        Tpro pro(b.env);
        pro.SetPortBase(0x378);
        // Start from the opposite level with neighbours set, to see that only one bit moves.
        b.port.PortOut(0x378, r.Level ? 0x00 : 0xFF);
        b.port.PortOut(0x37A, r.Level ? 0x0B : 0x04);
        const uint8_t dataBefore = b.port.Data(), controlBefore = b.port.Control();
        b.port.ClearLog();

        EXPECT_TRUE(pro.SetPin(r.Pin, r.Level));
        ASSERT_EQ(b.port.Events().size(), 1u) << int(r.Pin);
        const PortEvent& e = b.port.Events()[0];
        EXPECT_EQ(e.Op, r.Op) << int(r.Pin) << r.Level;
        EXPECT_EQ(e.Address, r.Address) << int(r.Pin);
        EXPECT_EQ(e.Arg, r.Bit) << int(r.Pin);
        EXPECT_EQ(b.port.OutputPin(r.Pin), r.Level) << int(r.Pin);
        const uint8_t changed =
            static_cast<uint8_t>((b.port.Data() ^ dataBefore) | (b.port.Control() ^ controlBefore));
        EXPECT_EQ(changed, 1u << r.Bit) << int(r.Pin);
    }
}

TEST(TproPinLayer, SetPinOnAnInputOrMissingPinWritesNothing) {
    PinBench b;
    Tpro pro(b.env);
    pro.SetPortBase(0x378);
    for (uint8_t pin : {0, 10, 11, 12, 13, 15, 18, 25, 255}) {
        EXPECT_FALSE(pro.SetPin(pin, true)) << int(pin);
        EXPECT_FALSE(pro.SetPin(pin, false)) << int(pin);
    }
    EXPECT_EQ(b.port.Accesses(), 0u);
}

TEST(TproPinLayer, GetPinReadsPhysicalLevels) {
    struct Row {
        uint8_t Pin;
        uint8_t Bit;
        bool Inverted;
    };
    for (const Row r : {Row{10, 6, false}, Row{11, 7, true}, Row{12, 5, false}, Row{13, 4, false},
                        Row{15, 3, false}}) {
        PinBench b;
        Tpro pro(b.env);
        pro.SetPortBase(0x378);
        const auto only = static_cast<uint8_t>(1u << r.Bit);
        // Only the pin's own bit may decide, whatever the other lines do.
        b.port.SetStatusRaw(only);
        EXPECT_EQ(pro.GetPin(r.Pin), !r.Inverted) << int(r.Pin);
        b.port.SetStatusRaw(static_cast<uint8_t>(~only));
        EXPECT_EQ(pro.GetPin(r.Pin), r.Inverted) << int(r.Pin);
        ASSERT_EQ(b.port.Events().size(), 2u);
        EXPECT_EQ(b.port.Events()[0].Op, PortOp::GetBit);
        EXPECT_EQ(b.port.Events()[0].Address, 0x379);
        EXPECT_EQ(b.port.Events()[0].Arg, r.Bit);
    }
}

TEST(TproPinLayer, PlainTproOperationsLeaveThePortAlone) {
    PinBench b;
    Tpro pro(b.env);
    pro.SetPortBase(0x378);
    EXPECT_EQ(pro.ReadSignature().ValueOr("unread"), "");
    // Everything else says it is not supported, the PIC configuration operations included.
    const Status notSupported = Status::Error("EngineNotSupported");
    EXPECT_EQ(pro.EnterProgramming(), notSupported);
    EXPECT_EQ(pro.EraseChip(), notSupported);
    pro.InitPinMap();
    EXPECT_EQ(pro.WriteFlashByte(7, 0), notSupported);
    EXPECT_EQ(pro.ReadFlashByte(7).GetStatus(), notSupported);
    EXPECT_EQ(pro.WriteEepromByte(7, 0), notSupported);
    EXPECT_EQ(pro.RawCommand(0xAC, 0x53, 0, 0).GetStatus(), notSupported);
    EXPECT_EQ(pro.ReadConfigWord(7).GetStatus(), notSupported);
    EXPECT_EQ(pro.WriteConfigWord(7, 0x3FFF), notSupported);
    EXPECT_EQ(pro.EraseEverything(), notSupported);
    pro.SetAutoVerify(true);
    pro.SetBitDelay(5);
    EXPECT_EQ(b.port.Accesses(), 0u);
    EXPECT_EQ(b.clock.Peek(), 0u);
}

// The speed is a clock phase in nanoseconds, the edge's port access (1 us) included.
TEST(TproHelpers, BitDelayCountdownWaitsThePhaseLessTheEdgesAccess) {
    PinBench b;
    ProbeTpro pro(b.env);
    const std::pair<int32_t, uint64_t> cases[] = {{-1, 0},   {-300, 0}, {0, 0},
                                                  {1000, 0}, {1002, 2}, {300000, 299000}};
    for (auto [delay, ns] : cases) {
        const uint64_t before = b.clock.Peek();
        pro.BitDelayCountdown(delay);
        EXPECT_EQ(b.clock.Peek() - before, ns) << delay;
    }
}

TEST(TproHelpers, PollGivesUpJustAfterOneSecond) {
    PinBench b;
    ProbeTpro pro(b.env);
    int reads = 0;
    const bool ok = pro.PollReadBack([&] {
        ++reads;
        b.clock.Advance(300000);  // a read-back costs 0.3 ms here
        return false;
    });
    EXPECT_FALSE(ok);
    EXPECT_GT(b.clock.Peek(), 1000000000u);
    EXPECT_LE(b.clock.Peek(), 1000600000u);
    EXPECT_GT(reads, 3000);

    // The first read happens at once, and success ends the poll without waiting.
    reads = 0;
    const uint64_t before = b.clock.Peek();
    EXPECT_TRUE(pro.PollReadBack([&] { return ++reads == 3; }));
    EXPECT_EQ(reads, 3);
    EXPECT_EQ(b.clock.Peek(), before);
}

// A port that reports one failed access, as a vanished parallel port does.
class FailingPort : public RecordingPort {
  public:
    Status TakeError() override { return std::exchange(Failure, Status()); }
    Status Failure;
};

// Whatever an operation itself found, a port that failed during it is the outcome, taken from
// the port once: the next operation on a working port is fine again.
TEST(TproPortFailure, EveryOperationOfEveryEngineEndsWithThePortsFailure) {
    const Status failure = Status::Error("PortPpdevFailed", "/dev/parport0", "No such device");
    for (Method method : kSearchOrder) {
        FailingPort port;
        VirtualClock clock;
        CurrentChip chip;
        chip.FlashSize = 4096;
        EngineEnv env{&port, &clock, &chip};
        auto engine = MakeEngine(method, env);
        Tpro& e = *engine;
        EXPECT_STREQ(e.ClassName(), Traits(method).EngineClass);
        e.InitPinMap();
        e.SetPortBase(0x378);
        e.SetAutoVerify(false);
        const std::pair<const char*, std::function<Status()>> ops[] = {
            {"ReadSignature", [&] { return e.ReadSignature().GetStatus(); }},
            {"EnterProgramming", [&] { return e.EnterProgramming(); }},
            {"EraseChip", [&] { return e.EraseChip(); }},
            {"WriteFlashByte", [&] { return e.WriteFlashByte(1, 0x12); }},
            {"ReadFlashByte", [&] { return e.ReadFlashByte(1).GetStatus(); }},
            {"WriteEepromByte", [&] { return e.WriteEepromByte(1, 0x12); }},
            {"ReadEepromByte", [&] { return e.ReadEepromByte(1).GetStatus(); }},
            {"RawCommand", [&] { return e.RawCommand(0x30, 0, 0, 0).GetStatus(); }},
            {"ReadConfigWord", [&] { return e.ReadConfigWord(7).GetStatus(); }},
            {"WriteConfigWord", [&] { return e.WriteConfigWord(0, 0x1234); }},
            {"EraseEverything", [&] { return e.EraseEverything(); }},
            {"LeaveProgramming", [&] { return e.LeaveProgramming(); }},
        };
        for (const auto& [name, op] : ops) {
            port.Failure = failure;
            const Status got = op();
            if (got.Key() == "EngineNotSupported") continue;  // does nothing, asks nothing
            EXPECT_EQ(got, failure) << e.ClassName() << " " << name;
            EXPECT_TRUE(port.Failure.Ok()) << e.ClassName() << " " << name;
        }
        port.Failure = {};
        EXPECT_TRUE(e.LeaveProgramming()) << e.ClassName();
    }
}

}  // namespace
}  // namespace tondrel
