#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/TargetChip.h"

namespace tondrel::sim {
namespace {

constexpr uint64_t kUs = 1000;
constexpr uint64_t kMs = 1000 * kUs;
// Longer than any self-timed cycle of these chips.
constexpr uint64_t kSettle = 50 * kMs;

// Drives a chip's pins directly, as a datasheet describes serial programming: RST high, then
// commands of `frame` bytes, MOSI set up while SCK is low, MISO sampled while SCK is high.
struct Wire {
    std::unique_ptr<TargetChip> Chip;
    size_t Frame;
    uint64_t Now = 0;
    uint64_t HalfNs = 2 * kUs;
    TargetLines Lines;

    Wire(const std::string& name, size_t frame) : Chip(CreateChip(name)), Frame(frame) {
        Lines.Connected = true;
        Apply();
    }
    void Apply() { Chip->SetLines(Lines, Now); }
    void Wait(uint64_t ns) { Now += ns; }
    // A command, then a wait longer than any self-timed cycle it starts.
    void Settled(std::vector<uint8_t> bytes) {
        Send(std::move(bytes));
        Wait(kSettle);
    }

    void ResetHigh() {
        Lines.Rst = Lines.Sck = Lines.Mosi = false;
        Apply();
        Wait(kMs);
        Lines.Rst = true;
        Apply();
        Wait(20 * kMs);
    }
    uint8_t Enter() {
        ResetHigh();
        return Send({0xAC, 0x53, 0x00, 0x00});
    }
    uint8_t Byte(uint8_t out) {
        uint8_t in = 0;
        for (int bit = 7; bit >= 0; --bit) {
            Lines.Sck = false;
            Lines.Mosi = (out >> bit) & 1u;
            Apply();
            Wait(HalfNs);
            Lines.Sck = true;
            Apply();
            Wait(HalfNs);
            if (Chip->DataOut(Now)) in = static_cast<uint8_t>(in | (1u << bit));
        }
        Lines.Sck = false;
        Apply();
        Wait(HalfNs);
        return in;
    }
    // Sends the first `Frame` bytes; returns the byte shifted out during the last one.
    uint8_t Send(std::vector<uint8_t> bytes) {
        bytes.resize(Frame, 0x00);
        uint8_t last = 0;
        for (uint8_t b : bytes) last = Byte(b);
        return last;
    }
};

// The program-memory commands of each model, as its datasheet encodes them.
struct Model {
    const char* Name;
    size_t Frame;
    uint32_t FlashSize;
    uint32_t EepromSize;
    std::vector<uint8_t> (*WriteCode)(uint32_t a, uint8_t v);
    std::vector<uint8_t> (*ReadCode)(uint32_t a);
    std::vector<uint8_t> Erase;
    // The datasheet's serial byte write: erase, then program, in one self-timed cycle.
    bool AutoErase;
    uint64_t WriteCycleNs;
};

std::vector<uint8_t> S53Write(uint32_t a, uint8_t v) {
    return {uint8_t((a >> 8 & 0x1F) << 3 | (a >> 13 & 1) << 2 | 2), uint8_t(a), v};
}
std::vector<uint8_t> S53Read(uint32_t a) {
    return {uint8_t((a >> 8 & 0x1F) << 3 | (a >> 13 & 1) << 2 | 1), uint8_t(a), 0};
}
std::vector<uint8_t> S8252Write(uint32_t a, uint8_t v) {
    return {uint8_t(a >> 8 << 3 | 2), uint8_t(a), v};
}
std::vector<uint8_t> S8252Read(uint32_t a) {
    return {uint8_t(a >> 8 << 3 | 1), uint8_t(a), 0};
}
std::vector<uint8_t> S8252WriteData(uint32_t a, uint8_t v) {
    return {uint8_t(a >> 8 << 3 | 6), uint8_t(a), v};
}
std::vector<uint8_t> S8252ReadData(uint32_t a) {
    return {uint8_t(a >> 8 << 3 | 5), uint8_t(a), 0};
}
std::vector<uint8_t> S8253Write(uint32_t a, uint8_t v) {
    return {0x40, uint8_t(a >> 8), uint8_t(a), v};
}
std::vector<uint8_t> S8253Read(uint32_t a) {
    return {0x20, uint8_t(a >> 8), uint8_t(a), 0};
}

const Model kModels[] = {
    {"AT89S53", 3, 12 * 1024, 0, S53Write, S53Read, {0xAC, 0x04, 0x00}, true, 2500 * kUs},
    {"AT89S8252",
     3,
     8 * 1024,
     2 * 1024,
     S8252Write,
     S8252Read,
     {0xAC, 0x04, 0x00},
     true,
     2500 * kUs},
    {"AT89S8253",
     4,
     12 * 1024,
     2 * 1024,
     S8253Write,
     S8253Read,
     {0xAC, 0x80, 0x00, 0x00},
     false,
     500 * kUs},
};

TEST(At89OtherChip, BuiltByCatalogueNameInAnyCase) {
    for (const char* name : {"AT89S53", "at89s8252", "At89S8253"}) {
        auto chip = CreateChip(name);
        ASSERT_NE(chip, nullptr) << name;
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(chip->Name(), upper);
    }
}

TEST(At89OtherChip, IgnoresEverythingUntilProgrammingIsEnabled) {
    for (const Model& m : kModels) {
        Wire w(m.Name, m.Frame);
        w.ResetHigh();
        w.Settled(m.WriteCode(0x0100, 0x12));
        w.Send({0xAC, 0x53, 0x00, 0x00});
        EXPECT_EQ(w.Send(m.ReadCode(0x0100)), 0xFF) << m.Name;
        w.Settled(m.WriteCode(0x0100, 0x12));
        EXPECT_EQ(w.Send(m.ReadCode(0x0100)), 0x12) << m.Name;

        // Leaving reset (or losing the adapter's drivers) ends programming mode; the next
        // session must enable it again.
        w.Lines.Connected = false;
        w.Apply();
        EXPECT_TRUE(w.Chip->DataOut(w.Now)) << m.Name;
        w.Lines.Connected = true;
        w.ResetHigh();
        w.Settled(m.WriteCode(0x0101, 0x00));
        w.Send({0xAC, 0x53, 0x00, 0x00});
        EXPECT_EQ(w.Send(m.ReadCode(0x0101)), 0xFF) << m.Name;
        EXPECT_EQ(w.Send(m.ReadCode(0x0100)), 0x12) << m.Name;
    }
}

TEST(At89OtherChip, OnlyTheAt89s8253EchoesTheEnableCommand) {
    EXPECT_EQ(Wire("AT89S8253", 4).Enter(), 0x69);
    EXPECT_NE(Wire("AT89S53", 3).Enter(), 0x53);
    EXPECT_NE(Wire("AT89S8252", 3).Enter(), 0x53);
}

TEST(At89OtherChip, SelfTimedWriteShowsInvertedTopBitUntilDone) {
    for (const Model& m : kModels) {
        Wire w(m.Name, m.Frame);
        w.Enter();
        w.Send(m.WriteCode(0x0200, 0x3C));
        // Data polling: the byte being written reads back with bit 7 inverted...
        EXPECT_EQ(w.Send(m.ReadCode(0x0200)), 0x3C ^ 0x80) << m.Name;
        // ...and a second write during the cycle is not taken.
        w.Settled(m.WriteCode(0x0201, 0x55));
        EXPECT_EQ(w.Send(m.ReadCode(0x0200)), 0x3C) << m.Name;
        EXPECT_EQ(w.Send(m.ReadCode(0x0201)), 0xFF) << m.Name;

        // The cycle lasts the datasheet's write time, not less.
        w.Send(m.WriteCode(0x0300, 0x11));
        w.Wait(m.WriteCycleNs - 200 * kUs);
        EXPECT_EQ(w.Send(m.ReadCode(0x0300)), 0x11 ^ 0x80) << m.Name;
        w.Wait(200 * kUs);
        EXPECT_EQ(w.Send(m.ReadCode(0x0300)), 0x11) << m.Name;
    }
}

TEST(At89OtherChip, CodeBytesAutoEraseOrOnlyLoseBitsUntilAChipErase) {
    for (const Model& m : kModels) {
        Wire w(m.Name, m.Frame);
        w.Enter();
        w.Settled(m.WriteCode(0x0042, 0x0F));
        w.Settled(m.WriteCode(0x0042, 0xF0));
        EXPECT_EQ(w.Send(m.ReadCode(0x0042)), m.AutoErase ? 0xF0 : 0x00) << m.Name;

        w.Send(m.Erase);
        EXPECT_NE(w.Send(m.ReadCode(0x0042)), 0xFF) << m.Name << ": erase is still running";
        w.Wait(kSettle);
        EXPECT_EQ(w.Send(m.ReadCode(0x0042)), 0xFF) << m.Name;
        w.Settled(m.WriteCode(0x0042, 0xA5));
        EXPECT_EQ(w.Send(m.ReadCode(0x0042)), 0xA5) << m.Name;
    }
}

TEST(At89OtherChip, WholeAddressRangeIsDistinct) {
    for (const Model& m : kModels) {
        Wire w(m.Name, m.Frame);
        w.Enter();
        // One byte in each 256-byte block, each a different value: a dropped or misplaced
        // address bit makes two of them collide.
        for (uint32_t block = 0; block < m.FlashSize / 256; ++block) {
            w.Send(m.WriteCode(block << 8 | (block & 0xFF), uint8_t(block)));
            w.Wait(m.WriteCycleNs);
        }
        for (uint32_t block = 0; block < m.FlashSize / 256; ++block)
            ASSERT_EQ(w.Send(m.ReadCode(block << 8 | (block & 0xFF))), uint8_t(block))
                << m.Name << " block " << block;
    }
}

TEST(At89OtherChip, At89s8252KeepsEepromApartFromCode) {
    Wire w("AT89S8252", 3);
    w.Enter();
    w.Settled(S8252Write(0x02BC, 0x11));
    w.Send(S8252WriteData(0x02BC, 0x22));
    EXPECT_EQ(w.Send(S8252ReadData(0x02BC)), 0x22 ^ 0x80);
    w.Wait(kSettle);
    w.Settled(S8252WriteData(0x07FF, 0x33));
    // EEPROM bytes rewrite in place, in both directions, without an erase.
    w.Settled(S8252WriteData(0x07FF, 0xCC));
    EXPECT_EQ(w.Send(S8252Read(0x02BC)), 0x11);
    EXPECT_EQ(w.Send(S8252ReadData(0x02BC)), 0x22);
    EXPECT_EQ(w.Send(S8252ReadData(0x07FF)), 0xCC);
    w.Settled({0xAC, 0x04, 0x00});
    EXPECT_EQ(w.Send(S8252ReadData(0x02BC)), 0xFF);
    EXPECT_EQ(w.Send(S8252Read(0x02BC)), 0xFF);
}

TEST(At89OtherChip, ThreeByteLockModes) {
    for (const char* name : {"AT89S53", "AT89S8252"}) {
        const Model& m = std::string(name) == "AT89S53" ? kModels[0] : kModels[1];
        Wire w(name, 3);
        w.Enter();
        w.Settled(m.WriteCode(0x0010, 0x5A));

        // Mode 2 (LB1): no more programming, reads still work.
        w.Settled({0xAC, 0x7F, 0x00});
        w.Settled(m.WriteCode(0x0011, 0x00));
        EXPECT_EQ(w.Send(m.ReadCode(0x0011)), 0xFF) << name;
        EXPECT_EQ(w.Send(m.ReadCode(0x0010)), 0x5A) << name;

        // Mode 3 (LB1 + LB2): verify is disabled too.
        w.Settled({0xAC, 0x3F, 0x00});
        EXPECT_NE(w.Send(m.ReadCode(0x0010)), 0x5A) << name;

        // Only a chip erase clears the lock bits.
        w.Settled(m.Erase);
        w.Settled(m.WriteCode(0x0011, 0x66));
        EXPECT_EQ(w.Send(m.ReadCode(0x0011)), 0x66) << name;
        EXPECT_EQ(w.Send(m.ReadCode(0x0010)), 0xFF) << name;
    }
}

TEST(At89OtherChip, At89s8253LockBitsAndUserFuses) {
    Wire w("AT89S8253", 4);
    w.Enter();
    EXPECT_EQ(w.Send({0x24, 0, 0, 0}) & 0x07, 0x07);  // fresh: no lock bit programmed
    const uint8_t fusesBefore = w.Send({0x21, 0, 0, 0}) & 0x0F;

    w.Settled(S8253Write(0x0123, 0x77));
    w.Send({0xAC, 0xE7 & ~0x01, 0, 0});  // LB1
    w.Wait(kSettle);
    EXPECT_EQ(w.Send({0x24, 0, 0, 0}) & 0x07, 0x06);
    w.Settled(S8253Write(0x0124, 0x00));
    EXPECT_EQ(w.Send(S8253Read(0x0124)), 0xFF);
    EXPECT_EQ(w.Send(S8253Read(0x0123)), 0x77);

    // Writing "unprogrammed" does not take a lock bit back.
    w.Send({0xAC, 0xE7 & ~0x02, 0, 0});  // LB2
    w.Wait(kSettle);
    EXPECT_EQ(w.Send({0x24, 0, 0, 0}) & 0x07, 0x04);
    EXPECT_NE(w.Send(S8253Read(0x0123)), 0x77);

    // User fuses follow whatever was written last, in both directions.
    w.Settled({0xAC, 0x10 | 0x05, 0, 0});
    EXPECT_EQ(w.Send({0x21, 0, 0, 0}) & 0x0F, 0x05);
    w.Settled({0xAC, uint8_t(0x10 | fusesBefore), 0, 0});
    EXPECT_EQ(w.Send({0x21, 0, 0, 0}) & 0x0F, fusesBefore);

    // Chip erase (100x xxxx in the second byte) clears memory and locks, not the fuses.
    w.Settled({0xAC, 0x9F, 0, 0});
    EXPECT_EQ(w.Send({0x24, 0, 0, 0}) & 0x07, 0x07);
    EXPECT_EQ(w.Send(S8253Read(0x0123)), 0xFF);
    EXPECT_EQ(w.Send({0x21, 0, 0, 0}) & 0x0F, fusesBefore);

    // Identification bytes, and the data EEPROM with its own commands.
    EXPECT_EQ(w.Send({0x28, 0x00, 0x30, 0}), 0x1E);
    EXPECT_EQ(w.Send({0x28, 0x00, 0x31, 0}), 0x73);
    w.Settled({0xC0, 0x07, 0xFF, 0x42});
    EXPECT_EQ(w.Send({0xA0, 0x07, 0xFF, 0}), 0x42);
    EXPECT_EQ(w.Send(S8253Read(0x07FF)), 0xFF);
}

TEST(At89OtherChip, FaultsKnobs) {
    for (const Model& m : kModels) {
        // A clock faster than the chip can follow: bits arrive wrong, nothing is programmed.
        Wire fast(m.Name, m.Frame);
        fast.Chip->Faults.MinPhaseNs = 5 * kUs;
        fast.Enter();
        fast.Settled(m.WriteCode(0x0005, 0x00));
        fast.HalfNs = 10 * kUs;
        fast.Enter();
        EXPECT_EQ(fast.Send(m.ReadCode(0x0005)), 0xFF) << m.Name;
        fast.Settled(m.WriteCode(0x0005, 0x00));
        EXPECT_EQ(fast.Send(m.ReadCode(0x0005)), 0x00) << m.Name;

        Wire stuck(m.Name, m.Frame);
        stuck.Chip->Faults.StuckAddress = 0x0006;
        stuck.Enter();
        stuck.Settled(m.WriteCode(0x0006, 0x12));
        stuck.Settled(m.WriteCode(0x0007, 0x12));
        EXPECT_EQ(stuck.Send(m.ReadCode(0x0006)), 0xFF) << m.Name;
        EXPECT_EQ(stuck.Send(m.ReadCode(0x0007)), 0x12) << m.Name;
    }
}

TEST(At89OtherChip, StateFileRoundTripAndRefusal) {
    Wire a("AT89S8252", 3);
    a.Enter();
    a.Settled(S8252Write(0x1FFF, 0x81));
    a.Settled(S8252WriteData(0x0001, 0x18));
    a.Settled({0xAC, 0x7F, 0x00});
    std::stringstream saved;
    a.Chip->SaveState(saved);

    Wire b("AT89S8252", 3);
    ASSERT_TRUE(b.Chip->LoadState(saved));
    b.Enter();
    EXPECT_EQ(b.Send(S8252Read(0x1FFF)), 0x81);
    EXPECT_EQ(b.Send(S8252ReadData(0x0001)), 0x18);
    b.Send(S8252Write(0x0000, 0x00));  // the lock bit came along
    b.Wait(kSettle);
    EXPECT_EQ(b.Send(S8252Read(0x0000)), 0xFF);

    // Another chip's state, or a damaged one, is refused and changes nothing.
    Wire c("AT89S8253", 4);
    c.Enter();
    c.Settled(S8253Write(0x0000, 0x44));
    std::stringstream other(saved.str());
    EXPECT_FALSE(c.Chip->LoadState(other));
    std::string damaged = saved.str();
    damaged.replace(damaged.find("flash ") + 6, 2, "ZZ");
    std::stringstream bad(damaged);
    Wire d("AT89S8252", 3);
    EXPECT_FALSE(d.Chip->LoadState(bad));
    std::stringstream truncated(saved.str().substr(0, saved.str().size() / 2));
    EXPECT_FALSE(d.Chip->LoadState(truncated));
    d.Enter();
    EXPECT_EQ(d.Send(S8252Read(0x1FFF)), 0xFF);
    EXPECT_EQ(c.Send(S8253Read(0x0000)), 0x44);
}

}  // namespace
}  // namespace tondrel::sim
