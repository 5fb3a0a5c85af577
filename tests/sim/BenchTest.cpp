// The bench at connector level: register inversions, the adapter's controller, the cables,
// target gating, the state file and the virtual connector's shadow registers.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "adapter/Controller.h"
#include "sim/Bench.h"
#include "tests/support/BenchRig.h"
#include "tests/support/Results.h"

namespace tondrel::sim {
namespace {

// Remembers every set of lines the adapter presents.
class ProbeChip : public TargetChip {
  public:
    explicit ProbeChip(std::vector<TargetLines>& log) : log_(log) {}
    std::string Name() const override { return "PROBE"; }
    void SetLines(const TargetLines& lines, uint64_t) override { log_.push_back(lines); }
    bool DataOut(uint64_t) override { return Out; }
    void SaveState(std::ostream&) const override {}
    bool LoadState(std::istream&) override { return true; }
    bool Out = false;

  private:
    std::vector<TargetLines>& log_;
};

using Rig = testsupport::BenchRig;
using testsupport::OnBench;

BenchOptions With(AdapterKind kind) {
    return OnBench("", kind);
}

TEST(BenchConnector, ControlInversionsAndTargetLines) {
    std::vector<TargetLines> log;
    Rig rig(With(AdapterKind::Gen2), std::make_unique<ProbeChip>(log));
    rig.Pins.WriteControlPort(0);
    EXPECT_EQ(rig.BenchObj.ReadControl(), 0x0B);  // all four pins low
    EXPECT_TRUE(rig.BenchObj.TargetConnected());

    rig.Pins.SetPin(14, true);  // enable pin to its idle level
    EXPECT_EQ(rig.BenchObj.ReadControl(), 0x09);
    EXPECT_FALSE(rig.BenchObj.TargetConnected());
    EXPECT_FALSE(log.back().Connected);
    EXPECT_EQ(log.back(), TargetLines{});

    rig.Pins.SetPin(14, false);
    rig.Pins.SetPin(16, true);
    rig.Pins.SetPin(1, true);
    rig.Pins.SetPin(17, true);
    EXPECT_EQ(rig.BenchObj.ReadControl(), 0x06);  // pin 14 low keeps bit 1 set

    rig.Pins.SetPin(2, true);  // D0 = SCK
    rig.Pins.SetPin(3, true);  // D1 = RST
    rig.Pins.SetPin(8, true);  // D6 = MOSI
    EXPECT_EQ(rig.BenchObj.ReadData(), 0x43);
    TargetLines want;
    want.Connected = want.Sck = want.Rst = want.Mosi = true;
    EXPECT_EQ(log.back(), want);
    rig.Pins.SetPin(4, true);  // D2 = PIC mode line
    EXPECT_TRUE(log.back().Mode);

    // Data lines turned into inputs float: the target sees them high, the register reads 0xFF.
    rig.BenchObj.SetDataReverse(true);
    EXPECT_EQ(rig.BenchObj.ReadData(), 0xFF);
    rig.BenchObj.SetDataReverse(false);
    EXPECT_EQ(rig.BenchObj.ReadData(), 0x47);
}

TEST(BenchConnector, MisoOnPin11WithBusyInversion) {
    std::vector<TargetLines> log;
    auto chip = std::make_unique<ProbeChip>(log);
    ProbeChip* probe = chip.get();
    Rig rig(With(AdapterKind::Gen1Fw1), std::move(chip));
    rig.Pins.WriteControlPort(0);
    probe->Out = true;
    EXPECT_EQ(rig.BenchObj.ReadStatus(), 0x07);  // BUSY high reads 0 in the register
    EXPECT_TRUE(rig.Pins.GetPin(11));
    probe->Out = false;
    EXPECT_EQ(rig.BenchObj.ReadStatus(), 0x87);
    EXPECT_FALSE(rig.Pins.GetPin(11));
    // Disconnected, the line floats high whatever the chip drives.
    rig.Pins.SetPin(14, true);
    EXPECT_TRUE(rig.Pins.GetPin(11));
}

// The program's identification and the simulated controller read one table: every kind of
// adapter is told apart, with a chip on it or none.
TEST(BenchAdapter, DetectionRecognisesEveryKind) {
    using adapter::AdapterIdentity;
    using Kind = adapter::AdapterKind;
    const std::pair<AdapterKind, AdapterIdentity> cases[] = {
        {AdapterKind::Gen1Fw1, {Kind::Gen1, 1, {}}},
        {AdapterKind::Gen1Fw2, {Kind::Gen1, 2, {}}},
        {AdapterKind::Gen2, {Kind::Gen2, 1, {}}},
        {AdapterKind::ByteBlaster, {Kind::Altera, 0, "ByteBlaster"}},
        {AdapterKind::ByteBlasterMV, {Kind::Altera, 0, "ByteBlasterMV"}},
        {AdapterKind::Nothing, {}},
    };
    for (const auto& [kind, want] : cases) {
        for (const char* chip : {"", "AT89S52"}) {
            BenchOptions o = With(kind);
            if (kind != AdapterKind::ByteBlaster && kind != AdapterKind::ByteBlasterMV &&
                kind != AdapterKind::Nothing)
                o.ChipName = chip;
            Rig rig(o);
            ASSERT_TRUE(rig.BenchObj.Error().Ok()) << rig.BenchObj.Error();
            const AdapterIdentity seen = adapter::Identify(rig.Pins);
            EXPECT_EQ(seen.Kind, want.Kind) << static_cast<int>(kind) << " chip '" << chip << "'";
            EXPECT_EQ(seen.Firmware, want.Firmware) << static_cast<int>(kind);
            EXPECT_EQ(seen.Cable, want.Cable) << static_cast<int>(kind);
        }
    }
}

TEST(BenchAdapter, EmptyPortFloatsHigh) {
    Rig rig(With(AdapterKind::Nothing));
    EXPECT_EQ(rig.BenchObj.ReadStatus(), 0x7F);
    EXPECT_EQ(rig.Pins.ReadStatusPort(), 0xFF);
}

TEST(BenchAdapter, AnswerLastsUntilTheLinesChange) {
    Rig rig(With(AdapterKind::Gen2));
    adapter::SendHandshake(rig.Pins, 14);
    EXPECT_EQ(rig.Pins.ReadStatusPort() & 0xF8, 0xA0);
    EXPECT_EQ(rig.Pins.ReadStatusPort() & 0xF8, 0xA0);  // reading does not end it
    rig.Pins.WriteDataPort(0x00);                       // same level: the controller sees nothing
    EXPECT_EQ(rig.Pins.ReadStatusPort() & 0xF8, 0xA0);
    rig.Pins.SetPin(2, true);
    EXPECT_EQ(rig.Pins.ReadStatusPort() & 0xF8, 0x80);  // back to MISO floating high
}

TEST(BenchAdapter, BrokenHandshakeIsIgnored) {
    Rig rig(With(AdapterKind::Gen1Fw2));
    rig.Pins.WriteControlPort(14);
    rig.Pins.WriteDataPort(0xAC);
    rig.Pins.WriteDataPort(0xAB);
    rig.Pins.WriteDataPort(0x00);
    rig.Pins.WriteControlPort(0);
    EXPECT_EQ(rig.Pins.ReadStatusPort() & 0xF8, 0x80);
    // A data change between the last data write and the final control write breaks it too.
    rig.Pins.WriteControlPort(1);
    rig.Pins.WriteDataPort(0xAC);
    rig.Pins.WriteDataPort(0xAA);
    rig.Pins.WriteDataPort(0x00);
    rig.Pins.WriteDataPort(0x01);
    rig.Pins.WriteControlPort(0);
    EXPECT_EQ(rig.BenchObj.DownloadMode(), 0);
}

TEST(BenchAdapter, RemembersTheModeItWasTold) {
    Rig rig(With(AdapterKind::Gen2));
    EXPECT_EQ(rig.BenchObj.DownloadMode(), 0);
    for (uint8_t code : {3, 8, 11, 10, 9, 1}) {
        adapter::SendHandshake(rig.Pins, code);
        EXPECT_EQ(rig.BenchObj.DownloadMode(), code);
    }
    adapter::SendHandshake(rig.Pins, 14);  // identification leaves the mode alone
    EXPECT_EQ(rig.BenchObj.DownloadMode(), 1);
    // A mode with no code: only data 0 and control 0 go out.
    rig.Pins.WriteDataPort(0);
    rig.Pins.WriteControlPort(0);
    EXPECT_EQ(rig.BenchObj.DownloadMode(), 1);

    Rig cable(With(AdapterKind::ByteBlaster));
    adapter::SendHandshake(cable.Pins, 1);
    EXPECT_EQ(cable.BenchObj.DownloadMode(), 0);  // a cable has no controller to tell
}

TEST(BenchNames, ParseEveryForm) {
    struct Case {
        const char* Text;
        AdapterKind Kind;
        const char* Chip;
    } cases[] = {
        {"sim:AT89S52", AdapterKind::Gen2, "AT89S52"},
        {"SIM:at89s51@GEN1", AdapterKind::Gen1Fw1, "at89s51"},
        {"sim:AT89S52@gen1v2", AdapterKind::Gen1Fw2, "AT89S52"},
        {"sim:AT89S52@gen2", AdapterKind::Gen2, "AT89S52"},
        {"sim:empty", AdapterKind::Gen2, ""},
        {"sim:empty@gen1", AdapterKind::Gen1Fw1, ""},
        {"sim:none", AdapterKind::Nothing, ""},
        {"sim:ByteBlaster", AdapterKind::ByteBlaster, ""},
        {"sim:byteblastermv", AdapterKind::ByteBlasterMV, ""},
    };
    for (const auto& c : cases) {
        const auto o = ParseBenchName(c.Text);
        ASSERT_TRUE(o.Ok()) << c.Text << ": " << English(o);
        EXPECT_EQ(o->Adapter, c.Kind) << c.Text;
        EXPECT_EQ(o->ChipName, c.Chip) << c.Text;
    }
    for (const char* bad :
         {"AT89S52", "sim:", "sim:NOSUCHCHIP", "sim:AT89S52@gen3", "sim:none@gen1", "lpt1"})
        EXPECT_FALSE(ParseBenchName(bad).Ok()) << bad;
}

TEST(BenchNames, UnknownChipIsAnErrorNotACrash) {
    VirtualClock clock;
    BenchOptions o;
    o.ChipName = "AT89C2051";
    Bench bench(clock, o);
    EXPECT_EQ(bench.Error(), Status::Error("SimNoSuchChip", "AT89C2051"));
    EXPECT_EQ(bench.Chip(), nullptr);
    EXPECT_EQ(bench.ReadStatus() & 0x80, 0);  // MISO floats high
}

// The same pin sequence through a literal read-modify-write port and a shadowing one must put
// the same levels on the connector; the shadowing one must need fewer accesses.
TEST(SimPortShadow, SameLevelsFewerAccesses) {
    Rig literal(With(AdapterKind::Gen2), nullptr, false);
    Rig shadow(With(AdapterKind::Gen2), nullptr, true);
    const std::pair<uint8_t, bool> steps[] = {{14, false}, {3, true},  {2, true},  {2, true},
                                              {8, true},   {2, false}, {8, false}, {16, true},
                                              {1, true},   {17, true}, {14, true}, {9, true}};
    for (Rig* r : {&literal, &shadow}) r->Pins.WriteControlPort(0), r->Port.ResetCounters();
    for (const auto& [pin, level] : steps) {
        const uint64_t l0 = literal.Port.Accesses(), s0 = shadow.Port.Accesses();
        literal.Pins.SetPin(pin, level);
        shadow.Pins.SetPin(pin, level);
        EXPECT_EQ(literal.BenchObj.ReadData(), shadow.BenchObj.ReadData());
        EXPECT_EQ(literal.BenchObj.ReadControl(), shadow.BenchObj.ReadControl());
        EXPECT_EQ(literal.Port.Accesses() - l0, 2u);
        EXPECT_LE(shadow.Port.Accesses() - s0, 1u);
    }
    // Pin 14 already low and the repeated SCK high cost the shadowing port nothing.
    EXPECT_EQ(shadow.Port.Accesses(), 10u);
    EXPECT_EQ(literal.Clock.Peek(),
              (1 + 24) * VirtualClock::kPortAccessNs);  // with WriteControlPort(0)
}

// With the data lines turned into inputs a read of the data register gives the lines, and the
// control register keeps only its line bits: a bit change through the shadow must still write
// what a read-modify-write would, so both ports end with the same latch and direction.
TEST(SimPortShadow, BitChangesMatchReadModifyWriteWhileDataLinesAreInputs) {
    Rig literal(With(AdapterKind::Gen2), nullptr, false);
    Rig shadow(With(AdapterKind::Gen2), nullptr, true);
    for (Rig* r : {&literal, &shadow}) {
        r->Pins.WriteDataPort(0x05);
        r->Pins.WriteControlPort(adapter::kControlDataInput);  // data lines turn round
        r->Pins.SetPin(3, true);  // the lines read 0xFF, so that is what the latch gets
        r->Pins.SetPin(1, true);  // the control read has no direction bit: they turn forward
        r->Pins.SetPin(2, false);
    }
    EXPECT_EQ(literal.BenchObj.ReadData(), shadow.BenchObj.ReadData());
    EXPECT_EQ(literal.BenchObj.ReadControl(), shadow.BenchObj.ReadControl());
    EXPECT_EQ(shadow.BenchObj.ReadData(), 0xFE);
}

TEST(BenchState, RoundTripAndRefusals) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tondrel-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "chip.state").string();
    std::filesystem::remove(file);

