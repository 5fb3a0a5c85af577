// The simulated AVR's serial clock limit and the bench option that fits a crystal.
#include <gtest/gtest.h>

#include "sim/AvrChip.h"
#include "sim/Bench.h"
#include "tests/support/Results.h"

namespace tondrel::sim {
namespace {

// Enters programming mode and sends programming enable with SCK phases of `phaseNs`; true when
// the chip echoed 0x53 in the third byte, i.e. it read every bit right.
bool EchoesAtPhase(TargetChip& chip, uint64_t phaseNs) {
    uint64_t now = 0;
    TargetLines l;
    l.Connected = true;
    l.Rst = true;
    chip.SetLines(l, now);
    l.Rst = false;
    now += 30'000'000;
    chip.SetLines(l, now);
    uint8_t echo = 0;
    const uint8_t frame[4] = {0xAC, 0x53, 0x00, 0x00};
    for (int i = 0; i < 4; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            l.Mosi = ((frame[i] >> bit) & 1) != 0;
            chip.SetLines(l, now);
            now += phaseNs;
            l.Sck = true;
            chip.SetLines(l, now);
            if (i == 2) echo = static_cast<uint8_t>(echo << 1 | (chip.DataOut(now) ? 1 : 0));
            now += phaseNs;
            l.Sck = false;
            chip.SetLines(l, now);
        }
    }
    return echo == 0x53;
}

TEST(AvrClock, PhasesShorterThanTwoCyclesOrThreeFromTwelveMegahertzAreMisread) {
    struct Case {
        uint32_t Hz;
        uint64_t PhaseNs;
        bool Read;
    };
    const Case cases[] = {
        {1'000'000, 1'999, false}, {1'000'000, 2'000, true}, {8'000'000, 249, false},
        {8'000'000, 250, true},    {16'000'000, 187, false}, {16'000'000, 188, true},
        {0, 1'999, false},         {0, 2'000, true},  // as it leaves the factory: 1 MHz
    };
    for (const Case& t : cases) {
        auto chip = CreateChip("ATmega16");
        chip->Faults.ClockHz = t.Hz;
        EXPECT_EQ(EchoesAtPhase(*chip, t.PhaseNs), t.Read) << t.Hz << " Hz, " << t.PhaseNs;
    }
}

TEST(AvrClock, BenchNameGivesTheCrystal) {
    struct Case {
        const char* Text;
        bool Ok;
        uint32_t Hz;
        AdapterKind Adapter;
        const char* Name;  // Bench::Name() of the result
    };
    const Case cases[] = {
        {"sim:ATmega16@16MHz", true, 16'000'000, AdapterKind::Gen2, "sim:ATmega16@16MHz"},
        {"sim:ATmega16@gen1@7.3728mhz", true, 7'372'800, AdapterKind::Gen1Fw1,
         "sim:ATmega16@gen1@7372800Hz"},
        {"sim:ATmega8@32768Hz@gen1v2", true, 32'768, AdapterKind::Gen1Fw2,
         "sim:ATmega8@gen1v2@32768Hz"},
        {"sim:ATmega8@500kHz", true, 500'000, AdapterKind::Gen2, "sim:ATmega8@500kHz"},
        {"sim:ATmega16", true, 0, AdapterKind::Gen2, "sim:ATmega16"},
        {"sim:ATmega16@fast", false, 0, AdapterKind::Gen2, ""},
        {"sim:ATmega16@1.2.3MHz", false, 0, AdapterKind::Gen2, ""},
        {"sim:ATmega16@MHz", false, 0, AdapterKind::Gen2, ""},
        {"sim:ATmega8@.5MHz", true, 500'000, AdapterKind::Gen2, "sim:ATmega8@500kHz"},
        {"sim:ATmega8@+8MHz", false, 0, AdapterKind::Gen2, ""},
        {"sim:ATmega8@0.4Hz", false, 0, AdapterKind::Gen2, ""},
        {"sim:ATmega8@101MHz", false, 0, AdapterKind::Gen2, ""},
        {"sim:none@16MHz", false, 0, AdapterKind::Gen2, ""},
        {"sim:empty@16MHz", false, 0, AdapterKind::Gen2, ""},
    };
    for (const Case& t : cases) {
        const auto o = ParseBenchName(t.Text);
        ASSERT_EQ(o.Ok(), t.Ok) << t.Text << ": " << English(o);
        if (!t.Ok) continue;
        EXPECT_EQ(o->Faults.BoardHz, t.Hz) << t.Text;
        EXPECT_EQ(o->Adapter, t.Adapter) << t.Text;
        VirtualClock clock;
        Bench bench(clock, *o);
        EXPECT_EQ(bench.Name(), t.Name);
        EXPECT_EQ(bench.Chip()->Faults.BoardHz, t.Hz) << t.Text;
    }
}

}  // namespace
}  // namespace tondrel::sim
