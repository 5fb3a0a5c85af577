// The simulated AVR at line level: a tiny SPI master drives /RESET, SCK and MOSI as the
// datasheets' serial programming algorithm does and reads MISO in mode 0.
#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "sim/AvrChip.h"

namespace tondrel::sim {
namespace {

using Frame = std::array<uint8_t, 4>;

class Driver {
  public:
    explicit Driver(AvrChip& chip) : chip_(chip) {
        // Phases of 500 ns need a crystal: the chips' factory clocks are tested elsewhere.
        if (chip_.Faults.ClockHz == 0) chip_.Faults.ClockHz = 20'000'000;
        lines_.Connected = true;
        lines_.Rst = true;
        Apply();
    }

    void Advance(uint64_t ns) { now_ += ns; }
    void AdvanceMs(uint64_t ms) { now_ += ms * 1'000'000; }

    // /RESET high, then low with SCK low: the chip enters serial programming mode.
    void PulseReset() {
        lines_.Sck = false;
        SetRst(true);
        SetRst(false);
        AdvanceMs(20);
    }
    void SetRst(bool level) {
        lines_.Rst = level;
        Apply();
    }
    void ExtraSckPulse() {
        SetSck(true);
        SetSck(false);
    }

    uint8_t Transfer(uint8_t out) {
        uint8_t in = 0;
        for (int bit = 7; bit >= 0; --bit) {
            SetSck(false);
            lines_.Mosi = ((out >> bit) & 1) != 0;
            Apply();
            SetSck(true);
            if (chip_.DataOut(now_)) in = static_cast<uint8_t>(in | (1u << bit));
        }
        SetSck(false);
        return in;
    }
    Frame Command(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
        return {Transfer(b0), Transfer(b1), Transfer(b2), Transfer(b3)};
    }
    uint8_t Answer(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3 = 0) {
        return Command(b0, b1, b2, b3)[3];
    }
    // Reset, enable; true when the chip echoed 0x53.
    bool Enter() {
        PulseReset();
        return Command(0xAC, 0x53, 0x00, 0x00)[2] == 0x53;
    }
    uint8_t ReadFlash(int32_t address) {
        return Answer(address & 1 ? 0x28 : 0x20, static_cast<uint8_t>(address >> 9),
                      static_cast<uint8_t>(address >> 1));
    }
    void LoadFlash(int32_t address, uint8_t value) {
        Command(address & 1 ? 0x48 : 0x40, static_cast<uint8_t>(address >> 9),
                static_cast<uint8_t>(address >> 1), value);
    }
    void CommitPage(int32_t address) {
        Command(0x4C, static_cast<uint8_t>(address >> 9), static_cast<uint8_t>(address >> 1), 0);
    }
    uint8_t ReadEeprom(int32_t a) {
        return Answer(0xA0, static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a));
    }
    void WriteEeprom(int32_t a, uint8_t v) {
        Command(0xC0, static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a), v);
    }
    void Erase() {
        Command(0xAC, 0x80, 0x00, 0x00);
        AdvanceMs(10);
    }
    void Disconnect() {
        lines_.Connected = false;
        Apply();
    }

  private:
    void SetSck(bool level) {
        Advance(500);
        lines_.Sck = level;
        Apply();
    }
    void Apply() { chip_.SetLines(lines_, now_); }

    AvrChip& chip_;
    TargetLines lines_{};
    uint64_t now_ = 1'000'000;
};

std::unique_ptr<AvrChip> Make(const std::string& name) {
    auto chip = CreateChip(name);
    auto* avr = dynamic_cast<AvrChip*>(chip.get());
    if (avr == nullptr) return nullptr;
    chip.release();
    return std::unique_ptr<AvrChip>(avr);
}

