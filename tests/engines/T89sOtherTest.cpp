#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engines/T89s.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"
#include "tests/engines/EngineOnBench.h"
#include "tests/support/RecordingPort.h"
#include "tests/support/Results.h"

namespace tondrel {
namespace {

using testsupport::Got;

using testsupport::Bytes;
using testsupport::PortOp;
using testsupport::RecordingPort;

constexpr uint64_t kMs = 1000000;

// An engine on a recording port; `answer` gives each command's last byte (the answer byte).
template <class Engine>
struct Rig {
    RecordingPort port{0x378};
    VirtualClock clock;
    CurrentChip chip;
    EngineEnv env{&port, &clock, &chip};
    Engine engine{env};

    explicit Rig(size_t frame) {
        port.BytesPerCommand = frame;
        port.AttachClock(&clock);
        engine.InitPinMap();
        engine.SetPortBase(0x378);
    }
    // `last(command)` is shifted out during the command's final byte; other bytes read 0.
    void Answer(std::function<uint8_t(const Bytes&)> last) {
        const size_t frame = port.BytesPerCommand;
        port.SetResponder([last, frame](const Bytes& cmd, size_t index) -> uint8_t {
            return index + 1 == frame ? last(cmd) : 0x00;
        });
    }
};

TEST(T89sOtherFraming, At89s53FirstByteCarriesA13AndTheOperation) {
    const struct {
        int32_t Address;
        uint8_t Write, Read;
    } rows[] = {
        {0x2345, 0x1E, 0x1D}, {0x0100, 0x0A, 0x09}, {0x2FFF, 0x7E, 0x7D}, {0x0000, 0x02, 0x01}};
    for (const auto& r : rows) {
        Rig<T89s53> rig(3);
        rig.engine.SetAutoVerify(false);
        rig.Answer([](const Bytes&) { return uint8_t{0xC3}; });
        // Nothing else shows that an AT89S53 is there: the write is read back all the same.
        EXPECT_TRUE(rig.engine.WriteFlashByte(r.Address, 0xC3));
        EXPECT_EQ(Got(rig.engine.ReadFlashByte(r.Address)), 0xC3);
        ASSERT_EQ(rig.port.SentBytes().size(), 9u) << std::hex << r.Address;
        EXPECT_EQ(rig.port.Commands()[0], (Bytes{r.Write, uint8_t(r.Address), 0xC3}));
        // The read's third byte is not set: it keeps the written value.
        EXPECT_EQ(rig.port.Commands()[1], (Bytes{r.Read, uint8_t(r.Address), 0xC3}));
        EXPECT_EQ(rig.port.Commands()[2], rig.port.Commands()[1]);
    }
}

TEST(T89sOtherFraming, At89s8252FirstByteCarriesAddressAndCode) {
    Rig<T89s8252> rig(3);
    rig.engine.SetAutoVerify(false);
    // Each write reads back at once (verification off or not: the chip shows itself no other
    // way): code reads answer 0x77, data reads 0x44.
    rig.Answer([](const Bytes& c) { return (c[0] & 7) == 1 ? uint8_t{0x77} : uint8_t{0x44}; });
    EXPECT_TRUE(rig.engine.WriteFlashByte(0x0ABC, 0x77));
    EXPECT_EQ(Got(rig.engine.ReadFlashByte(0x1FFF)), 0x77);
    EXPECT_TRUE(rig.engine.WriteEepromByte(0x0123, 0x44));
    EXPECT_EQ(Got(rig.engine.ReadEepromByte(0x0123)), 0x44);
    EXPECT_EQ(rig.port.Commands(), (std::vector<Bytes>{{0x52, 0xBC, 0x77},
                                                       {0x51, 0xBC, 0x77},
                                                       {0xF9, 0xFF, 0x77},
                                                       {0x0E, 0x23, 0x44},
                                                       {0x0D, 0x23, 0x44},
                                                       {0x0D, 0x23, 0x44}}));
}

TEST(T89sOtherFraming, At89s8253UsesFourByteCommands) {
    Rig<T89s8253> rig(4);
    rig.engine.SetAutoVerify(false);
    rig.Answer([](const Bytes& c) { return c[0] == 0x20 ? uint8_t{0x96} : uint8_t{0}; });
    EXPECT_TRUE(rig.engine.WriteFlashByte(0x1234, 0x5A));
    EXPECT_EQ(Got(rig.engine.ReadFlashByte(0x2FFF)), 0x96);
    (void)rig.engine.EraseChip();
    EXPECT_EQ(rig.port.Commands(),
              (std::vector<Bytes>{
                  {0x40, 0x12, 0x34, 0x5A}, {0x20, 0x2F, 0xFF, 0x5A}, {0xAC, 0x80, 0xFF, 0x5A}}));
    EXPECT_EQ(rig.port.RisingEdges(), 3u * 32u);
}

// RawCommand: three bytes on the three-byte engines whatever b4 is, four on the AT89S8253;
// the answer is the last byte clocked in, after a 20 ms wait.
TEST(T89sOtherFraming, RawCommandLengthAndAnswer) {
    auto check = [](auto& rig, size_t bytes) {
        rig.Answer([](const Bytes& c) { return uint8_t(c.back() + 1); });
        const uint64_t before = rig.clock.Peek();
        const uint16_t got = Got(rig.engine.RawCommand(0xAC, 0x07, 0x00, 0x55));
        EXPECT_EQ(rig.port.RisingEdges(), 8 * bytes);
        EXPECT_GE(rig.clock.Peek() - before, 20 * kMs);
        return got;
    };
    Rig<T89s53> s53(3);
    EXPECT_EQ(check(s53, 3), 0x08);  // answer to 0xAC 0x07 0x00: computed from byte 2
    EXPECT_EQ(s53.port.SentBytes(), (Bytes{0xAC, 0x07, 0x00}));
    Rig<T89s8252> s8252(3);
    EXPECT_EQ(check(s8252, 3), 0x08);
    EXPECT_EQ(s8252.port.SentBytes(), (Bytes{0xAC, 0x07, 0x00}));
    Rig<T89s8253> s8253(4);
    EXPECT_EQ(check(s8253, 4), 0x01);
    EXPECT_EQ(s8253.port.SentBytes(), (Bytes{0xAC, 0x07, 0x00, 0x55}));
}

// What a chip cannot do costs no port access: the AT89S53/8252/8253 cannot be identified, and
// the AT89S53 has no data EEPROM.
TEST(T89sOtherFraming, WhatTheChipCannotDoSendsNothing) {
    Rig<T89s53> a(3);
    Rig<T89s8252> b(3);
    Rig<T89s8253> c(4);
    for (Tpro* e : {static_cast<Tpro*>(&a.engine), static_cast<Tpro*>(&b.engine),
                    static_cast<Tpro*>(&c.engine)}) {
        EXPECT_EQ(Got(e->ReadSignature()), "") << e->ClassName();
    }
    EXPECT_EQ(a.engine.WriteEepromByte(0, 0x12).Key(), "EngineNotSupported");
    EXPECT_EQ(a.engine.ReadEepromByte(0).GetStatus().Key(), "EngineNotSupported");
    EXPECT_EQ(a.port.Accesses() + b.port.Accesses() + c.port.Accesses(), 0u);
    EXPECT_EQ(a.clock.Peek() + b.clock.Peek() + c.clock.Peek(), 0u);
}

TEST(T89sOtherFraming, EnterAndLeaveSequence) {
    Rig<T89s8252> rig(3);
    rig.engine.SetAutoVerify(false);
    (void)rig.engine.WriteFlashByte(0x0100, 0x23);  // leaves 0x23 in the third command byte
    rig.port.ClearLog();
    const uint64_t start = rig.clock.Peek();
    EXPECT_TRUE(rig.engine.EnterProgramming());
    EXPECT_EQ(rig.port.SentBytes(), (Bytes{0xAC, 0x53, 0x23}));

    // Drivers on first, RST high only after 1 + 1 ms, the command the datasheets' 10 ms after
    // that.
    const auto& ev = rig.port.Events();
    ASSERT_FALSE(ev.empty());
    EXPECT_EQ(ev[0].Op, PortOp::Out);
    EXPECT_EQ(ev[0].Address, 0x37A);
    EXPECT_EQ(ev[0].Arg, 0x0B);
    EXPECT_EQ(ev[1].Op, PortOp::SetBit);  // pin 14 low: control bit 1 set
    EXPECT_EQ(ev[1].Arg, 1);
    uint64_t rstHigh = 0;
    for (const auto& e : ev)
        if (e.Op == PortOp::SetBit && e.Address == 0x378 && e.Arg == 1) rstHigh = e.TimeNs;
    EXPECT_GE(rstHigh - start, 2 * kMs);
    EXPECT_GE(rig.port.CommandEndNs(0) - rstHigh, 10 * kMs);

    rig.port.ClearLog();
    const uint64_t leave = rig.clock.Peek();
    EXPECT_TRUE(rig.engine.LeaveProgramming());
    ASSERT_EQ(rig.port.Events().size(), 2u);
    EXPECT_EQ(rig.port.Events()[0].Op, PortOp::ClrBit);  // RST low
    EXPECT_EQ(rig.port.Events()[0].Arg, 1);
    EXPECT_EQ(rig.port.Events()[1].Op, PortOp::ClrBit);  // pin 14 high: control bit 1 cleared
    EXPECT_EQ(rig.port.Events()[1].Address, 0x37A);
    EXPECT_LT(rig.clock.Peek() - leave, 1 * kMs);  // the chip runs at once: nothing waits
}

TEST(T89sOtherFraming, ThreeByteEraseWaitsHalfASecond) {
    Rig<T89s53> rig(3);
    (void)rig.engine.EraseChip();
    EXPECT_EQ(rig.port.SentBytes(), (Bytes{0xAC, 0x04, 0x00}));
    EXPECT_GE(rig.clock.Peek(), 500 * kMs);
}

TEST(T89sOtherFraming, FlashSkipRuleAndVerifyPoll) {
    // 0xFF over a location that reads 0xFF: only the read goes out.
    Rig<T89s53> blank(3);
    blank.Answer([](const Bytes&) { return uint8_t{0xFF}; });
    EXPECT_TRUE(blank.engine.WriteFlashByte(0x0010, 0xFF));
    EXPECT_EQ(blank.port.SentBytes(), (Bytes{0x01, 0x10, 0x00}));

    // A location that never reads back the value: the poll gives up after one second.
    Rig<T89s8252> stuck(3);
    stuck.Answer([](const Bytes&) { return uint8_t{0x00}; });
    stuck.port.KeepLog = false;
    EXPECT_FALSE(stuck.engine.WriteFlashByte(0x0010, 0xFF));
    EXPECT_EQ(stuck.port.Commands()[0], (Bytes{0x01, 0x10, 0x00}));
    EXPECT_EQ(stuck.port.Commands()[1], (Bytes{0x02, 0x10, 0xFF}));
    EXPECT_GT(stuck.clock.Peek(), 1000 * kMs);
    EXPECT_LT(stuck.clock.Peek(), 1010 * kMs);
}

TEST(T89sOtherFraming, At89s8252EepromHasNoSkipRuleAndPollsForFF) {
    Rig<T89s8252> rig(3);
    rig.Answer([](const Bytes&) { return uint8_t{0xFF}; });
    // 0xFF is always written; the data poll confirms it with the first read that shows it (bit
    // 7 reads inverted while the chip is busy), not after the worst-case 10 ms.
    const uint64_t t0 = rig.clock.Peek();
    EXPECT_TRUE(rig.engine.WriteEepromByte(0x07FF, 0xFF));
    EXPECT_EQ(rig.port.SentBytes(), (Bytes{0x3E, 0xFF, 0xFF, 0x3D, 0xFF, 0xFF}));
    EXPECT_LT(rig.clock.Peek() - t0, 1 * kMs);

    // Other values are polled through the EEPROM read until they match.
    rig.port.ClearLog();
    int reads = 0;
    rig.Answer([&reads](const Bytes& c) {
        return (c[0] & 7) == 5 && ++reads >= 3 ? uint8_t{0x42} : uint8_t{0x00};
    });
    EXPECT_TRUE(rig.engine.WriteEepromByte(0x0001, 0x42));
    EXPECT_EQ(rig.port.Commands().size(), 4u);
    EXPECT_EQ(rig.port.Commands()[0], (Bytes{0x06, 0x01, 0x42}));
    EXPECT_EQ(rig.port.Commands()[3], (Bytes{0x05, 0x01, 0x42}));

    // Without verification the byte is polled all the same: nothing else tells that an
    // AT89S8252 is in the socket, so an empty one fails here.
    rig.port.ClearLog();
    rig.engine.SetAutoVerify(false);
    EXPECT_TRUE(rig.engine.WriteEepromByte(0x0002, 0x42));
    EXPECT_EQ(rig.port.Commands().size(), 2u);
    rig.Answer([](const Bytes&) { return uint8_t{0xFF}; });
    EXPECT_EQ(rig.engine.WriteEepromByte(0x0003, 0x42).Key(), "EngineWriteTimeout");
}

// A new current engine starts verifying and skipping blanks again, at the speed it had.
TEST(T89sOtherFraming, InitPinMapResetsTheFlagsButNotTheSpeed) {
    Rig<T89s8253> rig(4);
    rig.engine.SetAutoVerify(false);
    rig.engine.SetWriteBlank(true);
    rig.engine.SetBitDelay(77);
    rig.engine.InitPinMap();
    EXPECT_EQ(rig.engine.AutoVerify, 1);
    EXPECT_EQ(rig.engine.WriteBlank, 0);
    EXPECT_EQ(rig.engine.BitDelay, 77);
}

// ---- whole operations on the simulated bench ----

using BenchRun = testsupport::EngineOnBench;

std::vector<uint8_t> Image(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> image(size);
    for (auto& b : image) b = static_cast<uint8_t>(gen());
    for (size_t i = 0; i < size; i += 97) image[i] = 0xFF;  // some blank bytes on the way
    return image;
}

struct ChipRow {
    const char* Chip;
    Method EngineMethod;
    size_t FlashSize;
};

class T89sOtherFullImage : public ::testing::TestWithParam<ChipRow> {};

TEST_P(T89sOtherFullImage, EraseWriteVerifyReadBack) {
    const ChipRow& r = GetParam();
    BenchRun run(r.Chip, r.EngineMethod);
    ASSERT_NE(run.bench.Chip(), nullptr) << run.bench.Error().Text(Language::English);
    Tpro& e = *run.engine;
    const auto image = Image(r.FlashSize, 7);

    // Something there already: without the erase the new image could not be written.
    ASSERT_TRUE(e.EnterProgramming());
    ASSERT_TRUE(e.WriteFlashByte(5, 0x00));
    (void)e.EraseChip();
    for (size_t a = 0; a < image.size(); ++a)
        ASSERT_TRUE(e.WriteFlashByte(int32_t(a), image[a])) << "at " << a;
    (void)e.LeaveProgramming();

    ASSERT_TRUE(e.EnterProgramming());
    std::vector<uint8_t> back(image.size());
    for (size_t a = 0; a < back.size(); ++a) back[a] = Got(e.ReadFlashByte(int32_t(a)));
    (void)e.LeaveProgramming();
    EXPECT_EQ(back, image);
}

INSTANTIATE_TEST_SUITE_P(Chips, T89sOtherFullImage,
                         ::testing::Values(ChipRow{"AT89S53", Method::At89s53, 12 * 1024},
                                           ChipRow{"AT89S8252", Method::At89s8252, 8 * 1024},
                                           ChipRow{"AT89S8253", Method::At89s8253, 12 * 1024}),
                         [](const auto& info) { return std::string(info.param.Chip); });

TEST(T89sOtherOnBench, DataEepromOfTheAt89s8252And8253) {
    for (const auto& [chip, method] :
         {std::pair{"AT89S8252", Method::At89s8252}, std::pair{"AT89S8253", Method::At89s8253}}) {
        SCOPED_TRACE(chip);
        BenchRun run(chip, method);
        Tpro& e = *run.engine;
        const auto data = Image(2 * 1024, 11);
        ASSERT_TRUE(e.EnterProgramming());
        for (size_t a = 0; a < data.size(); ++a)
            ASSERT_TRUE(e.WriteEepromByte(int32_t(a), data[a])) << a;
        // Overwriting EEPROM needs no erase, 0xFF included.
        ASSERT_TRUE(e.WriteEepromByte(3, 0xFF));
        ASSERT_TRUE(e.WriteEepromByte(4, 0x00));
        (void)e.LeaveProgramming();

        ASSERT_TRUE(e.EnterProgramming());
        auto expected = data;
        expected[3] = 0xFF;
        expected[4] = 0x00;
        std::vector<uint8_t> back(data.size());
        for (size_t a = 0; a < back.size(); ++a) back[a] = Got(e.ReadEepromByte(int32_t(a)));
        // The program memory is untouched by the EEPROM writes.
        EXPECT_EQ(Got(e.ReadFlashByte(3)), 0xFF);
        (void)e.LeaveProgramming();
        EXPECT_EQ(back, expected);
    }
}

TEST(T89sOtherOnBench, LockModesThroughRawCommand) {
    // AT89S53: mode 1 (0xAC 0x7F) stops programming; the chip has no lock read.
    BenchRun s53("AT89S53", Method::At89s53);
    ASSERT_TRUE(s53.engine->EnterProgramming());
    ASSERT_TRUE(s53.engine->WriteFlashByte(0, 0x12));
    (void)s53.engine->RawCommand(0xAC, 0x7F, 0x00, 0x00);
    EXPECT_FALSE(s53.engine->WriteFlashByte(1, 0x34));
    EXPECT_EQ(Got(s53.engine->ReadFlashByte(0)), 0x12);
    (void)s53.engine->LeaveProgramming();

    // AT89S8253: lock bits written as 0xE7 less the chosen bits, read back by 0x24.
    BenchRun s8253("AT89S8253", Method::At89s8253);
    Tpro& e = *s8253.engine;
    ASSERT_TRUE(e.EnterProgramming());
    EXPECT_EQ(Got(e.RawCommand(0x24, 0, 0, 0)) & 0x07, 0x07);
    (void)e.RawCommand(0xAC, 0xE7 & ~0x03, 0x00, 0x00);
    EXPECT_EQ(Got(e.RawCommand(0x24, 0, 0, 0)) & 0x07, 0x04);
    (void)e.EraseChip();
    EXPECT_EQ(Got(e.RawCommand(0x24, 0, 0, 0)) & 0x07, 0x07);
    (void)e.LeaveProgramming();
}

// The AT89S53, AT89S8252 and AT89S8253 show no misread clock, so the speed bar cannot take them
// past SCK = crystal / 40 (12 MHz: 20 cycles, 1667 ns a phase); the AT89S51/52 echo, and the
// search finds their limit.
TEST(T89sOtherFraming, SckLimitHoldsAtTheFastestSetting) {
    Rig<T89s> s5x(4);
    Rig<T89s53> s53(3);
    Rig<T89s8252> s8252(3);
    Rig<T89s8253> s8253(4);
    const std::pair<SerialIsp*, uint64_t> cases[] = {
        {&s5x.engine, 1000}, {&s53.engine, 1667}, {&s8252.engine, 1667}, {&s8253.engine, 1667}};
    for (const auto& [engine, phase] : cases) {
        engine->SetBitDelay(0);
        EXPECT_EQ(engine->PhaseNs(), phase) << engine->ClassName();
        engine->SetBitDelay(5000);
        EXPECT_EQ(engine->PhaseNs(), 5000u) << engine->ClassName();
    }
}

TEST(T89sOtherOnBench, TooFastAClockFailsTheVerify) {
    sim::ChipFaults slow;
    slow.MinPhaseNs = 3000;  // each SCK phase needs 3 us; a bare port access takes 1 us
    BenchRun run("AT89S8252", Method::At89s8252, slow);
    Tpro& e = *run.engine;
    ASSERT_TRUE(e.EnterProgramming());
    EXPECT_FALSE(e.WriteFlashByte(0x10, 0x5A));
    (void)e.LeaveProgramming();

    e.SetBitDelay(3000);  // 3 us per phase
    ASSERT_TRUE(e.EnterProgramming());
    EXPECT_TRUE(e.WriteFlashByte(0x10, 0x5A));
    (void)e.LeaveProgramming();
}

}  // namespace
}  // namespace tondrel
