// Tpic / TpicA: framing on a wire that decodes the PIC serial traffic, and whole operations on
// simulated chips through the bench.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engines/Tpic.h"
#include "engines/TpicA.h"
#include "sim/Bench.h"
#include "sim/PicChip.h"
#include "sim/SimPort.h"
#include "sim/TargetChip.h"

namespace tondrel {
namespace {

constexpr uint16_t kBase = 0x378;

// A port whose data and control registers become the adapter's target lines (D0 clock, D1 VPP,
// D2 supply, D6 data, pin 14 low = drivers on). It records every change of the lines and decodes
// them the way a PIC takes them: entry when VPP rises after the supply with clock and data low,
// bits on the falling clock edge, LSB first, 6-bit commands, and a 16-bit frame after commands
// 0, 2, 3, 4 and 5. The data-in line reads `MisoLevel`.
class PicWire : public PortIo {
  public:
    explicit PicWire(VirtualClock& clock) : clock_(clock) {}

    uint8_t PortIn(uint16_t a) override {
        Access();
        if (a == kBase + 1) return MisoLevel ? 0x00 : 0x80;  // BUSY is inverted
        return a == kBase ? data_ : control_;
    }
    void PortOut(uint16_t a, uint8_t v) override {
        Access();
        Reg(a) = v;
        Changed();
    }
    void SetPortBit(uint16_t a, uint8_t b) override {
        Access();
        Reg(a) = static_cast<uint8_t>(Reg(a) | (1u << b));
        Changed();
    }
    void ClrPortBit(uint16_t a, uint8_t b) override {
        Access();
        Reg(a) = static_cast<uint8_t>(Reg(a) & ~(1u << b));
        Changed();
    }
    bool GetPortBit(uint16_t a, uint8_t b) override { return (PortIn(a) >> b) & 1u; }
    std::string Describe() const override { return "pic wire"; }

    // "E" entry, "L" leave, "C<n>" command, "=XXXX" frame data (hex), "!frame" bad start/stop.
    std::vector<std::string> Tokens() const {
        bool ignored = false;
        return Decode(ignored);
    }
    std::vector<std::string> Decode(bool& inProgram) const {
        std::vector<std::string> out;
        inProgram = startsInProgram_;
        int bits = 0, need = 6;
        uint32_t shift = 0;
        for (size_t i = 1; i < trace_.size(); ++i) {
            const auto& p = trace_[i - 1];
            const auto& c = trace_[i];
            const bool powered = c.Connected && c.Mode && c.Rst;
            if (!inProgram) {
                if (powered && p.Mode && !p.Rst && !c.Sck && !c.Mosi) {
                    inProgram = true;
                    bits = 0, need = 6, shift = 0;
                    out.push_back("E");
                }
                continue;
            }
            if (!powered) {
                inProgram = false;
                out.push_back("L");
                continue;
            }
            if (!(p.Sck && !c.Sck)) continue;
            shift |= uint32_t{c.Mosi} << bits;
            if (++bits < need) continue;
            if (need == 6) {
                out.push_back("C" + std::to_string(shift));
                need = (shift <= 5 && shift != 1) ? 16 : 6;
            } else {
                char buf[8];
                std::snprintf(buf, sizeof buf, "=%04X", (shift >> 1) & 0x3FFF);
                out.push_back((shift & 0x8001) ? "!frame" : buf);
                need = 6;
            }
            bits = 0, shift = 0;
        }
        return out;
    }
    // Data-line levels at each falling clock edge, after the last entry.
    std::string FallingBits() const {
        std::string s;
        for (size_t i = 1; i < trace_.size(); ++i) {
            if (trace_[i - 1].Sck && !trace_[i].Sck) s += trace_[i].Mosi ? '1' : '0';
            if (!trace_[i - 1].Rst && trace_[i].Rst && trace_[i].Mode) s.clear();
        }
        return s;
    }
    // Forgets the traffic so far; decoding goes on from the state it left.
    void Clear() {
        Decode(startsInProgram_);
        trace_.assign(1, trace_.back());
    }

    bool MisoLevel = false;
    uint64_t Accesses = 0;