TEST(AvrChipFactory, EveryCatalogueAvrIsBuiltAndOthersAreNot) {
    EXPECT_EQ(AllAvrFacts().size(), 163u);  // the hand-kept older chips and the part data
    for (const AvrFacts& f : AllAvrFacts()) {
        auto chip = Make(f.Name);
        ASSERT_NE(chip, nullptr) << f.Name;
        // Sizes must be powers of two: the chip masks addresses with them.
        EXPECT_EQ(f.FlashSize & (f.FlashSize - 1), 0) << f.Name;
        EXPECT_EQ(f.EepromSize & (f.EepromSize - 1), 0) << f.Name;
        EXPECT_TRUE(f.PageSize == 0 || f.FlashSize % f.PageSize == 0) << f.Name;
    }
    EXPECT_NE(Make("atmega16"), nullptr);  // names are case-insensitive
    EXPECT_EQ(CreateAvrChip("AT89S52"), nullptr);
    EXPECT_EQ(CreateAvrChip("PIC16F877"), nullptr);
}

TEST(AvrChipProtocol, EnableEchoSignatureAndNothingBeforeEnable) {
    auto chip = Make("ATmega16");
    Driver d(*chip);
    d.PulseReset();
    // Before programming enable the chip obeys nothing: this write must not land.
    d.WriteEeprom(0, 0x12);
    EXPECT_FALSE(chip->InProgrammingMode());
    Frame r = d.Command(0xAC, 0x53, 0x00, 0x00);
    EXPECT_EQ(r[2], 0x53);
    EXPECT_TRUE(chip->InProgrammingMode());
    EXPECT_EQ(chip->Eeprom()[0], 0xFF);
    EXPECT_EQ(d.Answer(0x30, 0, 0), 0x1E);
    EXPECT_EQ(d.Answer(0x30, 0, 1), 0x94);
    EXPECT_EQ(d.Answer(0x30, 0, 2), 0x03);
    // Leaving reset leaves programming mode; MISO then floats high.
    d.SetRst(true);
    EXPECT_FALSE(chip->InProgrammingMode());
    d.SetRst(false);
    EXPECT_FALSE(chip->InProgrammingMode());
}

TEST(AvrChipProtocol, OutOfStepChipGivesNoEchoAndAT90S1200NeverEchoes) {
    auto chip = Make("ATmega16");
    Driver d(*chip);
    d.PulseReset();
    d.ExtraSckPulse();
    EXPECT_NE(d.Command(0xAC, 0x53, 0x00, 0x00)[2], 0x53);
    EXPECT_FALSE(chip->InProgrammingMode());
    // 31 more pulses bring the framing round again.
    for (int i = 0; i < 31; ++i) d.ExtraSckPulse();
    EXPECT_EQ(d.Command(0xAC, 0x53, 0x00, 0x00)[2], 0x53);

    auto old = Make("AT90S1200");
    Driver d2(*old);
    EXPECT_FALSE(d2.Enter());
    EXPECT_TRUE(old->InProgrammingMode());
    EXPECT_EQ(d2.Answer(0x30, 0, 1), 0x90);
}

TEST(AvrChipProtocol, TooShortClockPhaseCorruptsBits) {
    auto chip = Make("ATmega16");
    chip->Faults.MinPhaseNs = 1000;  // the driver's phases are 500 ns
    Driver d(*chip);
    EXPECT_FALSE(d.Enter());
    chip->Faults.MinPhaseNs = 400;
    EXPECT_TRUE(d.Enter());
}

TEST(AvrChipFlash, PageWriteIsSelfTimedAndOnlyClearsBits) {
    auto chip = Make("ATmega16");
    Driver d(*chip);
    ASSERT_TRUE(d.Enter());
    // Load page 2 (bytes 256..383) partly, commit by a word address inside the page.
    d.LoadFlash(256, 0x11);
    d.LoadFlash(257, 0x22);
    d.LoadFlash(383, 0xF0);
    d.CommitPage(300);
    EXPECT_EQ(d.ReadFlash(256), 0xFF);  // still writing
    d.AdvanceMs(4);
    EXPECT_EQ(d.ReadFlash(257), 0xFF);
    d.AdvanceMs(1);
    EXPECT_EQ(d.ReadFlash(256), 0x11);
    EXPECT_EQ(d.ReadFlash(257), 0x22);
    EXPECT_EQ(d.ReadFlash(383), 0xF0);
    EXPECT_EQ(d.ReadFlash(258), 0xFF);
    EXPECT_EQ(chip->Flash()[128], 0xFF);  // neighbouring pages untouched
    EXPECT_EQ(chip->Flash()[384], 0xFF);

    // Without an erase, programming only clears bits; the buffer was emptied by the commit.
    d.LoadFlash(383, 0x0F);
    d.CommitPage(256);
    d.AdvanceMs(5);
    EXPECT_EQ(d.ReadFlash(383), 0x00);
    EXPECT_EQ(d.ReadFlash(256), 0x11);

    d.Erase();
    EXPECT_EQ(d.ReadFlash(256), 0xFF);
}

