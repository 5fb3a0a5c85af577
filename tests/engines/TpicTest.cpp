// Tpic / TpicA: framing on a wire that decodes the PIC serial traffic, and whole operations on
// simulated chips through the bench.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/Text.h"
#include "engines/Tpic.h"
#include "engines/TpicA.h"
#include "sim/Bench.h"
#include "sim/PicChip.h"
#include "sim/SimPort.h"
#include "sim/TargetChip.h"
#include "tests/engines/EngineOnBench.h"
#include "tests/support/Results.h"

namespace tondrel {
namespace {

using testsupport::Got;

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
    TpicA picA{env};  // on the same wire, for the 87xA's sequences
    explicit WireRig(int32_t flashBytes = 16384) {
        chip.FlashSize = flashBytes;
        for (PicEngine* e : {static_cast<PicEngine*>(&pic), static_cast<PicEngine*>(&picA)}) {
            e->InitPinMap();
            e->SetPortBase(kBase);
        }
    }
    // In programming mode, writing without verification, the wire's traffic so far forgotten.
    void StartUnverified(PicEngine& e) {
        e.SetAutoVerify(false);
        (void)e.EnterProgramming();
        wire.Clear();
    }
    // Writes `word` at byte address `address` as the Flash write does, low byte first: the low
    // byte is only kept, the high byte sends the word. Gives the high byte's traffic; its
    // outcome is left in Last.
    std::vector<std::string> WriteWord(PicEngine& e, int32_t address, uint16_t word) {
        const uint64_t before = wire.Accesses;
        EXPECT_TRUE(e.WriteFlashByte(address, static_cast<uint8_t>(word)));
        EXPECT_EQ(wire.Accesses, before) << "the low byte at " << address << " went out";
        wire.Clear();
        Last = e.WriteFlashByte(address + 1, static_cast<uint8_t>(word >> 8));
        return wire.Tokens();
    }
    Status Last;
};

using Tokens = std::vector<std::string>;

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
    r.StartUnverified(r.pic);
    (void)r.pic.WriteFlashByte(0, 0x35);
    (void)r.pic.WriteFlashByte(1, 0x12);
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

TEST(TpicFraming, AWordGoesOutWithItsHighByteAndABlankOneOnlyMovesTheCounter) {
    WireRig r;
    r.StartUnverified(r.pic);
    EXPECT_EQ(r.WriteWord(r.pic, 0, 0x1234), (Tokens{"C2", "=1234", "C8", "C6"}));
    EXPECT_TRUE(r.Last);
    EXPECT_EQ(r.WriteWord(r.pic, 2, 0x3FFF), (Tokens{"C6"}));
    EXPECT_TRUE(r.Last);
    r.pic.SetWriteBlank(true);
    EXPECT_EQ(r.WriteWord(r.pic, 4, 0x3FFF), (Tokens{"C2", "=3FFF", "C8", "C6"}));
}

TEST(TpicFraming, ConfigurationWordsAreReachedByReEntry) {
    WireRig r;
    r.StartUnverified(r.pic);
    EXPECT_EQ(r.WriteWord(r.pic, 0x400E, 0x3FF1),
              Join({{"L", "E", "C0", "=3FF1"}, Repeat("C6", 7), {"C2", "=3FF1", "C8", "C6"}}));
    // User ID 0x2003: three steps.
    EXPECT_EQ(r.WriteWord(r.pic, 0x4006, 0x0002),
              Join({{"L", "E", "C0", "=0002"}, Repeat("C6", 3), {"C2", "=0002", "C8", "C6"}}));

    // 0x2005 (reserved) and 0x2006 (device ID) are never written.
    const uint64_t before = r.wire.Accesses;
    for (int32_t a : {0x400A, 0x400C}) {
        EXPECT_EQ(r.WriteWord(r.pic, a, 0x0000), Tokens{});
        EXPECT_TRUE(r.Last);
    }
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
        r.StartUnverified(r.pic);
        EXPECT_EQ(r.WriteWord(r.pic, (c.firstOutside - 1) * 2, 0x1234).front(), "C2")
            << c.flashBytes;
        if (c.firstOutside >= 0x2000) continue;

        // It would wrap onto word 0 and overwrite the program.
        const uint64_t before = r.wire.Accesses;
        EXPECT_EQ(r.WriteWord(r.pic, c.firstOutside * 2, 0x1234), Tokens{});
        EXPECT_EQ(r.Last, Status::Error("EngineOutsideMemory", HexText(c.firstOutside, 4)))
            << c.flashBytes;
        EXPECT_EQ(r.wire.Accesses, before);

        // A blank word out there is never programmed, even with WriteBlank on: the counter has
        // wrapped onto the program.
        r.pic.SetWriteBlank(true);
        EXPECT_EQ(r.WriteWord(r.pic, c.firstOutside * 2 + 2, 0x3FFF), (Tokens{"C6"}));
        EXPECT_TRUE(r.Last);
    }
}