  private:
    uint8_t& Reg(uint16_t a) { return a == kBase ? data_ : control_; }
    void Access() {
        ++Accesses;
        clock_.PortAccess();
    }
    void Changed() {
        sim::TargetLines l;
        l.Connected = (control_ & 0x02) != 0;  // pin 14 physically low
        l.Sck = data_ & 0x01;
        l.Rst = data_ & 0x02;
        l.Mode = data_ & 0x04;
        l.Mosi = data_ & 0x40;
        if (trace_.empty() || !(trace_.back() == l)) trace_.push_back(l);
    }

    VirtualClock& clock_;
    uint8_t data_ = 0;
    uint8_t control_ = 0;
    std::vector<sim::TargetLines> trace_{sim::TargetLines{}};
    bool startsInProgram_ = false;
};

struct WireRig {
    VirtualClock clock;
    PicWire wire{clock};
    CurrentChip chip;
    EngineEnv env{&wire, &clock, &chip};
    Tpic pic{env};
    explicit WireRig(int32_t flashBytes = 16384) {
        chip.FlashSize = flashBytes;
        pic.InitPinMap();
        pic.SetPortBase(kBase);
    }
};

std::vector<std::string> Repeat(const std::string& token, int n) {
    return std::vector<std::string>(static_cast<size_t>(n), token);
}
std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(TpicFraming, CommandsAndFramesGoLsbFirstBetweenStartAndStopBits) {
    WireRig r;
    r.pic.SetAutoVerify(false);
    r.pic.EnterProgramming();
    r.wire.Clear();
    r.pic.WriteFlashByte(0, 0x35);
    r.pic.WriteFlashByte(1, 0x12);
    // Load Data (2 = 010000), frame 0 + 0x1235 LSB first + 0, Begin Programming (8 = 000100),
    // Increment Address (6 = 011000).
    EXPECT_EQ(r.wire.FallingBits(),
              "010000"
              "0"
              "10101100010010"
              "0"
              "000100"
              "011000");
}

TEST(TpicFraming, EvenByteWaitsForItsHighByteAndNothingIsSent) {
    WireRig r;
    r.pic.EnterProgramming();
    const uint64_t before = r.wire.Accesses;
    EXPECT_TRUE(r.pic.WriteFlashByte(0, 0x34));
    EXPECT_EQ(r.wire.Accesses, before);

    r.pic.SetAutoVerify(false);
    r.wire.Clear();
    EXPECT_TRUE(r.pic.WriteFlashByte(1, 0x12));
    EXPECT_EQ(r.wire.Tokens(), (std::vector<std::string>{"C2", "=1234", "C8", "C6"}));
}

TEST(TpicFraming, BlankWordCostsOneIncrementUnlessWriteBlank) {
    WireRig r;
    r.pic.SetAutoVerify(false);
    r.pic.EnterProgramming();
    r.wire.Clear();
    r.pic.WriteFlashByte(0, 0xFF);
    EXPECT_TRUE(r.pic.WriteFlashByte(1, 0x3F));
    EXPECT_EQ(r.wire.Tokens(), (std::vector<std::string>{"C6"}));

    r.pic.SetWriteBlank(true);
    r.wire.Clear();
    r.pic.WriteFlashByte(2, 0xFF);
    r.pic.WriteFlashByte(3, 0x3F);
    EXPECT_EQ(r.wire.Tokens(), (std::vector<std::string>{"C2", "=3FFF", "C8", "C6"}));
}

TEST(TpicFraming, ConfigurationWordsAreReachedByReEntry) {
    WireRig r;
    r.pic.SetAutoVerify(false);
    r.pic.EnterProgramming();
    r.wire.Clear();
    r.pic.WriteFlashByte(0x400E, 0xF1);
    EXPECT_TRUE(r.pic.WriteFlashByte(0x400F, 0x3F));
    const auto config =
        Join({{"L", "E", "C0", "=3FF1"}, Repeat("C6", 7), {"C2", "=3FF1", "C8", "C6"}});
    EXPECT_EQ(r.wire.Tokens(), config);

    r.wire.Clear();
    r.pic.WriteFlashByte(0x4006, 0x02);
    r.pic.WriteFlashByte(0x4007, 0x00);  // user ID 0x2003: three steps
    EXPECT_EQ(r.wire.Tokens(),
              Join({{"L", "E", "C0", "=0002"}, Repeat("C6", 3), {"C2", "=0002", "C8", "C6"}}));

    // 0x2005 (reserved) and 0x2006 (device ID) are never written.
    const uint64_t before = r.wire.Accesses;
    for (int32_t a = 0x400A; a <= 0x400D; ++a) EXPECT_TRUE(r.pic.WriteFlashByte(a, 0x00));
    EXPECT_EQ(r.wire.Accesses, before);
}

TEST(TpicFraming, SizeGuardFollowsTheChipsProgramMemory) {
    struct Case {
        int32_t flashBytes;
        int32_t firstOutside;
    };
    for (const Case c :
         {Case{4096, 0x800}, Case{8192, 0x1000}, Case{2048, 0x400}, Case{16384, 0x2000}}) {
        WireRig r(c.flashBytes);
        r.pic.SetAutoVerify(false);
        r.pic.EnterProgramming();
        const int32_t inside = c.firstOutside - 1;
        r.wire.Clear();
        r.pic.WriteFlashByte(inside * 2, 0x34);
        EXPECT_TRUE(r.pic.WriteFlashByte(inside * 2 + 1, 0x12));
        EXPECT_EQ(r.wire.Tokens().front(), "C2") << c.flashBytes;
        if (c.firstOutside >= 0x2000) continue;

        const uint64_t before = r.wire.Accesses;
        r.pic.WriteFlashByte(c.firstOutside * 2, 0x34);
        EXPECT_FALSE(r.pic.WriteFlashByte(c.firstOutside * 2 + 1, 0x12)) << c.flashBytes;
        EXPECT_EQ(r.wire.Accesses, before);

        // A blank word out there is never programmed, even with WriteBlank on: the counter has
        // wrapped onto the program.
        r.pic.SetWriteBlank(true);
        r.wire.Clear();
        r.pic.WriteFlashByte(c.firstOutside * 2 + 2, 0xFF);
        EXPECT_TRUE(r.pic.WriteFlashByte(c.firstOutside * 2 + 3, 0x3F));
        EXPECT_EQ(r.wire.Tokens(), (std::vector<std::string>{"C6"}));
    }
}

TEST(TpicFraming, RawCommandOperations) {
    WireRig r;
    r.wire.Clear();
    r.pic.RawCommand(17, 0x3F, 0xF1, 0x99);
    EXPECT_EQ(r.wire.Tokens(),
              Join({{"E", "C0", "=3FFF"}, Repeat("C6", 7), {"C2", "=3FF1", "C8", "L"}}));

    r.wire.Clear();
    r.pic.RawCommand(2, 0, 0, 0);
    EXPECT_EQ(r.wire.Tokens(), Join({{"E", "C0", "=3FFF"}, Repeat("C6", 2), {"C4", "=3FFF", "L"}}));

    r.wire.Clear();
    r.pic.RawCommand(12, 0x00, 0x7F, 0);
    EXPECT_EQ(r.wire.Tokens(),
              Join({{"E", "C0", "=3FFF"}, Repeat("C6", 2), {"C2", "=007F", "C8", "L"}}));

    r.wire.Clear();
    r.pic.RawCommand(5, 1, 2, 3);  // unknown: only the leave sequence
    EXPECT_EQ(r.wire.Tokens(), std::vector<std::string>{});
    EXPECT_GT(r.wire.Accesses, 0u);

    r.wire.Clear();
    r.pic.RawCommand(20, 0, 0, 0);
    EXPECT_EQ(r.wire.Tokens(),
              Join({{"E", "C0", "=3FFF"}, Repeat("C6", 7), {"C1", "C7", "C8", "C1", "C7", "L"}}));

    TpicA a(r.env);
    a.InitPinMap();
    a.SetPortBase(kBase);
    r.wire.Clear();
    a.RawCommand(20, 0, 0, 0);
    // The Load Configuration has no data word: the second Chip Erase goes out as the first
    // six bits of its frame and the chip leaves programming mode before the frame ends.
    EXPECT_EQ(r.wire.Tokens(), (std::vector<std::string>{"E", "C31", "C0", "L"}));
    EXPECT_EQ(r.wire.FallingBits(),
              "111110"
              "000000"
              "111110");
}

TEST(TpicFraming, EraseSequences) {
    WireRig r;
    r.pic.EnterProgramming();
    r.wire.Clear();
    r.pic.EraseChip();
    EXPECT_EQ(r.wire.Tokens(),
              (std::vector<std::string>{"C3", "=3FFF", "C1", "C7", "C8", "C1", "C7", "C2", "=3FFF",
                                        "C1", "C7", "C8", "C1", "C7"}));
    TpicA a(r.env);
    a.InitPinMap();
    a.SetPortBase(kBase);
    r.wire.Clear();
    const uint64_t start = r.clock.NowMs();
    a.EraseChip();
    EXPECT_EQ(r.wire.Tokens(), (std::vector<std::string>{"C9", "C8", "C11", "C8"}));
    EXPECT_GE(r.clock.NowMs() - start, 40u);
}

// The 87xA: program words go in with Begin Programming Only and End Programming, so that the
// block's other words are not erased; configuration and data memory keep the erase/program cycle.
TEST(TpicFraming, AFamilyProgramsWordsWithoutErasingTheirBlock) {
    WireRig r;
    TpicA a(r.env);
    a.InitPinMap();
    a.SetPortBase(kBase);
    a.SetAutoVerify(false);
    a.EnterProgramming();
    r.wire.Clear();
    a.WriteFlashByte(0, 0x34);
    EXPECT_TRUE(a.WriteFlashByte(1, 0x12));
    EXPECT_EQ(r.wire.Tokens(), (std::vector<std::string>{"C2", "=1234", "C24", "C23", "C6"}));

    r.wire.Clear();
    a.WriteFlashByte(0x400E, 0x72);
    EXPECT_TRUE(a.WriteFlashByte(0x400F, 0x3F));
    EXPECT_EQ(r.wire.Tokens(),
              Join({{"L", "E", "C0", "=3F72"}, Repeat("C6", 7), {"C2", "=3F72", "C8", "C6"}}));

    r.wire.Clear();
    EXPECT_TRUE(a.WriteEepromByte(0, 0x5A));
    EXPECT_EQ(r.wire.Tokens(), (std::vector<std::string>{"C3", "=005A", "C8", "C6"}));
}

// Countdowns: BitDelay + 1 after every clock edge (none when negative), and the extra ones after
// a command (low 8 bits) and before a frame (low 16 bits), a zero count meaning a full turn.
TEST(TpicFraming, CountdownsUseTheLowBitsOfBitDelay) {
    WireRig r;
    EXPECT_EQ(r.pic.BitDelay, 1);
    EXPECT_EQ(r.pic.AutoVerify, 1);
    EXPECT_EQ(r.pic.WriteBlank, 0);
    struct Case {
        int32_t bitDelay;
        int64_t afterCommand;
        int64_t beforeFrame;
    };
    for (const Case c : {Case{1, 2, 2}, Case{255, 256, 256}, Case{256, 1, 257},
                         Case{65535, 256, 65536}, Case{65536, 1, 1}, Case{-1, 256, 65536}}) {
        r.pic.SetBitDelay(c.bitDelay);
        const uint64_t t0 = r.clock.NowNs();
        const uint64_t a0 = r.wire.Accesses;
        r.pic.ReadFlashByte(0);  // one command and one frame: 13 + 33 clock edges
        const uint64_t spinNs =
            r.clock.NowNs() - t0 - (r.wire.Accesses - a0) * VirtualClock::kPortAccessNs;
        const int64_t perEdge = c.bitDelay < 0 ? 0 : int64_t{c.bitDelay} + 1;
        const int64_t iterations = 46 * perEdge + c.afterCommand + c.beforeFrame;
        EXPECT_EQ(spinNs, static_cast<uint64_t>(iterations) * VirtualClock::kSpinStepNs)
            << c.bitDelay;
    }
    r.pic.InitPinMap();
    EXPECT_EQ(r.pic.BitDelay, 1);
}

// ---- whole operations on simulated chips ----

struct BenchRig {
    VirtualClock clock;
    sim::Bench bench;
    sim::SimPort port;
    CurrentChip chip;
    EngineEnv env{&port, &clock, &chip};
    std::unique_ptr<PicEngine> engine;

