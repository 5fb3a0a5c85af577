// Tavr against the simulated bench and the simulated AVR family: whole-chip runs as the
// programming operations drive them, locked chips, and a chip that starts out of step.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "engines/Tavr.h"
#include "sim/AvrChip.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"
#include "tests/support/Results.h"

namespace tondrel {
namespace {

using testsupport::Got;

using sim::AvrChip;
using sim::Bench;
using sim::BenchOptions;
using sim::SimPort;

struct Desk {
    Desk(const std::string& chipName, std::unique_ptr<sim::TargetChip> model = nullptr)
        : BenchObj(MakeBench(Clock, chipName, std::move(model))), Port(*BenchObj, &Clock) {
        const sim::AvrFacts* facts = sim::FindAvrFacts(Upper(chipName));
        Current.CurrentChipName = chipName;
        Current.CurrentMethodCode = Method::Avr;
        Current.FlashSize = facts->FlashSize;
        Current.EEPROMSize = facts->EepromSize;
        Current.CurrentPageSize = facts->PageSize;
        // The part data the catalogue row carries for this chip.
        Current.FlashWriteDelayUs = static_cast<int32_t>(facts->FlashWriteMaxUs);
        Current.EepromWriteDelayUs = static_cast<int32_t>(facts->EepromWriteMaxUs);
        Current.EraseDelayMs = static_cast<int32_t>((facts->ChipEraseUs + 999) / 1000);
        Current.FlashReadback = facts->FlashReadback;
        Current.EepromReadback = facts->EepromReadback;
        Current.EchoesEnable = facts->EchoesEnable;
        Current.EEPROMPageSize = facts->EepromPageSize;
        Env = {&Port, &Clock, &Current};
        Engine.InitPinMap();
        Engine.SetPortBase(0x378);
    }

    static std::string Upper(std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }
    static std::unique_ptr<Bench> MakeBench(Clock& clock, const std::string& name,
                                            std::unique_ptr<sim::TargetChip> model) {
        BenchOptions o;
        o.ChipName = name;
        if (model) return std::make_unique<Bench>(clock, o, std::move(model));
        return std::make_unique<Bench>(clock, o);
    }
    AvrChip& Chip() { return dynamic_cast<AvrChip&>(*BenchObj->Chip()); }

    // The Flash write of the programming operations: every address from 0 to the end, in
    // order, with FlashDataEnd set first. Returns the first address that failed, or -1.
    int32_t WriteFlash(const std::vector<uint8_t>& image) {
        Current.FlashDataEnd = static_cast<int32_t>(image.size()) - 1;
        for (size_t a = 0; a < image.size(); ++a) {
            if (!Engine.WriteFlashByte(static_cast<int32_t>(a), image[a])) {
                return static_cast<int32_t>(a);
            }
        }
        return -1;
    }
    std::vector<uint8_t> ReadFlash(size_t n) {
        std::vector<uint8_t> out(n);
        for (size_t a = 0; a < n; ++a) out[a] = Got(Engine.ReadFlashByte(static_cast<int32_t>(a)));
        return out;
    }

