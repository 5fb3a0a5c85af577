// Tavr framing on the recording port: the exact commands, the commit rules of page mode, the
// waits, and the checked programming enable.
#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "engines/Tavr.h"
#include "tests/support/RecordingPort.h"
#include "tests/support/Results.h"

namespace tondrel {
namespace {

using testsupport::Got;

using testsupport::Bytes;
using testsupport::RecordingPort;

// Virtual time that also remembers each sleep the engine asked for.
class SleepLogClock : public VirtualClock {
  public:
    void SleepMs(uint32_t ms) override {
        Sleeps.push_back(ms);
        VirtualClock::SleepMs(ms);
    }
    std::vector<uint32_t> Sleeps;
};

// A scripted AVR on the far side of the recording port: echoes programming enable (unless told
// not to) and answers reads from the maps below. It is deliberately dumb: timing and page
// buffers belong to the simulated chip, these tests pin the engine's framing.
struct FakeAnswers {
    bool Echo = true;
    std::map<int32_t, uint8_t> Flash;  // byte address -> value read back
    std::map<int32_t, uint8_t> Eeprom;
    uint8_t Signature[3] = {0x1E, 0x94, 0x03};
    uint8_t Raw = 0x5A;

    uint8_t Answer(const Bytes& c, size_t index) const {
        if (index == 2 && c[0] == 0xAC && c[1] == 0x53) return Echo ? 0x53 : 0xFF;
        if (index != 3) return 0x00;
        const int32_t word = c[1] << 8 | c[2];
        auto from = [](const std::map<int32_t, uint8_t>& m, int32_t a) {
            auto it = m.find(a);
            return it == m.end() ? uint8_t{0xFF} : it->second;
        };
        switch (c[0]) {
            case 0x20:
                return from(Flash, word * 2);
            case 0x28:
                return from(Flash, word * 2 + 1);
            case 0xA0:
                return from(Eeprom, word);
            case 0x30:
                return Signature[c[2] % 3];
            case 0x58:
                return Raw;
            default:
                return 0x00;
        }
    }
};

class TavrFraming : public ::testing::Test {
  protected:
    TavrFraming() : env{&port, &clock, &chip}, avr(env) {
        port.AttachClock(&clock);
        port.SetResponder([this](const Bytes& c, size_t i) { return fake.Answer(c, i); });
        avr.InitPinMap();
        avr.SetPortBase(0x378);
    }
    void UsePages(int32_t pageSize, int32_t dataEnd) {
        chip.CurrentPageSize = pageSize;
        chip.FlashDataEnd = dataEnd;
    }
    std::vector<Bytes> Commands() const { return port.Commands(); }
    static bool IsLoad(const Bytes& c) { return c[0] == 0x40 || c[0] == 0x48; }

    RecordingPort port;
    SleepLogClock clock;
    CurrentChip chip;
    EngineEnv env;
    Tavr avr;
    FakeAnswers fake;
};

TEST_F(TavrFraming, LoadAndReadCommandsSelectTheByteOfTheWord) {
    UsePages(0, 0);
    avr.SetAutoVerify(false);
    EXPECT_TRUE(avr.WriteFlashByte(0x1235, 0xA7));
    EXPECT_TRUE(avr.WriteFlashByte(0x1234, 0x3C));
    fake.Flash[0x1235] = 0x66;
    EXPECT_EQ(Got(avr.ReadFlashByte(0x1235)), 0x66);
    (void)avr.ReadFlashByte(0x1234);
    const auto c = Commands();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0], (Bytes{0x48, 0x09, 0x1A, 0xA7}));
    EXPECT_EQ(c[1], (Bytes{0x40, 0x09, 0x1A, 0x3C}));
    EXPECT_EQ(c[2], (Bytes{0x28, 0x09, 0x1A, 0x3C}));  // fourth byte kept from the last command
    EXPECT_EQ(c[3], (Bytes{0x20, 0x09, 0x1A, 0x3C}));
}