// The configuration operations by name, and by the numbers the configuration dialogs send: each
// one whole programming session, the same traffic either way.
TEST(TpicFraming, ConfigurationOperationsByNameAndByNumber) {
    WireRig r;
    const auto seek = [](int steps) { return Join({{"E", "C0", "=3FFF"}, Repeat("C6", steps)}); };
    const struct {
        uint8_t B1, B2, B3;
        std::function<Status(Tpro&)> Named;
        std::vector<std::string> Tokens;
    } cases[] = {
        {17, 0x3F, 0xF1, [](Tpro& e) { return e.WriteConfigWord(7, 0x3FF1); },
         Join({seek(7), {"C2", "=3FF1", "C8", "L"}})},
        {2, 0, 0, [](Tpro& e) { return e.ReadConfigWord(2).GetStatus(); },
         Join({seek(2), {"C4", "=3FFF", "L"}})},
        {12, 0x00, 0x7F, [](Tpro& e) { return e.WriteConfigWord(2, 0x007F); },
         Join({seek(2), {"C2", "=007F", "C8", "L"}})},
        {20, 0, 0, [](Tpro& e) { return e.EraseEverything(); },
         Join({seek(7), {"C1", "C7", "C8", "C1", "C7", "L"}})},
    };
    for (const auto& c : cases) {
        r.wire.Clear();
        EXPECT_TRUE(r.pic.RawCommand(c.B1, c.B2, c.B3, 0x99)) << int{c.B1};
        EXPECT_EQ(r.wire.Tokens(), c.Tokens) << int{c.B1};
        r.wire.Clear();
        EXPECT_TRUE(c.Named(r.pic)) << int{c.B1};
        EXPECT_EQ(r.wire.Tokens(), c.Tokens) << int{c.B1};
    }

    // An unknown number only leaves programming mode; a word the named operations do not reach
    // (reserved, device ID) is refused without a line moving.
    r.wire.Clear();
    EXPECT_EQ(r.pic.RawCommand(5, 1, 2, 3).GetStatus().Key(), "EngineNotSupported");
    EXPECT_EQ(r.wire.Tokens(), std::vector<std::string>{});
    EXPECT_GT(r.wire.Accesses, 0u);
    const uint64_t before = r.wire.Accesses;
    for (int index : {-1, 4, 5, 6, 8}) {
        EXPECT_EQ(r.pic.ReadConfigWord(index).GetStatus().Key(), "EngineNotSupported") << index;
        EXPECT_EQ(r.pic.WriteConfigWord(index, 0).Key(), "EngineNotSupported") << index;
    }
    EXPECT_EQ(r.wire.Accesses, before);

    TpicA& a = r.picA;
    r.wire.Clear();
    (void)a.RawCommand(20, 0, 0, 0);
    // Load Configuration with its data word puts the counter where Chip Erase acts; one Chip
    // Erase then wipes everything.
    EXPECT_EQ(r.wire.Tokens(), (std::vector<std::string>{"E", "C0", "=3FFF", "C31", "L"}));
    EXPECT_EQ(r.wire.FallingBits(),
              "000000"
              "0111111111111110"
              "111110");
}

