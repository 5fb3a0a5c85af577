// The AT89S51/52 model driven at line level by a small SPI master of the test's own: mode 0,
// MSB first, data set up while SCK is low and the answer sampled with SCK high.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "sim/Bench.h"
#include "tests/support/BenchRig.h"
#include "tests/support/Results.h"

namespace tondrel::sim {
namespace {

using Frame = std::array<uint8_t, 4>;

struct Master : testsupport::BenchRig {
    explicit Master(BenchOptions options) : BenchRig(std::move(options), nullptr, true, 0x278) {}

    void Phase() { Clock.Advance(PhaseNs); }

    // Adapter on, RST high, then the programming enable; returns its fourth answer byte.
    uint8_t Enter(bool enable = true) {
        Pins.WriteControlPort(0);
        Pins.SetPin(14, !enable);  // active level low
        Pins.SetPin(3, false);
        Pins.SetPin(8, false);
        Pins.SetPin(2, false);
        Clock.SleepMs(10);
        Pins.SetPin(3, true);
        Clock.SleepMs(10);
        return Send({0xAC, 0x53, 0x00, 0x00})[3];
    }

    Frame Send(Frame tx) {
        Frame rx{};
        for (size_t i = 0; i < tx.size(); ++i) {
            for (int bit = 7; bit >= 0; --bit) {
                Pins.SetPin(2, false);
                Pins.SetPin(8, (tx[i] >> bit) & 1);
                Phase();
                Pins.SetPin(2, true);
                Phase();
                if (Pins.GetPin(11)) rx[i] |= static_cast<uint8_t>(1u << bit);
            }
            Pins.SetPin(2, false);
        }
        return rx;
    }

    uint8_t Read(uint16_t address) {
        return Send(
            {0x20, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0})[3];
    }
    void Write(uint16_t address, uint8_t value) {
        Send({0x40, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), value});
    }
    // A write or a command, then a wait longer than the self-timed cycle it starts.
    void Program(uint16_t address, uint8_t value) {
        Write(address, value);
        Clock.SleepMs(2);
    }
    void Settled(Frame tx) {
        Send(tx);
        Clock.SleepMs(2);
    }
    std::array<uint8_t, 3> Signature() {
        return {Send({0x28, 0, 0, 0})[3], Send({0x28, 1, 0, 0})[3], Send({0x28, 2, 0, 0})[3]};
    }

