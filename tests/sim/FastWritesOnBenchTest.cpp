// What the chips do with writes that come faster than they can program them: a write that
// arrives while the chip is still busy with the previous one is lost. The stream is the one the
// engines' write operations send with verification off: each write instruction straight after
// the previous one, framed and clocked as the serial engines do at the fastest speed. Paced at
// the chip's worst-case write time, the same stream loses nothing.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "engines/Engines.h"
#include "engines/T89s.h"
#include "engines/Tavr.h"
#include "sim/Bench.h"
#include "tests/support/BenchRig.h"
#include "tests/support/Results.h"

namespace tondrel::sim {
namespace {

using testsupport::Got;

using Frame = std::vector<uint8_t>;

struct Case {
    const char* Chip;
    Method MethodCode;
    int32_t Bytes;         // how many locations the stream writes
    bool Eeprom;           // data EEPROM instead of program memory
    uint32_t WorstCaseMs;  // longer than the chip's longest write cycle
    Frame (*Write)(int32_t address, uint8_t value);
};

Frame S52Write(int32_t a, uint8_t v) {
    return {0x40, uint8_t(a >> 8), uint8_t(a), v};
}
Frame AvrFlashWrite(int32_t a, uint8_t v) {
    return {uint8_t(a & 1 ? 0x48 : 0x40), uint8_t(a >> 9), uint8_t(a >> 1), v};
}
Frame AvrEepromWrite(int32_t a, uint8_t v) {
    return {0xC0, uint8_t(a >> 8), uint8_t(a), v};
}
Frame S8252EepromWrite(int32_t a, uint8_t v) {
    return {uint8_t((a >> 8) << 3 | 6), uint8_t(a), v};
}

const Case kCases[] = {
    {"AT89S52", Method::At89s, 256, false, 2, S52Write},
    {"AT90S2313", Method::Avr, 128, false, 25, AvrFlashWrite},
    {"ATmega16", Method::Avr, 256, true, 25, AvrEepromWrite},
    {"AT89S8252", Method::At89s8252, 256, true, 5, S8252EepromWrite},
};

struct Desk : testsupport::BenchRig {
    explicit Desk(const Case& c) : BenchRig(Options(c.Chip)) {
        Current.CurrentChipName = c.Chip;
        Current.CurrentMethodCode = c.MethodCode;
        Current.FlashSize = 8192;
        Current.EEPROMSize = 2048;
        Engine = MakeEngine(c.MethodCode, Env);
        Engine->InitPinMap();
        Engine->SetPortBase(0x378);
    }
    static BenchOptions Options(const char* chip) {
        BenchOptions o = testsupport::OnBench(chip);
        // A crystal fast enough for a clock phase of one port access: this test is about
        // write cycles, not about the serial-clock limit of a factory-fresh chip.
        o.Faults.ClockHz = 16'000'000;
        return o;
    }

    // One instruction on the engines' default pins (SCK 2, MOSI 8, MISO 11), bit by bit as
    // their byte shift does it, at 2 us a clock phase (the AT89S8252 takes no more than 1/40 of
    // its 12 MHz crystal): the edge's access, then the rest of the phase.
    void Send(const Frame& frame) {
        constexpr uint64_t kRestOfPhaseNs = 1000;
        for (uint8_t byte : frame) {
            for (int bit = 7; bit >= 0; --bit) {
                Pins.SetPin(2, false);
                Clock.WaitNs(kRestOfPhaseNs);
                Pins.SetPin(8, ((byte >> bit) & 1) != 0);
                Pins.SetPin(2, true);
                Clock.WaitNs(kRestOfPhaseNs);
                Pins.GetPin(11);
            }
            Pins.SetPin(2, false);
            Clock.WaitNs(kRestOfPhaseNs);
        }
    }

    std::unique_ptr<Tpro> Engine;
};

// Writes `image` with `gapMs` between instructions; returns the addresses that did not keep
// their byte.
std::vector<int32_t> LostBytes(const Case& c, const std::vector<uint8_t>& image, uint32_t gapMs) {
    Desk desk(c);
    (void)desk.Engine->EnterProgramming();
    for (int32_t a = 0; a < c.Bytes; ++a) {
        desk.Send(c.Write(a, image[size_t(a)]));
        desk.Clock.SleepMs(gapMs);
    }
    desk.Clock.SleepMs(c.WorstCaseMs);
    std::vector<int32_t> lost;
    for (int32_t a = 0; a < c.Bytes; ++a) {
        const uint8_t got =
            c.Eeprom ? Got(desk.Engine->ReadEepromByte(a)) : Got(desk.Engine->ReadFlashByte(a));
        if (got != image[size_t(a)]) lost.push_back(a);
    }
    (void)desk.Engine->LeaveProgramming();
    return lost;
}

TEST(FastWritesOnBench, WritesSentWhileTheChipIsBusyAreLost) {
    for (const Case& c : kCases) {
        std::mt19937 random(13);
        std::vector<uint8_t> image(size_t(c.Bytes));
        for (auto& b : image) b = static_cast<uint8_t>(random() % 0xFF);  // no blank bytes

        // Straight after one another: the first write is taken, the next one arrives inside
        // its cycle, and most of the stream is lost.
        const auto fast = LostBytes(c, image, 0);
        ASSERT_FALSE(fast.empty()) << c.Chip;
        EXPECT_NE(fast.front(), 0) << c.Chip << ": the first write finds the chip idle";
        EXPECT_EQ(fast.front(), 1) << c.Chip;
        EXPECT_GT(fast.size(), size_t(c.Bytes) / 2) << c.Chip;

        // Each write given the chip's worst-case write time: nothing is lost.
        EXPECT_TRUE(LostBytes(c, image, c.WorstCaseMs).empty()) << c.Chip;
    }
}

}  // namespace
}  // namespace tondrel::sim
