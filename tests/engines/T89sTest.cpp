#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engines/T89s.h"
#include "tests/support/RecordingPort.h"
#include "tests/support/Results.h"

namespace tondrel {
namespace {

using testsupport::Bytes;
using testsupport::Got;
using testsupport::PortOp;
using testsupport::RecordingPort;

// A small AT89S52 stand-in behind the recording port: answers programming enable with 0x69,
// reads memory with 0x20 and the signature with 0x28, stores writes with 0x40. Writes land at
// once unless `writeDelayReads` is set, in which case that many reads still see the old byte.
struct FakeAt89 {
    std::map<uint16_t, uint8_t> Flash;
    bool Echo = true;
    bool WritesStick = true;
    int WriteDelayReads = 0;
    int pendingReads = 0;

    uint8_t Answer(const Bytes& cmd, size_t index) {
        if (index == 3) {
            const uint16_t addr = static_cast<uint16_t>((cmd[1] << 8) | cmd[2]);
            switch (cmd[0]) {
                case 0xAC:
                    return cmd[1] == 0x53 && Echo ? 0x69 : 0x00;
                case 0x28:
                    return cmd[1] == 0 ? 0x1E : cmd[1] == 1 ? 0x05 : 0xA0;
                case 0x20:
                    if (pendingReads > 0) {
                        --pendingReads;
                        return 0x00;
                    }
                    return Flash.count(addr) ? Flash[addr] : 0xFF;
                default:
                    break;
            }
        }
        return 0x00;
    }
};

struct Bench {
    RecordingPort port{0x378};
    VirtualClock clock;
    CurrentChip chip;
    EngineEnv env{&port, &clock, &chip};
    T89s engine{env};
    FakeAt89 fake;

    Bench() {
        port.AttachClock(&clock);
        // Writes are applied when the last bit of the write command has been clocked in.
        port.SetResponder([this](const Bytes& cmd, size_t index) {
            ApplyFinishedCommands();
            return fake.Answer(cmd, index);
        });
        engine.InitPinMap();
        engine.SetPortBase(0x378);
    }