// Every erase/program cycle lasts what the chip record gives (its Flash write time, whole
// milliseconds rounded up), or the family's longest where the record does not say.
TEST(TpicFraming, EraseProgramCycleIsTheChipRecords) {
    const struct {
        bool AFamily;
        int32_t CycleUs;
        uint64_t Ms;
    } cases[] = {
        {false, 10000, 10}, {false, 7500, 8}, {false, 0, 13}, {true, 0, 10}, {true, 4000, 4}};
    for (const auto& c : cases) {
        WireRig r;
        r.chip.FlashWriteDelayUs = c.CycleUs;
        PicEngine& e = c.AFamily ? static_cast<PicEngine&>(r.picA) : r.pic;
        e.SetAutoVerify(false);
        const uint64_t start = r.clock.NowNs();
        EXPECT_TRUE(e.WriteEepromByte(0, 0x5A));
        const uint64_t ns = r.clock.NowNs() - start;
        EXPECT_GE(ns, c.Ms * 1000000) << e.ClassName() << " " << c.CycleUs;
        EXPECT_LT(ns, (c.Ms + 1) * 1000000) << e.ClassName() << " " << c.CycleUs;
    }
}

TEST(TpicFraming, EraseSequences) {
    WireRig r;
    (void)r.pic.EnterProgramming();
    r.wire.Clear();
    (void)r.pic.EraseChip();
    EXPECT_EQ(r.wire.Tokens(),
              (std::vector<std::string>{"C3", "=3FFF", "C1", "C7", "C8", "C1", "C7", "C2", "=3FFF",
                                        "C1", "C7", "C8", "C1", "C7"}));
    TpicA& a = r.picA;
    r.wire.Clear();
    const uint64_t start = r.clock.NowMs();
    (void)a.EraseChip();
    EXPECT_EQ(r.wire.Tokens(), (std::vector<std::string>{"C9", "C8", "C11", "C8"}));
    EXPECT_GE(r.clock.NowMs() - start, 40u);
}

// The 87xA: program words go in with Begin Programming Only and End Programming, so that the
// block's other words are not erased; configuration and data memory keep the erase/program cycle.
TEST(TpicFraming, AFamilyProgramsWordsWithoutErasingTheirBlock) {
    WireRig r;
    TpicA& a = r.picA;
    r.StartUnverified(a);
    EXPECT_EQ(r.WriteWord(a, 0, 0x1234), (Tokens{"C2", "=1234", "C24", "C23", "C6"}));
    EXPECT_EQ(r.WriteWord(a, 0x400E, 0x3F72),
              Join({{"L", "E", "C0", "=3F72"}, Repeat("C6", 7), {"C2", "=3F72", "C8", "C6"}}));

    r.wire.Clear();
    EXPECT_TRUE(a.WriteEepromByte(0, 0x5A));
    EXPECT_EQ(r.wire.Tokens(), (Tokens{"C3", "=005A", "C8", "C6"}));
}