TEST(AvrChipFlash, CommandsDuringAWriteAreIgnoredAndStuckByteNeverPrograms) {
    auto chip = Make("ATmega16");
    chip->Faults.StuckAddress = 3;
    Driver d(*chip);
    ASSERT_TRUE(d.Enter());
    for (int a = 0; a < 4; ++a) d.LoadFlash(a, static_cast<uint8_t>(0x10 + a));
    d.CommitPage(0);
    d.LoadFlash(128, 0x55);
    d.CommitPage(128);  // the chip is still busy with page 0
    d.AdvanceMs(5);
    EXPECT_EQ(d.ReadFlash(2), 0x12);
    EXPECT_EQ(d.ReadFlash(3), 0xFF);
    EXPECT_EQ(d.ReadFlash(128), 0xFF);
}

TEST(AvrChipFlash, ByteModeChipWritesEachByteSelfTimed) {
    auto chip = Make("AT90S2313");
    Driver d(*chip);
    ASSERT_TRUE(d.Enter());
    d.LoadFlash(0x7FF, 0xA5);  // high byte of the last word
    EXPECT_EQ(d.ReadFlash(0x7FF), 0xFF);
    d.LoadFlash(0x10, 0x33);  // ignored: the first byte is still being written
    d.AdvanceMs(4);
    EXPECT_EQ(d.ReadFlash(0x7FF), 0xA5);
    EXPECT_EQ(d.ReadFlash(0x10), 0xFF);
    // Word addresses wrap at the end of the 1 K-word memory.
    d.LoadFlash(0x800, 0x3C);
    d.AdvanceMs(4);
    EXPECT_EQ(chip->Flash()[0], 0x3C);
}

TEST(AvrChipEeprom, WriteTakesNineMillisecondsAndReplacesTheByte) {
    auto chip = Make("ATtiny13");
    Driver d(*chip);
    ASSERT_TRUE(d.Enter());
    d.WriteEeprom(63, 0x0F);
    d.AdvanceMs(8);
    EXPECT_EQ(d.ReadEeprom(63), 0xFF);
    d.AdvanceMs(1);
    EXPECT_EQ(d.ReadEeprom(63), 0x0F);
    d.WriteEeprom(63, 0xF0);  // auto-erase: bits can go back to 1
    d.AdvanceMs(9);
    EXPECT_EQ(d.ReadEeprom(63), 0xF0);
}

TEST(AvrChipErase, ErasesFlashEepromAndLocksUnlessEesave) {
    auto chip = Make("ATmega16");
    Driver d(*chip);
    ASSERT_TRUE(d.Enter());
    d.WriteEeprom(5, 0x42);
    d.AdvanceMs(10);
    d.LoadFlash(0, 0x00);
    d.CommitPage(0);
    d.AdvanceMs(5);
    d.Command(0xAC, 0xFF, 0x00, 0xFC);  // lock mode 3
    EXPECT_EQ(d.Answer(0x58, 0, 0), 0xFC);
    d.Erase();
    EXPECT_EQ(d.Answer(0x58, 0, 0), 0xFF);
    EXPECT_EQ(d.ReadFlash(0), 0xFF);
    EXPECT_EQ(d.ReadEeprom(5), 0xFF);

    // EESAVE (high fuse bit 3) programmed: the EEPROM survives the erase.
    d.WriteEeprom(5, 0x42);
    d.AdvanceMs(10);
    d.Command(0xAC, 0xA8, 0x00, 0x91);
    d.Erase();
    EXPECT_EQ(d.ReadEeprom(5), 0x42);
    EXPECT_EQ(d.Answer(0x58, 0x08, 0), 0x91);  // fuses are not erased
}