TEST_F(TavrFraming, FullPageCommitsAfterItsLastByteAndPollsTheHighestNonBlankByte) {
    UsePages(128, 0x3FFF);
    // Addresses 126 and 127 are blank: the poll must go to 125, the last byte with data.
    for (int32_t a = 0; a < 128; ++a) {
        const uint8_t v = a >= 126 ? 0xFF : static_cast<uint8_t>(a);
        fake.Flash[a] = v;
        ASSERT_TRUE(avr.WriteFlashByte(a, v)) << a;
    }
    const auto c = Commands();
    ASSERT_EQ(c.size(), 130u);
    for (size_t i = 0; i < 128; ++i) ASSERT_TRUE(IsLoad(c[i])) << i;
    EXPECT_EQ(c[127], (Bytes{0x48, 0x00, 0x3F, 0xFF}));
    EXPECT_EQ(c[128], (Bytes{0x4C, 0x00, 0x3F, 0xFF}));
    EXPECT_EQ(c[129][0], 0x28);
    EXPECT_EQ(c[129][1], 0x00);
    EXPECT_EQ(c[129][2], 0x3E);
    EXPECT_EQ(avr.PendingAddress, -1);
}

TEST_F(TavrFraming, BlankPageIsLoadedButNeverCommitted) {
    UsePages(128, 0x3FFF);
    for (int32_t a = 128; a < 256; ++a) ASSERT_TRUE(avr.WriteFlashByte(a, 0xFF));
    const auto c = Commands();
    ASSERT_EQ(c.size(), 128u);
    for (const auto& cmd : c) EXPECT_TRUE(IsLoad(cmd));
    EXPECT_TRUE(clock.Sleeps.empty());
}

TEST_F(TavrFraming, DataEndCommitsMidPageWithPollOrFifteenMilliseconds) {
    UsePages(128, 9);
    fake.Flash[8] = 0x08;
    for (int32_t a = 0; a <= 9; ++a) {
        ASSERT_TRUE(avr.WriteFlashByte(a, a == 8 ? 0x08 : 0xFF));
    }
    auto c = Commands();
    ASSERT_EQ(c.size(), 12u);
    EXPECT_EQ(c[10], (Bytes{0x4C, 0x00, 0x04, 0xFF}));
    EXPECT_EQ(c[11][0], 0x20);
    EXPECT_EQ(c[11][2], 0x04);
    EXPECT_TRUE(clock.Sleeps.empty());

    // The same end on a blank page: committed all the same, then a fixed 15 ms.
    port.ClearLog();
    UsePages(128, 128 + 9);
    for (int32_t a = 128; a <= 128 + 9; ++a) ASSERT_TRUE(avr.WriteFlashByte(a, 0xFF));
    c = Commands();
    ASSERT_EQ(c.size(), 11u);
    EXPECT_EQ(c[10], (Bytes{0x4C, 0x00, 0x44, 0xFF}));
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{15}));
}

TEST_F(TavrFraming, PageModePollsWithAutoVerifyOffAndFailsWhenTheByteNeverComes) {
    UsePages(32, 0x3FF);
    avr.SetAutoVerify(false);
    port.KeepLog = false;
    fake.Flash[30] = 0x00;  // reads back wrong for ever
    for (int32_t a = 0; a < 31; ++a) ASSERT_TRUE(avr.WriteFlashByte(a, 0x11));
    const uint64_t start = clock.NowNs();
    EXPECT_FALSE(avr.WriteFlashByte(31, 0xFF));  // commit; the poll targets address 30
    EXPECT_GT(clock.NowNs() - start, 1000'000'000u);
    EXPECT_LT(clock.NowNs() - start, 1100'000'000u);
    EXPECT_EQ(avr.PendingAddress, -1);
    const auto c = Commands();
    EXPECT_EQ(c[32], (Bytes{0x4C, 0x00, 0x0F, 0xFF}));
    EXPECT_EQ(c[33], (Bytes{0x20, 0x00, 0x0F, 0xFF}));
}

TEST_F(TavrFraming, ByteModeWaitsFiveMillisecondsForBlankAndPollsOthers) {
    UsePages(0, 0);
    // A blank byte: 5 ms, then one read to confirm it.
    EXPECT_TRUE(avr.WriteFlashByte(0x20, 0xFF));
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{5}));
    EXPECT_EQ(Commands().size(), 2u);

    fake.Flash[0x21] = 0x42;
    EXPECT_TRUE(avr.WriteFlashByte(0x21, 0x42));
    auto c = Commands();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[2], (Bytes{0x48, 0x00, 0x10, 0x42}));
    EXPECT_EQ(c[3], (Bytes{0x28, 0x00, 0x10, 0x42}));

    // No poll without verification, but the write time before the next command can go out.
    avr.SetAutoVerify(false);
    EXPECT_TRUE(avr.WriteFlashByte(0x22, 0x99));
    EXPECT_EQ(Commands().size(), 5u);
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{5, 5}));
}