// The 87xA takes program memory in 8-word rows: each word goes into its latch and the counter
// moves on, and one Begin Programming Only / End Programming writes the row after its last word,
// the last word of the data, or before the engine leaves. A row the file leaves blank is never
// programmed.
TEST(TpicFraming, AFamilyWritesProgramMemoryInEightWordRows) {
    WireRig r;
    TpicA& a = r.picA;
    r.chip.FlashDataEnd = 2 * 21 + 1;  // the data ends with word 21
    r.StartUnverified(a);
    const Tokens load = {"C2", "=0100", "C6"};
    const Tokens commit = {"C24", "C23"};
    Tokens row;
    const uint64_t start = r.clock.NowNs();
    for (int32_t w = 0; w < 8; ++w) {
        const auto t = r.WriteWord(a, 2 * w, w == 3 ? 0x3FFF : 0x0100);
        row.insert(row.end(), t.begin(), t.end());
    }
    EXPECT_EQ(row,
              Join({load, load, load, {"C6"}, load, load, load, {"C2", "=0100"}, commit, {"C6"}}));
    // One program-only time and one discharge for the row, not one per word.
    EXPECT_LT(r.clock.NowNs() - start, 2'000'000u);
    for (int32_t w = 8; w < 16; ++w) EXPECT_EQ(r.WriteWord(a, 2 * w, 0x3FFF), Tokens{"C6"}) << w;
    EXPECT_EQ(r.WriteWord(a, 32, 0x0100), load);
    EXPECT_EQ(r.WriteWord(a, 34, 0x3FFF), Tokens{"C6"});
    EXPECT_EQ(r.WriteWord(a, 36, 0x0100), load);
    // A loop stopped inside the row: the latches go in before the supply drops.
    r.wire.Clear();
    (void)a.LeaveProgramming();
    EXPECT_EQ(r.wire.Tokens(), Join({commit, {"L"}}));
    // The data's last word ends its row early.
    r.StartUnverified(a);
    (void)r.WriteWord(a, 40, 0x0100);
    EXPECT_EQ(r.WriteWord(a, 42, 0x0100), Join({{"C2", "=0100"}, commit, {"C6"}}));
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
    for (const Case c :
         {Case{1, 2, 2}, Case{255, 256, 256}, Case{256, 1, 257}, Case{3000, 185, 3001},
          Case{65535, 256, 65536}, Case{65536, 1, 1}, Case{-1, 256, 65536}}) {
        r.pic.SetBitDelay(c.bitDelay);
        const uint64_t t0 = r.clock.NowNs();
        const uint64_t a0 = r.wire.Accesses;
        (void)r.pic.ReadFlashByte(0);  // one command and one frame: 13 + 33 clock edges
        const uint64_t spinNs =
            r.clock.NowNs() - t0 - (r.wire.Accesses - a0) * VirtualClock::kPortAccessNs;
        // Each clock edge waits the rest of a phase of BitDelay ns after its own access (in
        // whole steps of the virtual countdown).
        const int64_t perEdgeNs = (std::max<int64_t>(int64_t{c.bitDelay} - 1000, 0) + 1) / 2 * 2;
        const int64_t countdowns = c.afterCommand + c.beforeFrame;
        EXPECT_EQ(spinNs, static_cast<uint64_t>(46 * perEdgeNs + countdowns * 2)) << c.bitDelay;
    }
    r.pic.InitPinMap();
    EXPECT_EQ(r.pic.BitDelay, 1);
}

// ---- whole operations on simulated chips ----

struct ChipCase {
    const char* Name;
    bool AFamily;
    int32_t FlashBytes;
    int32_t EepromBytes;
    int32_t CycleUs;   // the catalogue's erase/program cycle
    uint16_t Protect;  // configuration word with every protection bit cleared
};

const ChipCase k16F84A{"PIC16F84A", false, 2048, 64, 10000, 0x000F};
const ChipCase k16F628{"PIC16F628", false, 4096, 128, 13000, 0x02FF};
const ChipCase k16F877{"PIC16F877", false, 16384, 256, 8000, 0x0ECF};
const ChipCase k16F873A{"PIC16F873A", true, 8192, 128, 10000, 0x1EFF};
const ChipCase k16F877A{"PIC16F877A", true, 16384, 256, 10000, 0x1EFF};

// The chip on the bench with the record its catalogue row gives.
struct BenchRig : testsupport::EngineOnBench {
    explicit BenchRig(const ChipCase& c, const sim::ChipFaults& faults = {})
        : EngineOnBench(c.Name, c.AFamily ? Method::PicA : Method::Pic, faults) {
        chip.CurrentChipName = c.Name;
        chip.FlashSize = c.FlashBytes;
        chip.EEPROMSize = c.EepromBytes;
        chip.FlashWriteDelayUs = c.CycleUs;
    }
    sim::PicChip& Chip() { return *static_cast<sim::PicChip*>(bench.Chip()); }