    VirtualClock Clock;
    std::unique_ptr<Bench> BenchObj;
    SimPort Port;
    CurrentChip Current;
    EngineEnv Env;
    Tavr Engine{Env};
};

// Random data with the shapes a real image has: runs of blank bytes, including whole blank
// pages that the engine never commits, and single 0xFF bytes among data.
std::vector<uint8_t> RandomImage(size_t n, int32_t pageSize, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(n);
    for (auto& b : image) b = static_cast<uint8_t>(random());
    const size_t page = pageSize > 0 ? static_cast<size_t>(pageSize) : 64;
    if (n >= 4 * page) {
        std::fill(image.begin() + static_cast<std::ptrdiff_t>(2 * page),
                  image.begin() + static_cast<std::ptrdiff_t>(3 * page), 0xFF);
    }
    std::fill(image.end() - 7, image.end(), 0xFF);  // the last page ends blank
    return image;
}

class TavrWholeChip : public ::testing::TestWithParam<const char*> {};

TEST_P(TavrWholeChip, EraseWriteReadBackFlashAndEeprom) {
    Desk desk(GetParam());
    const sim::AvrFacts& f = desk.Chip().Facts();
    ASSERT_TRUE(desk.Engine.EnterProgramming());
    const std::string sig = Got(desk.Engine.ReadSignature());
    char expected[7];
    std::snprintf(expected, sizeof expected, "%02X%02X%02X", f.Signature[0], f.Signature[1],
                  f.Signature[2]);
    EXPECT_EQ(sig, expected);

    // Leftovers of an earlier program: only an erase makes the new image writable.
    desk.Current.FlashDataEnd = 1;
    (void)desk.Engine.WriteFlashByte(0, 0x00);
    (void)desk.Engine.WriteFlashByte(1, 0x00);
    (void)desk.Engine.EraseChip();

    const auto image = RandomImage(static_cast<size_t>(f.FlashSize), f.PageSize, 7);
    EXPECT_EQ(desk.WriteFlash(image), -1);
    (void)desk.Engine.LeaveProgramming();

    ASSERT_TRUE(desk.Engine.EnterProgramming());
    EXPECT_TRUE(desk.ReadFlash(image.size()) == image);
    EXPECT_TRUE(desk.Chip().Flash() == image);

    // Twice: the second image overwrites the first, a whole page of 0xFF (and a run that ends
    // inside a page, where the chip has EEPROM pages) included.
    std::mt19937 random(11);
    std::vector<uint8_t> eeprom(static_cast<size_t>(f.EepromSize));
    for (size_t end : {eeprom.size(), eeprom.size() - 1}) {
        for (auto& b : eeprom) b = static_cast<uint8_t>(random());
        eeprom[3] = 0xFF;
        std::fill_n(eeprom.begin() + 8, 4, 0xFF);
        desk.Current.EEPROMDataEnd = static_cast<int32_t>(end) - 1;
        for (size_t a = 0; a < end; ++a) {
            ASSERT_TRUE(desk.Engine.WriteEepromByte(static_cast<int32_t>(a), eeprom[a])) << a;
        }
        for (size_t a = 0; a < end; ++a) {
            ASSERT_EQ(Got(desk.Engine.ReadEepromByte(static_cast<int32_t>(a))), eeprom[a]) << a;
        }
    }
    (void)desk.Engine.LeaveProgramming();
}

INSTANTIATE_TEST_SUITE_P(Avr, TavrWholeChip,
                         ::testing::Values("ATmega16", "ATmega128", "ATtiny13", "AT90S2313",
                                           "ATmega328P"));

TEST(TavrOnBench, WritingWithoutEraseFailsInsteadOfReportingSuccess) {
    Desk desk("ATtiny13");
    ASSERT_TRUE(desk.Engine.EnterProgramming());
    desk.Current.FlashDataEnd = 31;
    std::vector<uint8_t> zeros(32, 0x00);
    EXPECT_EQ(desk.WriteFlash(zeros), -1);
    std::vector<uint8_t> ones(32, 0x5A);
    EXPECT_EQ(desk.WriteFlash(ones), 31);  // the commit's poll is where a page fails
}

TEST(TavrOnBench, LockedChipsRefuseWritesAndTheEngineSaysSo) {
    {
        Desk desk("ATmega16");
        ASSERT_TRUE(desk.Engine.EnterProgramming());
        (void)desk.Engine.EraseChip();
        (void)desk.Engine.RawCommand(0xAC, 0xFF, 0x00, 0xFC);  // LB2 and LB1 programmed
        EXPECT_EQ(Got(desk.Engine.RawCommand(0x58, 0x00, 0x00, 0x00)), 0xFC);
        std::vector<uint8_t> page(128, 0x12);
        EXPECT_EQ(desk.WriteFlash(page), 127);
        EXPECT_FALSE(desk.Engine.WriteEepromByte(0, 0x34));
        EXPECT_EQ(desk.Chip().Flash()[0], 0xFF);
        // An erase is the way back.
        (void)desk.Engine.EraseChip();
        EXPECT_EQ(desk.WriteFlash(page), -1);
    }
    {
        Desk desk("AT90S2313");
        ASSERT_TRUE(desk.Engine.EnterProgramming());
        (void)desk.Engine.EraseChip();
        (void)desk.Engine.RawCommand(0xAC, 0xFD, 0x00, 0x00);  // lock mode 2: programming disabled
        EXPECT_FALSE(desk.Engine.WriteFlashByte(0, 0x12));
        EXPECT_FALSE(desk.Engine.WriteEepromByte(0, 0x34));
    }
}

// Passes everything to an AVR model, but adds spurious SCK pulses right after the first time
// /RESET goes low, as a noisy cable would: the chip starts out of step with the programmer.
class GlitchingChip : public sim::TargetChip {
  public:
    GlitchingChip(std::unique_ptr<sim::TargetChip> inner, int pulses)
        : inner_(std::move(inner)), pulses_(pulses) {}
    std::string Name() const override { return inner_->Name(); }
    void SetLines(const sim::TargetLines& lines, uint64_t nowNs) override {
        inner_->Faults = Faults;
        const bool resetFell = lines.Connected && !lines.Rst && last_.Connected && last_.Rst;
        inner_->SetLines(lines, nowNs);
        if (resetFell && pulses_ > 0) {
            sim::TargetLines l = lines;
            for (; pulses_ > 0; --pulses_) {
                l.Sck = true;
                inner_->SetLines(l, nowNs);
                l.Sck = false;
                inner_->SetLines(l, nowNs);
            }
        }
        last_ = lines;
    }
    bool DataOut(uint64_t nowNs) override { return inner_->DataOut(nowNs); }
    void SaveState(std::ostream& out) const override { inner_->SaveState(out); }
    bool LoadState(std::istream& in) override { return inner_->LoadState(in); }

  private:
    std::unique_ptr<sim::TargetChip> inner_;
    int pulses_;
    sim::TargetLines last_{};
};

TEST(TavrOnBench, ChipOutOfStepIsBroughtBackByAResetPulse) {
    for (int glitch : {1, 5, 31}) {
        Desk desk("ATmega16", std::make_unique<GlitchingChip>(sim::CreateChip("ATmega16"), glitch));
        ASSERT_TRUE(desk.Engine.EnterProgramming()) << glitch;
        EXPECT_EQ(Got(desk.Engine.ReadSignature()), "1E9403") << glitch;
    }
}

TEST(TavrOnBench, NoChipOrStuckDataLineIsNotEntered) {
    for (bool level : {true, false}) {
        BenchOptions o;
        o.ChipName = "ATmega16";
        o.MisoStuck = level;
        VirtualClock clock;
        Bench bench(clock, o);
        SimPort port(bench, &clock);
        CurrentChip current;
        current.CurrentChipName = "ATmega16";
        EngineEnv env{&port, &clock, &current};
        Tavr avr(env);
        avr.InitPinMap();
        avr.SetPortBase(0x378);
        EXPECT_FALSE(avr.EnterProgramming()) << level;
    }
    Desk empty("ATmega16", std::make_unique<GlitchingChip>(sim::CreateChip("ATmega16"), 0));
    EXPECT_TRUE(empty.Engine.EnterProgramming());  // the wrapper alone changes nothing
}

}  // namespace
}  // namespace tondrel