// The waits come from the chip's part data where the catalogue has it: the worst-case write
// time, rounded up to whole milliseconds: instead of the poll without verification, before it
// for the values the chip also reads while busy (the poll would stop at once).
TEST_F(TavrFraming, WaitsFollowTheChipsData) {
    struct Case {
        bool Eeprom;
        bool Verify;
        uint8_t Value;
        size_t Commands;  // the write and its poll reads
        std::vector<uint32_t> Sleeps;
    };
    chip.FlashWriteDelayUs = 9000;
    chip.EepromWriteDelayUs = 19500;
    chip.FlashReadback = 0x7F7F;   // AT90S2313-like: Flash shows 0x7F while busy
    chip.EepromReadback = 0x807F;  // EEPROM 0x80 or 0x7F
    UsePages(0, 0);
    const Case cases[] = {
        {false, true, 0xFF, 2, {9}}, {false, true, 0x7F, 2, {9}},  {false, false, 0x12, 1, {9}},
        {false, true, 0x12, 2, {}},  {true, true, 0xFF, 2, {20}},  {true, true, 0x80, 2, {20}},
        {true, true, 0x7F, 2, {20}}, {true, false, 0x12, 1, {20}}, {true, true, 0x12, 2, {}},
    };
    for (const Case& t : cases) {
        port.ClearLog();
        clock.Sleeps.clear();
        avr.SetAutoVerify(t.Verify);
        fake.Flash[0x40] = t.Value;
        fake.Eeprom[0x40] = t.Value;
        EXPECT_TRUE(t.Eeprom ? avr.WriteEepromByte(0x40, t.Value)
                             : avr.WriteFlashByte(0x40, t.Value));
        EXPECT_EQ(Commands().size(), t.Commands) << t.Eeprom << t.Verify << int{t.Value};
        EXPECT_EQ(clock.Sleeps, t.Sleeps) << t.Eeprom << t.Verify << int{t.Value};
    }

    // A page whose polled byte is a busy look-alike is waited for before the poll.
    UsePages(32, 31);
    port.ClearLog();
    clock.Sleeps.clear();
    fake.Flash[31] = 0x7F;
    for (int32_t a = 0; a < 31; ++a) ASSERT_TRUE(avr.WriteFlashByte(a, 0xFF));
    EXPECT_TRUE(avr.WriteFlashByte(31, 0x7F));
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{9}));
    EXPECT_EQ(Commands().size(), 34u);  // 32 loads, the commit, one poll read

    // Chip erase waits the chip's own erase time.
    clock.Sleeps.clear();
    chip.EraseDelayMs = 9;
    (void)avr.EraseChip();
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{9}));
}

TEST_F(TavrFraming, EepromWritesWaitOrPoll) {
    EXPECT_TRUE(avr.WriteEepromByte(0x1FF, 0xFF));
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{10}));
    fake.Eeprom[0x1FE] = 0x24;
    EXPECT_TRUE(avr.WriteEepromByte(0x1FE, 0x24));
    auto c = Commands();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0], (Bytes{0xC0, 0x01, 0xFF, 0xFF}));
    EXPECT_EQ(c[1], (Bytes{0xA0, 0x01, 0xFF, 0xFF}));  // the blank byte confirmed after 10 ms
    EXPECT_EQ(c[2], (Bytes{0xC0, 0x01, 0xFE, 0x24}));
    EXPECT_EQ(c[3], (Bytes{0xA0, 0x01, 0xFE, 0x24}));

    avr.SetAutoVerify(false);
    EXPECT_TRUE(avr.WriteEepromByte(3, 0x00));
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{10, 10}));
    EXPECT_EQ(Commands().size(), 5u);
}