    // As the write loop does: the data end is the image's last byte.
    bool WriteImage(const std::vector<uint8_t>& image) {
        chip.FlashDataEnd = static_cast<int32_t>(image.size()) - 1;
        (void)engine->EnterProgramming();
        for (size_t i = 0; i < image.size(); ++i)
            if (!engine->WriteFlashByte(static_cast<int32_t>(i), image[i])) return false;
        (void)engine->LeaveProgramming();
        return true;
    }
    std::vector<uint8_t> ReadImage(size_t bytes) {
        std::vector<uint8_t> out(bytes);
        (void)engine->EnterProgramming();
        for (size_t i = 0; i < bytes; ++i)
            out[i] = Got(engine->ReadFlashByte(static_cast<int32_t>(i)));
        (void)engine->LeaveProgramming();
        return out;
    }
    void Erase() {
        (void)engine->EnterProgramming();
        (void)engine->EraseChip();
        (void)engine->LeaveProgramming();
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

class PicEndToEnd : public ::testing::TestWithParam<ChipCase> {};

TEST_P(PicEndToEnd, EraseWriteVerifyReadBackAndEeprom) {
    const ChipCase c = GetParam();
    BenchRig r(c);
    ASSERT_TRUE(r.bench.Error().Ok()) << r.bench.Error().Text(Language::English);
    (void)r.engine->EnterProgramming();
    const std::string id = Got(r.engine->ReadSignature());
    (void)r.engine->LeaveProgramming();
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
    (void)r.engine->EnterProgramming();
    for (size_t i = 0; i < eeprom.size(); ++i)
        ASSERT_TRUE(r.engine->WriteEepromByte(static_cast<int32_t>(i), eeprom[i])) << i;
    (void)r.engine->LeaveProgramming();
    (void)r.engine->EnterProgramming();
    for (size_t i = 0; i < eeprom.size(); ++i)
        EXPECT_EQ(Got(r.engine->ReadEepromByte(static_cast<int32_t>(i))), eeprom[i]) << i;
    (void)r.engine->LeaveProgramming();
}

// Without the read-back poll nothing tells the engine that the chip is still busy: it must wait
// out the chip's whole cycle, or the next command is lost and the words slide.
TEST_P(PicEndToEnd, WithoutVerificationEveryWordAndByteStillLands) {
    const ChipCase c = GetParam();
    BenchRig r(c);
    r.engine->SetAutoVerify(false);
    const auto image = RandomImage(40, 4);
    ASSERT_TRUE(r.WriteImage(image));
    EXPECT_EQ(r.ReadImage(image.size()), image);

    (void)r.engine->EnterProgramming();
    for (int32_t i = 0; i < 16; ++i)
        ASSERT_TRUE(r.engine->WriteEepromByte(i, static_cast<uint8_t>(0xA0 + i)));
    (void)r.engine->LeaveProgramming();
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(r.Chip().DataCell(i), 0xA0 + i) << i;

    (void)r.engine->RawCommand(17, 0x3F, 0xF1, 0);
    const uint16_t mask = r.Chip().Facts().ConfigMask;
    EXPECT_EQ(r.Chip().ConfigCell(7), (0x3FF1 & mask) | (~mask & 0x3FFF));
}

TEST_P(PicEndToEnd, ConfigurationWordByRawOperationsAndProtectionUntilErased) {
    const ChipCase c = GetParam();
    BenchRig r(c);
    const auto image = RandomImage(64, 3);
    ASSERT_TRUE(r.WriteImage(image));

    (void)r.engine->RawCommand(11, 0x12, 0x34, 0);
    EXPECT_EQ(Got(r.engine->RawCommand(1, 0, 0, 0)), 0x1234);
    (void)r.engine->RawCommand(17, 0x3F, 0xF1, 0);
    const uint16_t mask = r.Chip().Facts().ConfigMask;
    EXPECT_EQ(Got(r.engine->RawCommand(7, 0, 0, 0)), (0x3FF1 & mask) | (~mask & 0x3FFF));

    (void)r.engine->RawCommand(17, static_cast<uint8_t>(c.Protect >> 8),
                               static_cast<uint8_t>(c.Protect & 0xFF), 0);
    const auto hidden = r.ReadImage(image.size());
    EXPECT_EQ(hidden, std::vector<uint8_t>(image.size(), 0x00));
    // The ordinary erase leaves a protected chip as it is; the forced erase clears it.
    r.Erase();
    EXPECT_EQ(r.ReadImage(8), std::vector<uint8_t>(8, 0x00));
    (void)r.engine->RawCommand(20, 0, 0, 0);
    EXPECT_EQ(Got(r.engine->RawCommand(7, 0, 0, 0)), 0x3FFF);
    EXPECT_EQ(Got(r.engine->RawCommand(1, 0, 0, 0)), 0x3FFF);
    const auto blank = r.ReadImage(image.size());
    for (size_t i = 0; i < blank.size(); ++i) EXPECT_EQ(blank[i], i % 2 ? 0x3F : 0xFF) << i;
    ASSERT_TRUE(r.WriteImage(image));
    EXPECT_EQ(r.ReadImage(image.size()), image);
}

INSTANTIATE_TEST_SUITE_P(Chips, PicEndToEnd,
                         ::testing::Values(k16F84A, k16F628, k16F877, k16F873A, k16F877A),
                         [](const auto& info) { return std::string(info.param.Name); });

// Right after an erase a word needs no erase of its own: the families that have Begin Programming
// Only take it (the 87xA for its rows and its data memory too), and a word programmed since gets
// the erase/program cycle again, so a second write without an erase still lands.
TEST(PicEndToEnd, AfterAnEraseCellsTakeProgramOnlyCycles) {
    const struct {
        ChipCase Chip;
        double MaxMsPerWord;  // 0: the erase/program cycle, at least
        double MaxMsPerByte;
        bool Rewrites;  // the 87xA's rows never erase: a write needs an erased chip
    } cases[] = {{k16F84A, 0, 11, true},
                 {k16F628, 8.5, 14, true},
                 {k16F877, 4.5, 9, true},
                 {k16F877A, 0.5, 1.5, false}};
    for (const auto& c : cases) {
        BenchRig r(c.Chip);
        r.Erase();
        uint64_t start = r.clock.NowNs();
        (void)r.WriteImage({});
        const uint64_t enterAndLeave = r.clock.NowNs() - start;
        const auto first = RandomImage(40, 5);  // 34 words to program
        start = r.clock.NowNs();
        ASSERT_TRUE(r.WriteImage(first)) << c.Chip.Name;
        const double msPerWord =
            static_cast<double>(r.clock.NowNs() - start - enterAndLeave) / 34e6;
        if (c.MaxMsPerWord > 0)
            EXPECT_LT(msPerWord, c.MaxMsPerWord) << c.Chip.Name;
        else
            EXPECT_GE(msPerWord, c.Chip.CycleUs / 1000.0) << c.Chip.Name;
        EXPECT_EQ(r.ReadImage(first.size()), first) << c.Chip.Name;
        if (c.Rewrites) {
            const auto second = RandomImage(40, 6);
            ASSERT_TRUE(r.WriteImage(second)) << c.Chip.Name;
            EXPECT_EQ(r.ReadImage(second.size()), second) << c.Chip.Name;
        }

        // Data memory: an erased byte already holds 0xFF, and nothing goes out for it.
        (void)r.engine->EnterProgramming();
        start = r.clock.NowNs();
        for (int32_t i = 0; i < 16; ++i)
            ASSERT_TRUE(r.engine->WriteEepromByte(i, i == 9 ? 0xFF : static_cast<uint8_t>(i * 3)));
        EXPECT_LT(static_cast<double>(r.clock.NowNs() - start) / 15e6, c.MaxMsPerByte)
            << c.Chip.Name;
        (void)r.engine->LeaveProgramming();
        for (uint32_t i = 0; i < 16; ++i)
            EXPECT_EQ(r.Chip().DataCell(i), i == 9 ? 0xFF : i * 3) << c.Chip.Name << " " << i;
    }
}

// The 87xA's latches reach the chip when the engine leaves inside a row: the words after the
// last one loaded keep what they held.
TEST(PicEndToEnd, AFamilyRowLeftUnfinishedIsProgrammedOnLeaving) {
    BenchRig r(k16F877A);
    r.Erase();
    r.chip.FlashDataEnd = 2 * 64 - 1;
    (void)r.engine->EnterProgramming();
    for (int32_t w = 0; w < 13; ++w) {
        ASSERT_TRUE(r.engine->WriteFlashByte(2 * w, static_cast<uint8_t>(w)));
        ASSERT_TRUE(r.engine->WriteFlashByte(2 * w + 1, 0x11));
    }
    EXPECT_EQ(r.Chip().ProgramCell(12), 0x3FFF);  // still in its latch
    ASSERT_TRUE(r.engine->LeaveProgramming());
    for (uint32_t w = 0; w < 16; ++w)
        EXPECT_EQ(r.Chip().ProgramCell(w), w < 13 ? 0x1100 + w : 0x3FFF) << w;
}

TEST(PicEndToEnd, SignatureOfA16F84AAtRevisionSevenIs0560) {
    BenchRig r(k16F84A);
    ASSERT_EQ(r.Chip().Facts().DeviceId, 0x0567);
    (void)r.engine->EnterProgramming();
    EXPECT_EQ(Got(r.engine->ReadSignature()), "0560");
    (void)r.engine->LeaveProgramming();
}

TEST(PicEndToEnd, ConfigurationAreaOfTheBufferGoesToConfigurationMemory) {
    BenchRig r(k16F84A);
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
    BenchRig r(c);
    r.engine->SetWriteBlank(true);
    (void)r.engine->EnterProgramming();
    const uint8_t bytes[] = {0xFF, 0xFF, 0x23, 0xC1, 0x45, 0x03};
    for (int32_t i = 0; i < 6; ++i) ASSERT_TRUE(r.engine->WriteFlashByte(i, bytes[i])) << i;
    (void)r.engine->LeaveProgramming();
    EXPECT_EQ(r.Chip().ProgramCell(0), 0x3FFF);
    EXPECT_EQ(r.Chip().ProgramCell(1), 0x0123);
    EXPECT_EQ(r.Chip().ProgramCell(2), 0x0345);
}

TEST(PicEndToEnd, StuckWordFailsItsVerifyAndWithoutVerifyWordsStillLandInOrder) {
    sim::ChipFaults stuck;
    stuck.StuckAddress = 5;
    BenchRig r(k16F628, stuck);
    Tpro& pic = *r.engine;
    (void)pic.EnterProgramming();
    for (int32_t w = 0; w < 5; ++w) {
        (void)pic.WriteFlashByte(2 * w, static_cast<uint8_t>(w));
        ASSERT_TRUE(pic.WriteFlashByte(2 * w + 1, 0x01));
    }
    (void)pic.WriteFlashByte(10, 0x05);
    EXPECT_FALSE(pic.WriteFlashByte(11, 0x01));
    pic.SetAutoVerify(false);
    for (int32_t w = 6; w < 10; ++w) {
        (void)pic.WriteFlashByte(2 * w, static_cast<uint8_t>(w));
        EXPECT_TRUE(pic.WriteFlashByte(2 * w + 1, 0x02));
    }
    (void)pic.LeaveProgramming();
    sim::PicChip& model = r.Chip();
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
    BenchRig r(k16F877A);
    (void)r.engine->EnterProgramming();
    EXPECT_TRUE(r.engine->WriteFlashByte(0, 0xFF));
    EXPECT_TRUE(r.engine->WriteFlashByte(1, 0xFF));
    EXPECT_TRUE(r.engine->WriteFlashByte(2, 0x05));
    EXPECT_TRUE(r.engine->WriteFlashByte(3, 0x28));
    EXPECT_EQ(r.Chip().ProgramCell(0), 0x3FFF);
    EXPECT_EQ(r.Chip().ProgramCell(1), 0x2805);
}

}  // namespace
}  // namespace tondrel