TEST(AvrChipConfig, ModernFusesLocksAndCalibration) {
    auto chip = Make("ATmega128");
    Driver d(*chip);
    ASSERT_TRUE(d.Enter());
    EXPECT_EQ(d.Answer(0x50, 0x00, 0), 0xE1);
    EXPECT_EQ(d.Answer(0x58, 0x08, 0), 0x99);
    EXPECT_EQ(d.Answer(0x50, 0x08, 0), 0xFD);
    EXPECT_EQ(d.Answer(0x58, 0x00, 0), 0xFF);
    EXPECT_NE(d.Answer(0x38, 0, 0), d.Answer(0x38, 0, 3));  // four distinct bytes

    // SPIEN cannot be changed in serial mode; the other bits follow the write.
    d.Command(0xAC, 0xA8, 0x00, 0xFF);
    EXPECT_EQ(d.Answer(0x58, 0x08, 0), 0xDF);
    d.Command(0xAC, 0xA0, 0x00, 0x3F);
    EXPECT_EQ(d.Answer(0x50, 0x00, 0), 0x3F);
    // Only bits 1..0 of the extended fuse exist; the rest read 1.
    d.Command(0xAC, 0xA4, 0x00, 0x00);
    EXPECT_EQ(d.Answer(0x50, 0x08, 0), 0xFC);

    // Lock bits: only programming sticks; LB1 freezes the fuses.
    d.Command(0xAC, 0xFF, 0x00, 0xFE);
    d.Command(0xAC, 0xFF, 0x00, 0xFF);
    EXPECT_EQ(d.Answer(0x58, 0x00, 0), 0xFE);
    d.Command(0xAC, 0xA0, 0x00, 0xE1);
    EXPECT_EQ(d.Answer(0x50, 0x00, 0), 0x3F);
}

TEST(AvrChipConfig, LockedChipRefusesWritesAndHidesItsMemory) {
    auto chip = Make("ATmega16");
    Driver d(*chip);
    ASSERT_TRUE(d.Enter());
    d.WriteEeprom(0x34, 0x99);
    d.AdvanceMs(10);
    d.LoadFlash(0x12, 0x77);
    d.CommitPage(0);
    d.AdvanceMs(5);

    d.Command(0xAC, 0xFF, 0x00, 0xFE);  // mode 2: no further programming, reads still work
    d.LoadFlash(0x14, 0x00);
    d.CommitPage(0);
    d.WriteEeprom(0x35, 0x00);
    d.AdvanceMs(10);
    EXPECT_EQ(d.ReadFlash(0x12), 0x77);
    EXPECT_EQ(d.ReadFlash(0x14), 0xFF);
    EXPECT_EQ(d.ReadEeprom(0x35), 0xFF);

    d.Command(0xAC, 0xFF, 0x00, 0xFC);  // mode 3: verification disabled too
    // Nothing is loaded into the output register: the fourth byte echoes the third.
    EXPECT_EQ(d.ReadFlash(0x12), 0x09);
    EXPECT_EQ(d.ReadEeprom(0x34), 0x34);
    EXPECT_EQ(d.Answer(0x30, 0, 1), 0x94);  // the signature stays readable
}