TEST_F(TavrFraming, EnterProgrammingChecksTheEcho) {
    EXPECT_TRUE(avr.EnterProgramming());
    auto c = Commands();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0][0], 0xAC);
    EXPECT_EQ(c[0][1], 0x53);
    // Drivers on, the reset pulse, the datasheets' 20 ms before the enable; none after it.
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{1, 1, 20}));
    // Reset went high then low (programming), and the adapter drivers are on (pin 14 low).
    EXPECT_FALSE(port.OutputPin(3));
    EXPECT_FALSE(port.OutputPin(14));

    port.ClearLog();
    clock.Sleeps.clear();
    fake.Echo = false;
    EXPECT_FALSE(avr.EnterProgramming());
    // Whole commands only, never a lone SCK pulse: each retry follows a positive pulse on
    // /RESET and the 20 ms the chip needs after it. Once more at the same speed, then ever
    // slower down to the slowest the search tries; nothing answered, so the speed stays.
    const size_t tries = 9;
    EXPECT_EQ(port.RisingEdges(), tries * 32u);
    c = Commands();
    ASSERT_EQ(c.size(), tries);
    for (const auto& cmd : c) EXPECT_EQ((Bytes{cmd[0], cmd[1]}), (Bytes{0xAC, 0x53}));
    std::vector<uint32_t> sleeps{1, 1, 20};
    for (size_t i = 1; i < tries; ++i) sleeps.insert(sleeps.end(), {1, 20});
    EXPECT_EQ(clock.Sleeps, sleeps);
    EXPECT_EQ(avr.BitDelay, 0);
    int resetRises = 0;
    for (size_t i = 1; i < port.Events().size(); ++i) {
        const auto& e = port.Events()[i];
        if (e.Address == 0x378 && e.Op == testsupport::PortOp::SetBit && e.Arg == 1) ++resetRises;
    }
    EXPECT_EQ(resetRises, static_cast<int>(tries));  // the power-up pulse and one per retry
}

TEST_F(TavrFraming, ChipThatEchoesOnlyOnASlowerClockIsKeptThere) {
    // A stand-in for a chip on a slow clock: it echoes only once the phases last 5 us.
    avr.SetBitDelay(3);
    std::vector<int32_t> tried;
    port.SetResponder([this, &tried](const Bytes& c, size_t i) -> uint8_t {
        if (i == 2 && c[0] == 0xAC && c[1] == 0x53) {
            tried.push_back(avr.BitDelay);
            return avr.BitDelay >= 5000 ? 0x53 : 0xFF;
        }
        return fake.Answer(c, i);
    });
    EXPECT_TRUE(avr.EnterProgramming());
    // Twice as slow until it works, bisection back to within a 64th, then a step of margin: not
    // the 8000 the doubling found first.
    EXPECT_EQ(tried, (std::vector<int32_t>{3, 3, 2000, 4000, 8000, 6000, 5000, 4500, 4750, 4875,
                                           4937, 5312}));
    EXPECT_EQ(avr.BitDelay, 5312);
    EXPECT_EQ(avr.WorkingBitDelay(), 5312);
}

// A probe can pass by luck, below the chip's limit (a clock phase that came out long on a busy
// processor). When the margin above that speed fails, the search goes on slower, never back to
// the lucky speed, and never gives up on a chip that echoed.
TEST_F(TavrFraming, ASpeedThatPassedByLuckIsLeftForASlowerOne) {
    avr.SetBitDelay(3);
    std::vector<int32_t> tried;
    bool lucky = true;
    port.SetResponder([&](const Bytes& c, size_t i) -> uint8_t {
        if (i == 2 && c[0] == 0xAC && c[1] == 0x53) {
            tried.push_back(avr.BitDelay);
            const bool once = avr.BitDelay == 4500 && std::exchange(lucky, false);
            return avr.BitDelay >= 5000 || once ? 0x53 : 0xFF;
        }
        return fake.Answer(c, i);
    });
    EXPECT_TRUE(avr.EnterProgramming());
    EXPECT_EQ(tried, (std::vector<int32_t>{3, 3, 2000, 4000, 8000, 6000, 5000, 4500, 4250, 4375,
                                           4437, 4781, 5378}));
    EXPECT_EQ(avr.BitDelay, 5378);
}

// Whether a chip echoes is the chip record's, from its part data: the AT90S1200 never does and
// is entered without; any other AVR, and a chip the part data does not know, by its echo.
TEST_F(TavrFraming, EchoIsCheckedWhereThePartDataSaysTheChipGivesOne) {
    fake.Echo = false;
    chip.Assign(ChipRecord{4, Method::Avr, "at90s1200", "1E9001", 1024, 64, 0});
    EXPECT_FALSE(chip.EchoesEnable);
    EXPECT_TRUE(avr.EnterProgramming());
    EXPECT_EQ(Commands().size(), 1u);
    for (const char* name : {"ATmega16", "ATmega16 made by hand"}) {
        chip.Assign(ChipRecord{99, Method::Avr, name, "", 16384, 512, 128});
        EXPECT_TRUE(chip.EchoesEnable) << name;
        port.ClearLog();
        EXPECT_EQ(avr.EnterProgramming().Key(), "EngineNoEcho") << name;
        EXPECT_GT(Commands().size(), 1u) << name;
    }
}