    void ApplyFinishedCommands() {
        const auto cmds = port.Commands();
        for (; applied < cmds.size(); ++applied) {
            const Bytes& c = cmds[applied];
            if (c[0] == 0x40 && fake.WritesStick) {
                fake.Flash[static_cast<uint16_t>((c[1] << 8) | c[2])] = c[3];
                fake.pendingReads = fake.WriteDelayReads;
            }
        }
    }
    size_t applied = 0;
};

TEST(T89sFraming, WriteSendsAddressAndDataThenPollsWithKeptByte) {
    Bench b;
    b.fake.WriteDelayReads = 2;  // self-timed write: the first reads still show the old byte
    EXPECT_TRUE(b.engine.WriteFlashByte(0x1234, 0x5A));
    const auto cmds = b.port.Commands();
    ASSERT_EQ(cmds.size(), 4u);
    EXPECT_EQ(cmds[0], (Bytes{0x40, 0x12, 0x34, 0x5A}));
    // The read command leaves byte 4 alone: it still carries the written value.
    for (size_t k = 1; k < 4; ++k) EXPECT_EQ(cmds[k], (Bytes{0x20, 0x12, 0x34, 0x5A})) << k;
    EXPECT_EQ(b.port.SentBytes().size() % 4, 0u);
}

TEST(T89sFraming, ProgrammingEnableCarriesTheLastReadsBytes) {
    Bench b;
    (void)b.engine.WriteFlashByte(0x0777, 0x3C);
    EXPECT_EQ(Got(b.engine.ReadFlashByte(0x0123)), 0xFF);
    b.port.ClearLog();
    b.applied = 0;
    EXPECT_TRUE(b.engine.EnterProgramming());
    ASSERT_EQ(b.port.Commands().size(), 1u);
    EXPECT_EQ(b.port.Commands()[0], (Bytes{0xAC, 0x53, 0x23, 0x3C}));

    EXPECT_TRUE(b.engine.EraseChip());
    EXPECT_EQ(b.port.Commands()[1], (Bytes{0xAC, 0x80, 0x23, 0x3C}));
}

TEST(T89sFraming, BlankBytesAreSkippedOnlyWhenTheyReadBlank) {
    {  // erased location: one read, nothing written
        Bench b;
        EXPECT_TRUE(b.engine.WriteFlashByte(0x0010, 0xFF));
        ASSERT_EQ(b.port.Commands().size(), 1u);
        EXPECT_EQ(b.port.Commands()[0][0], 0x20);
    }
    {  // programmed location: read, write 0xFF, then the poll
        Bench b;
        b.fake.Flash[0x0010] = 0x12;
        EXPECT_TRUE(b.engine.WriteFlashByte(0x0010, 0xFF));
        const auto cmds = b.port.Commands();
        ASSERT_EQ(cmds.size(), 3u);
        EXPECT_EQ(cmds[0][0], 0x20);
        EXPECT_EQ(cmds[1], (Bytes{0x40, 0x00, 0x10, 0xFF}));
        EXPECT_EQ(cmds[2][0], 0x20);
    }
    {  // WriteBlank on: 0xFF is written like any value, no read first
        Bench b;
        b.engine.SetWriteBlank(true);
        EXPECT_TRUE(b.engine.WriteFlashByte(0x0010, 0xFF));
        const auto cmds = b.port.Commands();
        ASSERT_EQ(cmds.size(), 2u);
        EXPECT_EQ(cmds[0], (Bytes{0x40, 0x00, 0x10, 0xFF}));
        EXPECT_EQ(cmds[1][0], 0x20);
    }
}

// Without verification the write is followed by reads of bit 7 until the chip shows it, for no
// longer than the worst-case write time: a byte that never programs is not a failure then.
TEST(T89sFraming, WithoutAutoVerifyTheWritePollsBitSevenForTheWorstCaseAtMost) {
    Bench b;
    b.fake.WritesStick = false;
    b.engine.SetAutoVerify(false);
    EXPECT_TRUE(b.engine.WriteFlashByte(0x0001, 0x00));
    const auto cmds = b.port.Commands();
    ASSERT_GT(cmds.size(), 1u);
    EXPECT_EQ(cmds[0], (Bytes{0x40, 0x00, 0x01, 0x00}));
    for (size_t k = 1; k < cmds.size(); ++k) EXPECT_EQ(cmds[k][0], 0x20) << k;
}

TEST(T89sFraming, AByteThatNeverProgramsFailsJustAfterOneSecond) {
    Bench b;
    b.fake.WritesStick = false;
    b.port.KeepLog = false;
    const uint64_t start = b.clock.Peek();
    EXPECT_EQ(b.engine.WriteFlashByte(0x0100, 0x42), Status::Error("EngineWriteTimeout", "100"));
    const uint64_t elapsed = b.clock.Peek() - start;
    EXPECT_GT(elapsed, 1000000000u);
    EXPECT_LT(elapsed, 1010000000u);
    EXPECT_GT(b.port.Commands().size(), 100u);
}

TEST(T89sFraming, InitPinMapRestoresFlagsAndPinsButNotTheDelay) {
    Bench b;
    b.engine.SetAutoVerify(false);
    b.engine.SetWriteBlank(true);
    b.engine.SetBitDelay(123);
    b.engine.SckPin = 9;
    b.engine.EnableIdleLevel = 0;
    b.engine.InitPinMap();
    EXPECT_EQ(b.engine.AutoVerify, 1);
    EXPECT_EQ(b.engine.WriteBlank, 0);
    EXPECT_EQ(b.engine.BitDelay, 123);
    EXPECT_EQ(b.engine.RstPin, 3);
    EXPECT_EQ(b.engine.MosiPin, 8);
    EXPECT_EQ(b.engine.MisoPin, 11);
    EXPECT_EQ(b.engine.SckPin, 2);
    EXPECT_EQ(b.engine.EnablePin, 14);
    EXPECT_EQ(b.engine.EnableActiveLevel, 0);
    EXPECT_EQ(b.engine.EnableIdleLevel, 1);
    EXPECT_STREQ(b.engine.ClassName(), "T89s");
}

TEST(T89sFraming, SignatureIsThreeReadsAsSixDigits) {
    Bench b;
    EXPECT_EQ(Got(b.engine.ReadSignature()), "1E05A0");
    const auto cmds = b.port.Commands();
    ASSERT_EQ(cmds.size(), 3u);
    for (uint8_t k = 0; k < 3; ++k) EXPECT_EQ(cmds[k], (Bytes{0x28, k, 0x00, 0x00}));
}

TEST(T89sSequence, EnterProgrammingPowersUpResetsThenEnables) {
    Bench b;
    EXPECT_TRUE(b.engine.EnterProgramming());
    const auto& ev = b.port.Events();
    ASSERT_FALSE(ev.empty());
    // First the control register with all control pins low, then the enable pin (14) low.
    EXPECT_EQ(ev[0].Op, PortOp::Out);
    EXPECT_EQ(ev[0].Address, 0x37A);
    EXPECT_EQ(ev[0].Arg, 0x0B);
    EXPECT_FALSE(b.port.OutputPin(14));
    EXPECT_TRUE(b.port.OutputPin(3));  // held in reset for programming
    // 1 + 1 + 10 ms of waits pass before the first clock edge of the command.
    ASSERT_FALSE(b.port.RisingEdgeBits().empty());
    uint64_t firstEdge = 0;
    for (const auto& e : ev)
        if (e.Address == 0x378 && e.Op == PortOp::SetBit && e.Arg == 0) {
            firstEdge = e.TimeNs;
            break;
        }
    EXPECT_GE(firstEdge, 12000000u);
    EXPECT_LT(firstEdge, 13000000u);

    EXPECT_TRUE(b.engine.LeaveProgramming());
    EXPECT_FALSE(b.port.OutputPin(3));
    EXPECT_TRUE(b.port.OutputPin(14));
}

TEST(T89sSequence, EnterProgrammingFailsWithoutTheChipsEcho) {
    Bench b;
    b.fake.Echo = false;
    EXPECT_EQ(b.engine.EnterProgramming().Key(), "EngineNoEcho");

    RecordingPort empty;  // nothing connected: MISO floats high, every byte reads 0xFF
    VirtualClock clock;
    CurrentChip chip;
    EngineEnv env{&empty, &clock, &chip};
    T89s engine(env);
    engine.InitPinMap();
    engine.SetPortBase(0x378);
    empty.SetStatusRaw(0x00);
    EXPECT_FALSE(engine.EnterProgramming());
}

TEST(T89sSequence, TransferClocksMsbFirstAndRestsLow) {
    Bench b;
    b.engine.SetBitDelay(3000);
    const uint64_t start = b.clock.Peek();
    EXPECT_EQ(Got(b.engine.RawCommand(0xA5, 0x01, 0x80, 0x7E)), 0x00);
    const uint64_t elapsed = b.clock.Peek() - start;
    EXPECT_EQ(b.port.Commands()[0], (Bytes{0xA5, 0x01, 0x80, 0x7E}));

    // Per bit: one write for the falling edge and the data line together, one for the rising
    // edge; one more to rest low at the end. Data in only for the answer byte.
    EXPECT_EQ(b.port.Count(PortOp::Out), 32u);
    EXPECT_EQ(b.port.Count(PortOp::SetBit) + b.port.Count(PortOp::ClrBit), 33u);
    EXPECT_EQ(b.port.Count(PortOp::GetBit), 8u);
    EXPECT_EQ(b.port.Data() & 0x01, 0);
    // Each SCK change is followed by the rest of its 3 us phase (the edge's own access is 1 us,
    // and in the answer byte the read of MISO takes one more of the high phase): 65 waits per
    // command (two per bit and the rest at the end), then the 20 ms settle of a raw command.
    const uint64_t expected = b.port.Accesses() * VirtualClock::kPortAccessNs + 57u * 2000u +
                              8u * 1000u + 20000000u;
    EXPECT_EQ(elapsed, expected);

    // MOSI changes with the falling edge before each rising one, never at a rising edge.
    const auto& ev = b.port.Events();
    for (size_t i = 1; i < ev.size(); ++i)
        if (ev[i].Op == PortOp::SetBit && ev[i].Arg == 0) {
            EXPECT_EQ(ev[i - 1].Op, PortOp::Out);
            EXPECT_EQ(ev[i - 1].Address, 0x378);
            EXPECT_EQ(ev[i - 1].Result & 0x01, 0);  // SCK low in that write
        }
}

TEST(T89sSequence, RawCommandReturnsTheFourthAnswerByte) {
    Bench b;
    b.port.SetResponder([](const Bytes& cmd, size_t index) -> uint8_t {
        // Lock-bit read: bits 4..2 report LB3..LB1, a programmed bit reads 1.
        return (index == 3 && cmd[0] == 0x24) ? 0x1C : 0x00;
    });
    EXPECT_EQ(Got(b.engine.RawCommand(0x24, 0x00, 0x00, 0x00)), 0x1C);
    EXPECT_EQ(b.engine.RxBytes[3], 0x1C);
    EXPECT_EQ(b.engine.RxBytes[0], 0x00);
}

}  // namespace
}  // namespace tondrel