    VirtualClock clock;
    BenchOptions o;
    o.ChipName = "AT89S52";
    o.StateFile = file;
    {
        Bench fresh(clock, o);
        EXPECT_TRUE(fresh.Error().Ok());  // no file yet: a blank chip
        const Status saved = fresh.SaveState();
        ASSERT_TRUE(saved.Ok()) << saved;
    }
    {
        Bench again(clock, o);
        EXPECT_TRUE(again.Error().Ok()) << again.Error();
    }
    BenchOptions other = o;
    other.ChipName = "AT89S51";
    {
        Bench wrong(clock, other);
        EXPECT_EQ(wrong.Error(), Status::Error("SimStateOtherChip", file, "AT89S52", "AT89S51"));
    }
    // A truncated file is refused as a whole.
    std::string text;
    {
        std::ifstream in(file);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    {
        std::ofstream out(file, std::ios::trunc);
        out << text.substr(0, text.size() / 2);
    }
    {
        Bench damaged(clock, o);
        EXPECT_EQ(damaged.Error(), Status::Error("SimStateDamaged", file));
    }
    {
        std::ofstream out(file, std::ios::trunc);
        out << "hello\n";
    }
    {
        Bench foreign(clock, o);
        EXPECT_EQ(foreign.Error(), Status::Error("SimStateForeign", file));
    }
    BenchOptions noFile;
    noFile.ChipName = "AT89S52";
    Bench unsaved(clock, noFile);
    EXPECT_EQ(unsaved.SaveState(), Status::Error("SimNoStateFile"));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tondrel::sim