TEST_F(TavrFraming, KeptBytesSignatureRawCommandAndLeave) {
    (void)avr.ReadEepromByte(0x0123);
    (void)avr.EnterProgramming();
    auto c = Commands();
    EXPECT_EQ(c[1], (Bytes{0xAC, 0x53, 0x23, c[0][3]}));

    EXPECT_EQ(Got(avr.ReadSignature()), "1E9403");
    EXPECT_EQ(avr.LastSignature, "1E9403");
    c = Commands();
    EXPECT_EQ(c[2], (Bytes{0x30, 0x00, 0x00, 0x00}));
    EXPECT_EQ(c[4], (Bytes{0x30, 0x00, 0x02, 0x00}));

    clock.Sleeps.clear();
    EXPECT_EQ(Got(avr.RawCommand(0x58, 0x00, 0x00, 0x00)), 0x5A);
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{20}));

    (void)avr.EraseChip();
    EXPECT_EQ(Commands().back()[1], 0x80);
    EXPECT_EQ(clock.Sleeps.back(), 500u);

    EXPECT_TRUE(avr.LeaveProgramming());
    EXPECT_TRUE(port.OutputPin(3));
    EXPECT_TRUE(port.OutputPin(2));
    EXPECT_TRUE(port.OutputPin(8));
    EXPECT_TRUE(port.OutputPin(14));  // drivers off
}

// Flash beyond 128 KiB (ATmega2560): the bank of 64 K words is selected by 0x4D 0x00 a 0x00
// before the first program-memory command after a reset and whenever a command's word address
// lies in another bank: loads, page commits and reads alike. Smaller chips never see it.
TEST_F(TavrFraming, ExtendedAddressByteSelectsTheBankOfLargeFlash) {
    chip.FlashSize = 256 * 1024;
    UsePages(256, 0x3FFFF);
    EXPECT_TRUE(avr.EnterProgramming());
    port.ClearLog();
    (void)avr.ReadFlashByte(0x00010);
    (void)avr.ReadFlashByte(0x1FFFF);  // still bank 0: word 0xFFFF
    (void)avr.ReadFlashByte(0x20000);  // word 0x10000: bank 1
    fake.Flash[0xFF] = 0xA5;           // the stand-in sees only the 16 address bits of the command
    for (int32_t a = 0x20000; a < 0x20100; ++a) ASSERT_TRUE(avr.WriteFlashByte(a, 0xA5));
    (void)avr.ReadFlashByte(0x3FFFE);  // bank 1 still
    (void)avr.ReadFlashByte(0x00000);  // back to bank 0
    auto c = Commands();
    ASSERT_EQ(c.size(), 266u);
    EXPECT_EQ(c[0], (Bytes{0x4D, 0x00, 0x00, 0x00}));
    EXPECT_EQ(c[1][0], 0x20);
    EXPECT_EQ(c[2], (Bytes{0x28, 0xFF, 0xFF, 0x00}));  // the fourth byte kept across the 0x4D
    EXPECT_EQ(c[3], (Bytes{0x4D, 0x00, 0x01, 0x00}));
    EXPECT_EQ(c[4], (Bytes{0x20, 0x00, 0x00, 0x00}));
    for (size_t i = 5; i < 5 + 256; ++i) ASSERT_TRUE(IsLoad(c[i])) << i;
    EXPECT_EQ(c[261], (Bytes{0x4C, 0x00, 0x7F, 0xA5}));
    EXPECT_EQ(c[262][0], 0x28);  // the poll
    EXPECT_EQ(c[263], (Bytes{0x20, 0xFF, 0xFF, 0xA5}));
    EXPECT_EQ(c[264], (Bytes{0x4D, 0x00, 0x00, 0x00}));
    EXPECT_EQ(c[265][0], 0x20);

    // A reset forgets the bank; a 128 KiB chip is never sent the command.
    port.ClearLog();
    chip.FlashSize = 128 * 1024;
    EXPECT_TRUE(avr.EnterProgramming());
    (void)avr.ReadFlashByte(0x1FFFF);
    c = Commands();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[1][0], 0x28);
}

}  // namespace
}  // namespace tondrel
