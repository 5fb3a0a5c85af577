// The configuration layouts end to end: real engines on the simulated bench.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "config/ConfigCommands.h"
#include "config/ConfigForm.h"
#include "engines/Tavr.h"
#include "engines/Tpic.h"
#include "engines/TpicA.h"
#include "sim/AvrChip.h"
#include "sim/Bench.h"
#include "sim/PicChip.h"
#include "sim/SimPort.h"
#include "tests/support/Results.h"
#include "tests/support/YesPrompts.h"

namespace tondrel::config {
namespace {

using testsupport::Got;

using testsupport::YesPrompts;

sim::BenchOptions Options(const std::string& chip) {
    sim::BenchOptions o;
    o.ChipName = chip;
    return o;
}

template <class Engine>
struct Rig {
    VirtualClock clock;
    sim::Bench bench;
    sim::SimPort port;
    CurrentChip chip;
    EngineEnv env{&port, &clock, &chip};
    Engine engine{env};
    YesPrompts prompts;

    Rig(const std::string& name, const ChipRecord& record)
        : bench(clock, Options(name)), port(bench, &clock) {
        chip.Assign(record);
        engine.InitPinMap();
        engine.SetPortBase(0x378);
    }
    std::unique_ptr<ConfigForm> Open() {
        return OpenConfigForm(chip.CurrentChipName, engine, 0x378, prompts);
    }
};

const ChipRecord kMega16{5, Method::Avr, "ATmega16", "1E9403", 16384, 512, 128};
const ChipRecord kPic877{6, Method::Pic, "PIC16F877", "09A0", 16384, 256, 0};
const ChipRecord kPic877A{53, Method::PicA, "PIC16F877A", "0E20", 16384, 256, 0};

sim::AvrChip& Avr(sim::Bench& bench) {
    return dynamic_cast<sim::AvrChip&>(*bench.Chip());
}
sim::PicChip& Pic(sim::Bench& bench) {
    return dynamic_cast<sim::PicChip&>(*bench.Chip());
}

TEST(ConfigOnSimulatedAvr, FusesWrittenAreReadBackByAFreshOpening) {
    Rig<Tavr> rig("ATmega16", kMega16);
    ASSERT_TRUE(rig.bench.Error().Ok()) << rig.bench.Error().Text(Language::English);
    {
        auto form = rig.Open();
        ASSERT_TRUE(form);
        // The factory values as the boxes show them: high 0x99, low 0xE1.
        EXPECT_EQ(form->ValueToWrite("GroupBox1"), 0x99);
        EXPECT_EQ(form->ValueToWrite("GroupBox3"), 0xE1);
        EXPECT_TRUE(form->Box("fh5").Ticked);  // SPIEN programmed

        // EESAVE on, JTAGEN off; internal 8 MHz clock (CKSEL 0100), BOD on.
        ASSERT_TRUE(WriteGroupSettings(*form, "GroupBox1", {"fh3=on", "fh6=off"}).Ok());
        ASSERT_TRUE(WriteGroupSettings(*form, "GroupBox3",
                                       {"FL6=on", "FL3=on", "FL2=off", "FL1=on", "FL0=on"})
                        .Ok());
    }
    EXPECT_EQ(rig.chip.CurrentChipId, 5);
    EXPECT_EQ(Avr(rig.bench).FuseHigh(), 0xD1);
    EXPECT_EQ(Avr(rig.bench).FuseLow(), 0xA4);

    auto again = rig.Open();
    EXPECT_TRUE(again->Box("fh3").Ticked);
    EXPECT_FALSE(again->Box("fh6").Ticked);
    EXPECT_TRUE(again->Box("FL6").Ticked);
    EXPECT_FALSE(again->Box("FL2").Ticked);
    EXPECT_EQ(again->ValueToWrite("GroupBox1"), 0xD1);
    EXPECT_EQ(again->ValueToWrite("GroupBox3"), 0xA4);

    Message shown;
    ASSERT_TRUE(ReadCalibrationBytes(*again, shown).Ok());
    const std::string text = shown.Text(Language::Chinese);
    // The ATmega16 holds four calibration bytes, one per oscillator frequency.
    std::string expected;
    for (int a = 0; a < 4; ++a) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", Avr(rig.bench).Facts().Cal[static_cast<size_t>(a)]);
        expected +=
            "0x00" + std::to_string(a) + "校准字节(Calibration Byte)值为：: 0x" + hex + "\n";
    }
    EXPECT_EQ(text, expected);
}

TEST(ConfigOnSimulatedAvr, Tiny26LockBitsTravelInTheSecondByte) {
    const ChipRecord tiny26{36, Method::Avr, "ATtiny26", "1E9109", 2048, 128, 32};
    Rig<Tavr> rig("ATtiny26", tiny26);
    ASSERT_TRUE(rig.bench.Error().Ok()) << rig.bench.Error().Text(Language::English);
    // The fourth-byte form of the other chips locks nothing on this one.
    (void)rig.engine.EnterProgramming();
    (void)rig.engine.RawCommand(0xAC, 0xFF, 0x00, 0xFC);
    (void)rig.engine.LeaveProgramming();
    EXPECT_EQ(Avr(rig.bench).Lock() & 0x03, 0x03);

    auto form = rig.Open();
    ASSERT_TRUE(WriteGroupSettings(*form, "GroupBox2", {"LBN0=on"}).Ok());
    EXPECT_EQ(Avr(rig.bench).Lock() & 0x03, 0x02);  // LB1 programmed, LB2 not
    EXPECT_TRUE(form->Box("LBN0").Ticked);
    EXPECT_FALSE(form->Box("LBN1").Ticked);
}

TEST(ConfigOnSimulatedAvr, LockBitsStopFlashReadBackUntilAChipErase) {
    Rig<Tavr> rig("ATmega16", kMega16);
    const std::vector<uint8_t> code = {0x0C, 0x94, 0x2A, 0x00, 0x11, 0x24};
    rig.chip.FlashDataEnd = static_cast<int32_t>(code.size()) - 1;
    auto readFlash = [&] {
        std::vector<uint8_t> out;
        (void)rig.engine.EnterProgramming();
        for (size_t a = 0; a < code.size(); ++a)
            out.push_back(Got(rig.engine.ReadFlashByte(static_cast<int32_t>(a))));
        (void)rig.engine.LeaveProgramming();
        return out;
    };
    (void)rig.engine.EnterProgramming();
    for (size_t a = 0; a < code.size(); ++a)
        ASSERT_TRUE(rig.engine.WriteFlashByte(static_cast<int32_t>(a), code[a])) << a;
    (void)rig.engine.LeaveProgramming();
    ASSERT_EQ(readFlash(), code);

    {
        auto form = rig.Open();
        EXPECT_TRUE(form->Box("LBN1").Enabled);
        ASSERT_TRUE(WriteGroupSettings(*form, "GroupBox2", {"LBN1=on", "LBN0=on"}).Ok());
        EXPECT_EQ(rig.prompts.asked.back(), kMsgLockConfirm);
        // The refresh after the write shows both bits programmed and locked in place.
        EXPECT_TRUE(form->Box("LBN1").Ticked);
        EXPECT_FALSE(form->Box("LBN1").Enabled);
        EXPECT_FALSE(WriteGroupSettings(*form, "GroupBox2", {"LBN0=off"}).Ok());
    }
    EXPECT_EQ(Avr(rig.bench).Lock() & 0x03, 0x00);
    EXPECT_NE(readFlash(), code);

    (void)rig.engine.EnterProgramming();
    (void)rig.engine.EraseChip();
    (void)rig.engine.LeaveProgramming();
    auto after = rig.Open();
    EXPECT_FALSE(after->Box("LBN0").Ticked);
    EXPECT_TRUE(after->Box("LBN0").Enabled);
    EXPECT_EQ(readFlash(), std::vector<uint8_t>(code.size(), 0xFF));
}

TEST(ConfigOnSimulatedPic, ConfigurationWordAndUserIdsRoundTrip) {
    Rig<TpicA> rig("PIC16F877A", kPic877A);
    ASSERT_TRUE(rig.bench.Error().Ok()) << rig.bench.Error().Text(Language::English);
    {
        auto form = rig.Open();
        ASSERT_TRUE(form);
        EXPECT_EQ(form->EditText(0), "3FFF");  // erased user ID
        // LVP off, watchdog off, HS oscillator, power-up timer on.
        ASSERT_TRUE(WriteConfigWord(*form, "3F72").Ok());
        ASSERT_TRUE(WriteUserId(*form, "0", "3F").Ok());
        ASSERT_TRUE(WriteUserId(*form, "0x2003", "1a2b").Ok());
    }
    EXPECT_EQ(Pic(rig.bench).ConfigCell(7) & 0x2FCF, 0x3F72 & 0x2FCF);
    EXPECT_EQ(Pic(rig.bench).ConfigCell(0) & 0x3FFF, 0x003F);

    auto again = rig.Open();
    EXPECT_EQ(again->EditText(0), "003F");
    EXPECT_EQ(again->EditText(1), "3FFF");
    EXPECT_EQ(again->EditText(3), "1A2B");
    EXPECT_TRUE(again->Box("cfg7").Ticked);
    EXPECT_TRUE(again->Box("cfg3").Ticked);
    EXPECT_FALSE(again->Box("cfg1").Ticked);
    EXPECT_TRUE(again->Box("cfg0").Ticked);
    EXPECT_FALSE(again->Box("cfg13").Ticked);
    EXPECT_EQ(again->ValueToWrite("GroupBox2"), 0x3F72);
}

TEST(ConfigOnSimulatedPic, FullEraseClearsAProtectedChip) {
    Rig<Tpic> rig("PIC16F877", kPic877);
    const std::vector<uint8_t> code = {0x83, 0x16, 0x86, 0x01, 0x28, 0x28};
    rig.chip.FlashDataEnd = static_cast<int32_t>(code.size()) - 1;
    auto readWords = [&] {
        std::vector<uint8_t> out;
        (void)rig.engine.EnterProgramming();
        for (size_t a = 0; a < code.size(); ++a)
            out.push_back(Got(rig.engine.ReadFlashByte(static_cast<int32_t>(a))));
        (void)rig.engine.LeaveProgramming();
        return out;
    };
    (void)rig.engine.EnterProgramming();
    for (size_t a = 0; a < code.size(); ++a)
        ASSERT_TRUE(rig.engine.WriteFlashByte(static_cast<int32_t>(a), code[a])) << a;
    (void)rig.engine.LeaveProgramming();
    ASSERT_EQ(readWords(), code);

    auto form = rig.Open();
    ASSERT_TRUE(WriteGroupSettings(*form, "GroupBox2", {"cfg13=on", "cfg12=on"}).Ok());
    EXPECT_EQ(Pic(rig.bench).ConfigCell(7) & 0x3030, 0x0000);
    EXPECT_TRUE(form->Box("cfg13").Ticked);  // re-read after the write
    EXPECT_NE(readWords(), code);            // protected: the code no longer reads back

    ASSERT_TRUE(EraseAll(*form).Ok());
    EXPECT_EQ(rig.prompts.asked.back(), form->Layout().EraseConfirm);
    for (uint32_t w = 0; w < 3; ++w) EXPECT_EQ(Pic(rig.bench).ProgramCell(w), 0x3FFF) << w;
    EXPECT_EQ(Pic(rig.bench).ConfigCell(7) & 0x3FFF, 0x3FFF);
    EXPECT_EQ(Pic(rig.bench).ConfigCell(0) & 0x3FFF, 0x3FFF);

    auto fresh = rig.Open();
    EXPECT_FALSE(fresh->Box("cfg13").Ticked);
    EXPECT_FALSE(fresh->Box("cfg12").Ticked);
    EXPECT_EQ(readWords(), std::vector<uint8_t>({0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F}));
}

}  // namespace
}  // namespace tondrel::config
