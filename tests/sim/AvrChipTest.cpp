// The simulated AVR at line level: a tiny SPI master drives /RESET, SCK and MOSI as the
// datasheets' serial programming algorithm does and reads MISO in mode 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <sstream>
#include <vector>

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
    uint64_t Now() const { return now_; }
    static std::string Upper(std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }
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
        AdvanceMs(120);  // the longest erase in the part data (ATmega103)
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
    EXPECT_NE(d.ReadFlash(0x7FF), 0xA5);
    d.LoadFlash(0x10, 0x33);  // ignored: the first byte is still being written
    d.AdvanceMs(20);
    EXPECT_EQ(d.ReadFlash(0x7FF), 0xA5);
    EXPECT_EQ(d.ReadFlash(0x10), 0xFF);
    // Word addresses wrap at the end of the 1 K-word memory.
    d.LoadFlash(0x800, 0x3C);
    d.AdvanceMs(20);
    EXPECT_EQ(chip->Flash()[0], 0x3C);
}

TEST(AvrChipEeprom, WriteIsSelfTimedAndReplacesTheByte) {
    auto chip = Make("ATtiny13");
    Driver d(*chip);
    ASSERT_TRUE(d.Enter());
    d.WriteEeprom(63, 0x0F);
    EXPECT_EQ(d.ReadEeprom(63), 0xFF);
    d.AdvanceMs(20);
    EXPECT_EQ(d.ReadEeprom(63), 0x0F);
    d.WriteEeprom(63, 0xF0);  // auto-erase: bits can go back to 1
    d.AdvanceMs(20);
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
    e.AdvanceMs(20);
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

namespace tondrel::sim {
namespace {

// Facts of a catalogue chip with the part data's timing and busy read-back values, as avrdude's
// part data gives them; the model must follow whatever the row says.
struct Timed {
    const char* Base;
    uint32_t FlashMinUs, FlashMaxUs, EepromMinUs, EepromMaxUs;
    int32_t FlashReadback, EepromReadback;
};

const Timed kTimed[] = {
    {"AT90S2313", 4000, 9000, 4000, 9000, 0x7F7F, 0x807F},
    {"AT90S4434", 9000, 20000, 9000, 20000, 0xFFFF, 0x00FF},
    {"ATmega16", 4500, 4500, 9000, 9000, 0xFFFF, 0xFFFF},
    {"ATmega48", 4500, 4500, 3600, 3600, -1, 0xFFFF},
};

AvrFacts FactsOf(const Timed& t) {
    AvrFacts f = *FindAvrFacts(Driver::Upper(t.Base));
    f.FlashWriteMinUs = t.FlashMinUs;
    f.FlashWriteMaxUs = t.FlashMaxUs;
    f.EepromWriteMinUs = t.EepromMinUs;
    f.EepromWriteMaxUs = t.EepromMaxUs;
    f.FlashReadback = t.FlashReadback;
    f.EepromReadback = t.EepromReadback;
    return f;
}

// Polls a location every 100 us until it shows `value`; returns every value read before, and
// the time from the end of the write command to the first good read.
struct Poll {
    std::vector<uint8_t> Busy;
    uint64_t TookNs = 0;
};
template <typename Read>
Poll PollUntil(Driver& d, uint8_t value, Read read) {
    Poll p;
    const uint64_t start = d.Now();
    for (;;) {
        const uint8_t got = read();
        if (got == value) break;
        p.Busy.push_back(got);
        if (d.Now() - start > 100'000'000) break;
        d.Advance(100'000);
    }
    p.TookNs = d.Now() - start;
    return p;
}

TEST(AvrChipTiming, WritesLastBetweenThePartDataLimitsAndShowTheBusyValues) {
    for (const Timed& t : kTimed) {
        AvrChip chip(FactsOf(t));
        Driver d(chip);
        ASSERT_TRUE(d.Enter()) << t.Base;
        const uint8_t flashBusy = t.FlashReadback < 0 ? 0xFF : uint8_t(t.FlashReadback >> 8);
        std::vector<uint64_t> flashTimes;
        for (int32_t a = 0; a < 8; ++a) {
            const int32_t address = a * 2 * std::max(chip.Facts().PageSize, 2);
            d.LoadFlash(address, 0x3C);
            if (chip.Facts().PageSize > 0) d.CommitPage(address);
            const Poll p = PollUntil(d, 0x3C, [&] { return d.ReadFlash(address); });
            ASSERT_FALSE(p.Busy.empty()) << t.Base;
            for (uint8_t b : p.Busy) EXPECT_EQ(b, flashBusy) << t.Base;
            // A read costs 32 clock periods of 1 us; the poll itself steps 100 us.
            EXPECT_GE(p.TookNs, t.FlashMinUs * 1000ull) << t.Base;
            EXPECT_LE(p.TookNs, t.FlashMaxUs * 1000ull + 140'000) << t.Base;
            flashTimes.push_back(p.TookNs);
        }
        if (t.FlashMinUs < t.FlashMaxUs) {
            EXPECT_NE(*std::min_element(flashTimes.begin(), flashTimes.end()),
                      *std::max_element(flashTimes.begin(), flashTimes.end()))
                << t.Base << ": write times are drawn, not fixed";
        }

        // EEPROM: P1 while the byte's auto-erase runs, then P2 until the new value is in.
        const uint8_t p1 = uint8_t(t.EepromReadback >> 8), p2 = uint8_t(t.EepromReadback);
        for (int32_t a = 0; a < 4; ++a) {
            d.WriteEeprom(a, 0x3C);
            const Poll p = PollUntil(d, 0x3C, [&] { return d.ReadEeprom(a); });
            ASSERT_GE(p.Busy.size(), 2u) << t.Base;
            EXPECT_EQ(p.Busy.front(), p1) << t.Base;
            EXPECT_EQ(p.Busy.back(), p2) << t.Base;
            for (uint8_t b : p.Busy) EXPECT_TRUE(b == p1 || b == p2) << t.Base;
            EXPECT_GE(p.TookNs, t.EepromMinUs * 1000ull) << t.Base;
            EXPECT_LE(p.TookNs, t.EepromMaxUs * 1000ull + 140'000) << t.Base;
        }
    }
}

TEST(AvrChipTiming, DrawnTimesRepeatFromRunToRunAndStayInsideTheLimits) {
    const AvrFacts facts = FactsOf(kTimed[0]);
    AvrChip first(facts), second(facts);
    for (int i = 0; i < 200; ++i) {
        const uint64_t a = first.NextWriteNs(i % 2 == 0);
        EXPECT_EQ(a, second.NextWriteNs(i % 2 == 0)) << i;
        EXPECT_GE(a, 4'000'000u);
        EXPECT_LE(a, 9'000'000u);
    }
}

// Each instruction that changes the chip, and how to see that it did.
struct Change {
    const char* What;
    std::vector<Frame> Send;
    std::function<bool(Driver&, AvrChip&)> Happened;
};

TEST(AvrChipBusy, EveryChangeSentDuringAWriteIsLostAndTakenOnceTheChipIsReady) {
    const std::vector<Change> changes = {
        {"page load and commit",
         {{0x40, 0x00, 0x40, 0x12}, {0x4C, 0x00, 0x40, 0x00}},
         [](Driver& d, AvrChip&) { return d.ReadFlash(0x80) == 0x12; }},
        {"EEPROM write",
         {{0xC0, 0x00, 0x07, 0x34}},
         [](Driver& d, AvrChip&) { return d.ReadEeprom(7) == 0x34; }},
        {"fuse write",
         {{0xAC, 0xA0, 0x00, 0x3F}},
         [](Driver&, AvrChip& c) { return c.FuseLow() == 0x3F; }},
        {"lock write",
         {{0xAC, 0xE0, 0x00, 0xFE}},
         [](Driver&, AvrChip& c) { return c.Lock() == 0xFE; }},
        {"chip erase",
         {{0xAC, 0x80, 0x00, 0x00}},
         [](Driver& d, AvrChip&) { return d.ReadFlash(0) == 0xFF; }},
    };
    for (const Change& change : changes) {
        for (bool busy : {true, false}) {
            auto chip = Make("ATmega16");
            Driver d(*chip);
            ASSERT_TRUE(d.Enter());
            d.LoadFlash(0, 0x00);
            d.CommitPage(0);
            if (!busy) d.AdvanceMs(10);
            for (const Frame& f : change.Send) d.Command(f[0], f[1], f[2], f[3]);
            d.AdvanceMs(50);
            EXPECT_EQ(change.Happened(d, *chip), !busy)
                << change.What << (busy ? " sent during the page write" : " sent after it");
        }
    }
}

TEST(AvrChipBusy, ChipEraseLastsThePartDataTime) {
    AvrFacts facts = *FindAvrFacts("ATMEGA48");
    facts.ChipEraseUs = 45000;
    for (uint64_t waitMs : {44u, 46u}) {
        AvrChip chip(facts);
        Driver d(chip);
        ASSERT_TRUE(d.Enter());
        d.Command(0xAC, 0x80, 0x00, 0x00);
        d.AdvanceMs(waitMs);
        d.WriteEeprom(1, 0x5A);
        d.AdvanceMs(10);
        EXPECT_EQ(d.ReadEeprom(1), waitMs > 45 ? 0x5A : 0xFF) << waitMs;
    }
}

TEST(AvrChipFlash, ExtendedAddressByteReachesBeyond64KWordsOnlyOnChipsThatHaveIt) {
    AvrFacts big = *FindAvrFacts("ATMEGA128");
    big.Name = "ATmega2560";
    big.FlashSize = 256 * 1024;
    AvrChip chip(big);
    Driver d(chip);
    ASSERT_TRUE(d.Enter());
    // Word 0x1_0080 (byte 0x2_0100): extended byte 1, then the usual 16-bit word address.
    d.Command(0x4D, 0x00, 0x01, 0x00);
    d.LoadFlash(0x0100, 0xA1);
    d.LoadFlash(0x0101, 0xB2);
    d.CommitPage(0x0100);
    d.AdvanceMs(10);
    EXPECT_EQ(chip.Flash()[0x20100], 0xA1);
    EXPECT_EQ(chip.Flash()[0x20101], 0xB2);
    EXPECT_EQ(chip.Flash()[0x00100], 0xFF);
    EXPECT_EQ(d.ReadFlash(0x0101), 0xB2);  // the byte stays set for reads too
    d.Command(0x4D, 0x00, 0x00, 0x00);
    EXPECT_EQ(d.ReadFlash(0x0101), 0xFF);
    // A new programming session starts from the low 64 K words.
    d.Command(0x4D, 0x00, 0x01, 0x00);
    ASSERT_TRUE(d.Enter());
    EXPECT_EQ(d.ReadFlash(0x0100), 0xFF);

    // A 128 KiB chip has no such instruction: its addresses stay where they are.
    auto small = Make("ATmega128");
    Driver s(*small);
    ASSERT_TRUE(s.Enter());
    s.Command(0x4D, 0x00, 0x01, 0x00);
    s.LoadFlash(0x0100, 0xA1);
    s.CommitPage(0x0100);
    s.AdvanceMs(10);
    EXPECT_EQ(small->Flash()[0x00100], 0xA1);
}

TEST(AvrChipConfig, LockWriteFormIsTheChipsOwn) {
    struct Case {
        const char* Chip;
        Frame Send;
        uint8_t LockAfter;
    };
    const Case cases[] = {
        // ATtiny26: lock bits in byte 2 (1111 11ii); the fourth byte is not looked at.
        {"ATtiny26", {0xAC, 0xFE, 0x00, 0x00}, 0xFE},
        {"ATtiny26", {0xAC, 0xFC, 0x00, 0xFF}, 0xFC},
        {"ATtiny26", {0xAC, 0xE0, 0x00, 0xFC}, 0xFF},
        {"ATtiny26", {0xAC, 0xFF, 0x00, 0xFC}, 0xFF},
        // The other modern chips take them in byte 4 (byte 2 is 111x xxxx).
        {"ATtiny13", {0xAC, 0xE0, 0x00, 0xFE}, 0xFE},
        {"ATtiny13", {0xAC, 0xFF, 0x00, 0xFC}, 0xFC},
        {"ATtiny2313", {0xAC, 0xFE, 0x00, 0xFF}, 0xFF},
    };
    for (const Case& c : cases) {
        auto chip = Make(c.Chip);
        Driver d(*chip);
        ASSERT_TRUE(d.Enter());
        d.Command(c.Send[0], c.Send[1], c.Send[2], c.Send[3]);
        d.AdvanceMs(10);
        EXPECT_EQ(chip->Lock(), c.LockAfter) << c.Chip << " " << int(c.Send[1]);
        EXPECT_EQ(d.Answer(0x58, 0x00, 0x00), c.LockAfter) << c.Chip;
    }
}

}  // namespace
}  // namespace tondrel::sim