    uint64_t PhaseNs = 0;
};

BenchOptions Chip(const char* name) {
    return testsupport::OnBench(name);
}

TEST(At89s5xChip, EnableAnswerAndSignature) {
    Master s52(Chip("AT89S52"));
    ASSERT_TRUE(s52.BenchObj.Error().Ok()) << s52.BenchObj.Error();
    EXPECT_EQ(s52.Enter(), 0x69);
    EXPECT_EQ(s52.Signature(), (std::array<uint8_t, 3>{0x1E, 0x52, 0x06}));

    Master s51(Chip("at89s51"));
    EXPECT_EQ(s51.Enter(), 0x69);
    EXPECT_EQ(s51.Signature(), (std::array<uint8_t, 3>{0x1E, 0x51, 0x06}));
    // Address bit A7 travels in byte 3; 0x080 is no signature location.
    EXPECT_EQ(s51.Send({0x28, 0x00, 0x80, 0x00})[3], 0xFF);
}

TEST(At89s5xChip, NothingWithoutRstAndProgrammingEnable) {
    Master m(Chip("AT89S52"));
    m.Pins.WriteControlPort(0);
    // RST low: the chip is running, MISO is a pulled-up port pin.
    EXPECT_EQ(m.Send({0xAC, 0x53, 0, 0})[3], 0xFF);
    m.Pins.SetPin(3, true);
    m.Clock.SleepMs(10);
    // In reset but not yet enabled: commands are not answered.
    EXPECT_EQ(m.Send({0x28, 0, 0, 0})[3], 0xFF);
    m.Write(0x10, 0x00);
    m.Clock.SleepMs(5);
    EXPECT_EQ(m.Send({0xAC, 0x53, 0, 0})[3], 0x69);
    EXPECT_EQ(m.Read(0x10), 0xFF);  // the early write was not taken
    // Leaving reset drops the enable.
    m.Pins.SetPin(3, false);
    m.Pins.SetPin(3, true);
    EXPECT_EQ(m.Send({0x28, 0, 0, 0})[3], 0xFF);
}

TEST(At89s5xChip, TargetOnlyWhileEnablePinActive) {
    Master m(Chip("AT89S52"));
    EXPECT_EQ(m.Enter(false), 0xFF);  // pin 14 idle: the chip never sees the lines
    EXPECT_EQ(m.Enter(true), 0x69);
    m.Pins.SetPin(14, true);  // disconnecting drops RST as well
    m.Pins.SetPin(14, false);
    EXPECT_EQ(m.Send({0x28, 0, 0, 0})[3], 0xFF);
}

TEST(At89s5xChip, ByteWriteIsSelfTimed) {
    Master m(Chip("AT89S52"));
    m.Enter();
    m.Write(0x1234, 0x5A);
    const uint64_t written = m.Clock.Peek();
    EXPECT_EQ(m.Read(0x1234), 0xDA);  // data polling: the top bit inverted until the cycle ends
    EXPECT_EQ(m.Read(0x1233), 0xFF);  // other bytes read as they are
    m.Write(0x0001, 0x00);            // taken during the cycle? it must not be
    while (m.Read(0x1234) != 0x5A) ASSERT_LT(m.Clock.Peek() - written, 2'000'000u);
    // tSWC = 64 oscillator periods + 400 us (12 MHz crystal).
    const uint64_t took = m.Clock.Peek() - written;
    EXPECT_GE(took, 405'000u);
    EXPECT_EQ(m.Read(0x0001), 0xFF);
    // Address bits above the array wrap: 0x3234 is 0x1234 on an 8 KiB chip.
    EXPECT_EQ(m.Read(0x3234), 0x5A);
}

TEST(At89s5xChip, ProgrammingClearsBitsOnlyAndEraseRestores) {
    Master m(Chip("AT89S52"));
    m.Enter();
    m.Program(0x0100, 0xF0);
    m.Program(0x0100, 0x0F);
    EXPECT_EQ(m.Read(0x0100), 0x00);

    m.Send({0xAC, 0x80, 0, 0});
    m.Clock.SleepMs(100);
    EXPECT_EQ(m.Read(0x0100), 0xFF);  // erasing: the chip does not answer
    EXPECT_EQ(m.Send({0x28, 0, 0, 0})[3], 0xFF);
    m.Clock.SleepMs(399);  // tERASE is 500 ms
    EXPECT_EQ(m.Send({0x28, 0, 0, 0})[3], 0xFF);
    m.Clock.SleepMs(1);
    EXPECT_EQ(m.Send({0x28, 0, 0, 0})[3], 0x1E);
    EXPECT_EQ(m.Read(0x0100), 0xFF);
    m.Program(0x0100, 0x0F);
    EXPECT_EQ(m.Read(0x0100), 0x0F);
}

TEST(At89s5xChip, LockBits) {
    Master m(Chip("AT89S52"));
    m.Enter();
    m.Program(0x0000, 0x12);
    EXPECT_EQ(m.Send({0x24, 0, 0, 0})[3] & 0x1C, 0x00);

    m.Settled({0xAC, 0xE1, 0, 0});  // mode 2: no more programming
    EXPECT_EQ(m.Send({0x24, 0, 0, 0})[3] & 0x1C, 0x04);
    m.Program(0x0001, 0x34);
    EXPECT_EQ(m.Read(0x0001), 0xFF);
    EXPECT_EQ(m.Read(0x0000), 0x12);  // verification still works

    m.Settled({0xAC, 0xE2, 0, 0});  // mode 3: no verification either
    EXPECT_EQ(m.Send({0x24, 0, 0, 0})[3] & 0x1C, 0x0C);
    EXPECT_NE(m.Read(0x0000), 0x12);
    m.Settled({0xAC, 0xE0, 0, 0});  // lock bits are only cleared by erase
    EXPECT_EQ(m.Send({0x24, 0, 0, 0})[3] & 0x1C, 0x0C);
    m.Settled({0xAC, 0xE3, 0, 0});
    EXPECT_EQ(m.Send({0x24, 0, 0, 0})[3] & 0x1C, 0x1C);

    m.Send({0xAC, 0x80, 0, 0});
    m.Clock.SleepMs(500);
    EXPECT_EQ(m.Send({0x24, 0, 0, 0})[3] & 0x1C, 0x00);
    EXPECT_EQ(m.Read(0x0000), 0xFF);
}

TEST(At89s5xChip, MisoStuck) {
    for (bool level : {false, true}) {
        BenchOptions o = Chip("AT89S52");
        o.MisoStuck = level;
        Master m(o);
        const uint8_t all = level ? 0xFF : 0x00;
        EXPECT_EQ(m.Enter(), all);
        EXPECT_EQ(m.Signature(), (std::array<uint8_t, 3>{all, all, all}));
    }
}

TEST(At89s5xChip, SlowChipNeedsLongerPhases) {
    BenchOptions o = Chip("AT89S52");
    o.Faults.MinPhaseNs = 20'000;
    Master fast(o);
    EXPECT_NE(fast.Enter(), 0x69);
    EXPECT_NE(fast.Signature(), (std::array<uint8_t, 3>{0x1E, 0x52, 0x06}));
    Master slow(o);
    slow.PhaseNs = 20'000;
    EXPECT_EQ(slow.Enter(), 0x69);
    EXPECT_EQ(slow.Signature(), (std::array<uint8_t, 3>{0x1E, 0x52, 0x06}));
}

TEST(At89s5xChip, StuckByteNeverPrograms) {
    BenchOptions o = Chip("AT89S52");
    o.Faults.StuckAddress = 0x0042;
    Master m(o);
    m.Enter();
    m.Write(0x0042, 0x00);
    m.Write(0x0043, 0x00);  // busy? no: the stuck byte started no cycle
    m.Clock.SleepMs(2);
    EXPECT_EQ(m.Read(0x0042), 0xFF);
    EXPECT_EQ(m.Read(0x0043), 0x00);
}

TEST(At89s5xChip, StateFileKeepsMemoryAndLocks) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("tondrel-at89-" + std::to_string(::getpid()) + ".state");
    BenchOptions o = Chip("AT89S51");
    o.StateFile = file.string();
    {
        Master m(o);
        m.Enter();
        m.Program(0x0FFF, 0xA5);
        m.Write(0x0000, 0x3C);  // still in its write cycle when saved
        const Status saved = m.BenchObj.SaveState();
        ASSERT_TRUE(saved.Ok()) << saved;
    }
    {
        Master later(o);
        ASSERT_TRUE(later.BenchObj.Error().Ok()) << later.BenchObj.Error();
        later.Enter();
        EXPECT_EQ(later.Read(0x0FFF), 0xA5);
        EXPECT_EQ(later.Read(0x0000), 0x3C);
        EXPECT_EQ(later.Read(0x0001), 0xFF);
        later.Settled({0xAC, 0xE1, 0, 0});
        const Status saved = later.BenchObj.SaveState();
        ASSERT_TRUE(saved.Ok()) << saved;
    }
    Master locked(o);
    locked.Enter();
    EXPECT_EQ(locked.Send({0x24, 0, 0, 0})[3] & 0x1C, 0x04);
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace tondrel::sim