    BenchRig(const std::string& name, bool aFamily, int32_t flashBytes, int32_t eepromBytes)
        : bench(clock, sim::BenchOptions{sim::AdapterKind::Gen2, name, "", {}, {}}),
          port(bench, &clock) {
        chip.CurrentChipName = name;
        chip.FlashSize = flashBytes;
        chip.EEPROMSize = eepromBytes;
        if (aFamily)
            engine = std::make_unique<TpicA>(env);
        else
            engine = std::make_unique<Tpic>(env);
        engine->InitPinMap();
        engine->SetPortBase(kBase);
    }
    sim::PicChip& Chip() { return *static_cast<sim::PicChip*>(bench.Chip()); }

    bool WriteImage(const std::vector<uint8_t>& image) {
        engine->EnterProgramming();
        for (size_t i = 0; i < image.size(); ++i)
            if (!engine->WriteFlashByte(static_cast<int32_t>(i), image[i])) return false;
        engine->LeaveProgramming();
        return true;
    }
    std::vector<uint8_t> ReadImage(size_t bytes) {
        std::vector<uint8_t> out(bytes);
        engine->EnterProgramming();
        for (size_t i = 0; i < bytes; ++i) out[i] = engine->ReadFlashByte(static_cast<int32_t>(i));
        engine->LeaveProgramming();
        return out;
    }
    void Erase() {
        engine->EnterProgramming();
        engine->EraseChip();
        engine->LeaveProgramming();
    }
};

std::vector<uint8_t> RandomImage(size_t words, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> image(words * 2);
    for (size_t w = 0; w < words; ++w) {
        uint16_t v = static_cast<uint16_t>(gen() & 0x3FFF);
        if (w % 7 == 3) v = 0x3FFF;  // blank words are skipped, not written
        image[2 * w] = static_cast<uint8_t>(v);
        image[2 * w + 1] = static_cast<uint8_t>(v >> 8);
    }
    return image;
}

struct ChipCase {
    const char* Name;
    bool AFamily;
    int32_t FlashBytes;
    int32_t EepromBytes;
    uint16_t Protect;  // configuration word with every protection bit cleared
};

class PicEndToEnd : public ::testing::TestWithParam<ChipCase> {};

TEST_P(PicEndToEnd, EraseWriteVerifyReadBackAndEeprom) {
    const ChipCase c = GetParam();
    BenchRig r(c.Name, c.AFamily, c.FlashBytes, c.EepromBytes);
    ASSERT_TRUE(r.bench.Error().Ok()) << r.bench.Error().Text(Language::English);
    std::string id;
    r.engine->EnterProgramming();
    r.engine->ReadSignature(id);
    r.engine->LeaveProgramming();
    EXPECT_EQ(id.size(), 4u);
    EXPECT_EQ(std::stoi(id, nullptr, 16), r.Chip().Facts().DeviceId & 0xFFE0);

    const size_t words = static_cast<size_t>(c.FlashBytes / 2);
    ASSERT_TRUE(r.WriteImage(RandomImage(words, 1)));
    r.Erase();
    for (size_t w = 0; w < words; w += 97) ASSERT_EQ(r.Chip().ProgramCell(w), 0x3FFF) << w;

    const auto image = RandomImage(words, 2);
    ASSERT_TRUE(r.WriteImage(image));
    EXPECT_EQ(r.ReadImage(image.size()), image);

    std::vector<uint8_t> eeprom(static_cast<size_t>(c.EepromBytes));
    for (size_t i = 0; i < eeprom.size(); ++i) eeprom[i] = static_cast<uint8_t>(i * 37 + 5);
    r.engine->EnterProgramming();
    for (size_t i = 0; i < eeprom.size(); ++i)
        ASSERT_TRUE(r.engine->WriteEepromByte(static_cast<int32_t>(i), eeprom[i])) << i;
    r.engine->LeaveProgramming();
    r.engine->EnterProgramming();
    for (size_t i = 0; i < eeprom.size(); ++i)
        EXPECT_EQ(r.engine->ReadEepromByte(static_cast<int32_t>(i)), eeprom[i]) << i;
    r.engine->LeaveProgramming();
}

// Without the read-back poll nothing tells the engine that the chip is still busy: it must wait
// out the chip's whole cycle, or the next command is lost and the words slide.
TEST_P(PicEndToEnd, WithoutVerificationEveryWordAndByteStillLands) {
    const ChipCase c = GetParam();
    BenchRig r(c.Name, c.AFamily, c.FlashBytes, c.EepromBytes);
    r.engine->SetAutoVerify(false);
    const auto image = RandomImage(40, 4);
    ASSERT_TRUE(r.WriteImage(image));
    EXPECT_EQ(r.ReadImage(image.size()), image);

    r.engine->EnterProgramming();
    for (int32_t i = 0; i < 16; ++i)
        ASSERT_TRUE(r.engine->WriteEepromByte(i, static_cast<uint8_t>(0xA0 + i)));
    r.engine->LeaveProgramming();
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(r.Chip().DataCell(i), 0xA0 + i) << i;

    r.engine->RawCommand(17, 0x3F, 0xF1, 0);
    const uint16_t mask = r.Chip().Facts().ConfigMask;
    EXPECT_EQ(r.Chip().ConfigCell(7), (0x3FF1 & mask) | (~mask & 0x3FFF));
}

TEST_P(PicEndToEnd, ConfigurationWordByRawOperationsAndProtectionUntilErased) {
    const ChipCase c = GetParam();
    BenchRig r(c.Name, c.AFamily, c.FlashBytes, c.EepromBytes);
    const auto image = RandomImage(64, 3);
    ASSERT_TRUE(r.WriteImage(image));

    r.engine->RawCommand(11, 0x12, 0x34, 0);
    EXPECT_EQ(r.engine->RawCommand(1, 0, 0, 0), 0x1234);
    r.engine->RawCommand(17, 0x3F, 0xF1, 0);
    const uint16_t mask = r.Chip().Facts().ConfigMask;
    EXPECT_EQ(r.engine->RawCommand(7, 0, 0, 0), (0x3FF1 & mask) | (~mask & 0x3FFF));

    r.engine->RawCommand(17, static_cast<uint8_t>(c.Protect >> 8),
                         static_cast<uint8_t>(c.Protect & 0xFF), 0);
    const auto hidden = r.ReadImage(image.size());
    EXPECT_EQ(hidden, std::vector<uint8_t>(image.size(), 0x00));
    // The ordinary erase leaves a protected chip as it is; the forced erase clears it.
    r.Erase();
    EXPECT_EQ(r.ReadImage(8), std::vector<uint8_t>(8, 0x00));
    r.engine->RawCommand(20, 0, 0, 0);
    EXPECT_EQ(r.engine->RawCommand(7, 0, 0, 0), 0x3FFF);
    EXPECT_EQ(r.engine->RawCommand(1, 0, 0, 0), 0x3FFF);
    const auto blank = r.ReadImage(image.size());
    for (size_t i = 0; i < blank.size(); ++i) EXPECT_EQ(blank[i], i % 2 ? 0x3F : 0xFF) << i;
    ASSERT_TRUE(r.WriteImage(image));
    EXPECT_EQ(r.ReadImage(image.size()), image);
}

INSTANTIATE_TEST_SUITE_P(Chips, PicEndToEnd,
                         ::testing::Values(ChipCase{"PIC16F84A", false, 2048, 64, 0x000F},
                                           ChipCase{"PIC16F628", false, 4096, 128, 0x02FF},
                                           ChipCase{"PIC16F877", false, 16384, 256, 0x0ECF},
                                           ChipCase{"PIC16F873A", true, 8192, 128, 0x1EFF},
                                           ChipCase{"PIC16F877A", true, 16384, 256, 0x1EFF}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PicEndToEnd, SignatureOfA16F84AAtRevisionSevenIs0560) {
    BenchRig r("PIC16F84A", false, 2048, 64);
    ASSERT_EQ(r.Chip().Facts().DeviceId, 0x0567);
    std::string id;
    r.engine->EnterProgramming();
    r.engine->ReadSignature(id);
    r.engine->LeaveProgramming();
    EXPECT_EQ(id, "0560");
}

TEST(PicEndToEnd, ConfigurationAreaOfTheBufferGoesToConfigurationMemory) {
    BenchRig r("PIC16F84A", false, 2048, 64);
    std::vector<uint8_t> image(0x4010, 0xFF);
    for (size_t i = 1; i < image.size(); i += 2) image[i] = 0x3F;
    image[0] = 0x83, image[1] = 0x16;            // word 0
    image[0x4002] = 0x05, image[0x4003] = 0x00;  // user ID 0x2001
    image[0x400C] = 0x00, image[0x400D] = 0x00;  // device ID: never written
    image[0x400E] = 0xF9, image[0x400F] = 0x3F;  // configuration word
    r.engine->SetWriteBlank(true);
    ASSERT_TRUE(r.WriteImage(image));
    EXPECT_EQ(r.Chip().ProgramCell(0), 0x1683);  // not overwritten by wrapped blank words
    EXPECT_EQ(r.Chip().ConfigCell(1), 0x0005);
    EXPECT_EQ(r.Chip().ConfigCell(6), 0x0567);
    EXPECT_EQ(r.Chip().ConfigCell(7), 0x3FF9);
}

// A word has 14 bits: the two above them (the 0xFFFF gaps of a buffer blank-filled with 0xFF, or
// such words in a file) are dropped before the word goes out and before the read-back compares
// it, so with "write 0xFF" on a gap is programmed as blank and verifies.
TEST_P(PicEndToEnd, WordsAreCutToFourteenBitsBeforeWritingAndComparing) {
    const ChipCase c = GetParam();
    BenchRig r(c.Name, c.AFamily, c.FlashBytes, c.EepromBytes);
    r.engine->SetWriteBlank(true);
    r.engine->EnterProgramming();
    const uint8_t bytes[] = {0xFF, 0xFF, 0x23, 0xC1, 0x45, 0x03};
    for (int32_t i = 0; i < 6; ++i) ASSERT_TRUE(r.engine->WriteFlashByte(i, bytes[i])) << i;
    r.engine->LeaveProgramming();
    EXPECT_EQ(r.Chip().ProgramCell(0), 0x3FFF);
    EXPECT_EQ(r.Chip().ProgramCell(1), 0x0123);
    EXPECT_EQ(r.Chip().ProgramCell(2), 0x0345);
}

TEST(PicEndToEnd, StuckWordFailsItsVerifyAndWithoutVerifyWordsStillLandInOrder) {
    VirtualClock clock;
    sim::BenchOptions opts{sim::AdapterKind::Gen2, "PIC16F628", "", {}, {}};
    opts.Faults.StuckAddress = 5;
    sim::Bench bench(clock, opts);
    sim::SimPort port(bench, &clock);
    CurrentChip chip;
    chip.FlashSize = 4096;
    EngineEnv env{&port, &clock, &chip};
    Tpic pic(env);
    pic.InitPinMap();
    pic.SetPortBase(kBase);
    pic.EnterProgramming();
    for (int32_t w = 0; w < 5; ++w) {
        pic.WriteFlashByte(2 * w, static_cast<uint8_t>(w));
        ASSERT_TRUE(pic.WriteFlashByte(2 * w + 1, 0x01));
    }
    pic.WriteFlashByte(10, 0x05);
    EXPECT_FALSE(pic.WriteFlashByte(11, 0x01));
    pic.SetAutoVerify(false);
    for (int32_t w = 6; w < 10; ++w) {
        pic.WriteFlashByte(2 * w, static_cast<uint8_t>(w));
        EXPECT_TRUE(pic.WriteFlashByte(2 * w + 1, 0x02));
    }
    pic.LeaveProgramming();
    auto& model = *static_cast<sim::PicChip*>(bench.Chip());
    EXPECT_EQ(model.ProgramCell(4), 0x0104);
    EXPECT_EQ(model.ProgramCell(5), 0x3FFF);
    // The failed word left the counter on 5, so the unverified run starts there.
    EXPECT_EQ(model.ProgramCell(6), 0x0207);
    EXPECT_EQ(model.ProgramCell(8), 0x0209);
}

}  // namespace
}  // namespace tondrel

namespace tondrel {
namespace {

TEST(PicEndToEnd, AllOnesWordIsSkippedAsBlank) {
    // A method-code-6 buffer is blank-filled with 0xFF: its gaps arrive as 0xFFFF and must be
    // passed over like 0x3FFF, or no real HEX file with a gap could be written.
    BenchRig r("PIC16F877A", true, 16384, 256);
    r.engine->EnterProgramming();
    EXPECT_TRUE(r.engine->WriteFlashByte(0, 0xFF));
    EXPECT_TRUE(r.engine->WriteFlashByte(1, 0xFF));
    EXPECT_TRUE(r.engine->WriteFlashByte(2, 0x05));
    EXPECT_TRUE(r.engine->WriteFlashByte(3, 0x28));
    EXPECT_EQ(r.Chip().ProgramCell(0), 0x3FFF);
    EXPECT_EQ(r.Chip().ProgramCell(1), 0x2805);
}

}  // namespace
}  // namespace tondrel