TEST(AvrChipConfig, OldStyleCommandForms) {
    // AT90S2323: combined status byte, FSTRT by 0xAC 0xBE/0xBF, locks by 0xAC 1111 1ii1.
    auto s2323 = Make("AT90S2323");
    Driver a(*s2323);
    ASSERT_TRUE(a.Enter());
    EXPECT_EQ(a.Answer(0x58, 0, 0), 0xDF);
    a.Command(0xAC, 0xBE, 0x00, 0x00);
    EXPECT_EQ(a.Answer(0x58, 0, 0), 0xDE);
    a.Command(0xAC, 0xF9, 0x00, 0x00);
    EXPECT_EQ(a.Answer(0x58, 0, 0), 0x1E);

    // AT90S2333: fuse byte in the second command byte; SPIEN stays.
    auto s2333 = Make("AT90S2333");
    Driver b(*s2333);
    ASSERT_TRUE(b.Enter());
    EXPECT_EQ(b.Answer(0x50, 0, 0), 0xDA);
    b.Command(0xAC, 0xBF, 0x00, 0x00);
    EXPECT_EQ(b.Answer(0x50, 0, 0), 0xDF);
    b.Command(0xAC, 0xA0, 0x00, 0x00);
    EXPECT_EQ(b.Answer(0x50, 0, 0), 0xC0);
    b.Command(0xAC, 0xFD, 0x00, 0x00);
    EXPECT_EQ(b.Answer(0x58, 0, 0), 0xFD);

    // ATtiny12: fuse by 0xAC 0xA0 0x00 v, locks in byte 2, one calibration byte.
    auto t12 = Make("ATtiny12");
    Driver c(*t12);
    ASSERT_TRUE(c.Enter());
    EXPECT_EQ(c.Answer(0x50, 0, 0), 0x52);
    c.Command(0xAC, 0xA0, 0x00, 0xFF);
    EXPECT_EQ(c.Answer(0x50, 0, 0), 0xDF);
    c.Command(0xAC, 0xFB, 0x00, 0x00);
    EXPECT_EQ(c.Answer(0x58, 0, 0), 0xFB);
    EXPECT_EQ(c.Answer(0x38, 0, 0), t12->Facts().Cal[0]);

    // AT90S1200: nothing readable, but the lock write still protects the Flash.
    auto s1200 = Make("AT90S1200");
    Driver e(*s1200);
    e.Enter();
    EXPECT_EQ(e.Answer(0x58, 0, 0, 0x5A), 0x00);  // echo of the third byte
    e.LoadFlash(4, 0x12);
    e.AdvanceMs(5);
    EXPECT_EQ(e.ReadFlash(4), 0x12);
    e.Command(0xAC, 0xF9, 0x00, 0x00);
    EXPECT_EQ(e.ReadFlash(4), 0x02);
}

TEST(AvrChipState, SaveLoadRoundTripAndRefusals) {
    auto chip = Make("ATtiny13");
    Driver d(*chip);
    ASSERT_TRUE(d.Enter());
    d.LoadFlash(1, 0x5A);
    d.CommitPage(0);
    d.AdvanceMs(5);
    d.WriteEeprom(7, 0xC3);
    d.AdvanceMs(10);
    d.Command(0xAC, 0xFF, 0x00, 0xFE);
    std::stringstream saved;
    chip->SaveState(saved);

    auto copy = Make("ATtiny13");
    std::stringstream in(saved.str());
    ASSERT_TRUE(copy->LoadState(in));
    EXPECT_EQ(copy->Flash(), chip->Flash());
    EXPECT_EQ(copy->Eeprom(), chip->Eeprom());
    EXPECT_EQ(copy->Lock(), 0xFE);
    EXPECT_EQ(copy->FuseLow(), 0x6A);

    auto other = Make("ATmega16");
    std::stringstream wrongChip(saved.str());
    EXPECT_FALSE(other->LoadState(wrongChip));
    EXPECT_EQ(other->Flash()[1], 0xFF);

    auto fresh = Make("ATtiny13");
    std::string text = saved.str();
    std::stringstream truncated(text.substr(0, text.size() / 2));
    EXPECT_FALSE(fresh->LoadState(truncated));
    EXPECT_EQ(fresh->Flash()[1], 0xFF);
    EXPECT_EQ(fresh->Lock(), 0xFF);
}

}  // namespace
}  // namespace tondrel::sim
