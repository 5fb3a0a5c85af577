// Every AVR row of the catalogue and the configuration layout it opens, checked against
// avrdude's part data and avr-libc's io headers: what the data says wins.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>

#include "config/ConfigForm.h"
#include "config/ConfigLayouts.h"
#include "tests/oracle/Catalogue.h"
#include "tests/oracle/Sources.h"

namespace tondrel::oracle {
namespace {

using config::BoxDesc;
using config::Command;
using config::GroupDesc;
using config::GroupKind;
using config::LayoutDesc;
using config::WriteForm;

// Captions the layouts keep as the original dialogs spelled them, with the bit they stand for.
const std::set<std::pair<std::string, std::string>> kCaptionAliases = {
    {"SPIED", "SPIEN"},      // ATtiny26 fuse high bit 3
    {"SELFPRGEN", "SPMEN"},  // ATtiny13 fuse high bit 4 (newer datasheets' name)
};

bool SameBit(const std::string& caption, const std::string& name) {
    return caption == name || kCaptionAliases.count({caption, name}) != 0;
}

const AvrdudeConf& Avrdude() {
    return InstalledAvrdude();
}

std::string Hex(const Command& c) {
    char text[40];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", c.B1, c.B2, c.B3, c.B4);
    return text;
}

const char* ByteName(FuseByte b) {
    return b == FuseByte::Low ? "low" : b == FuseByte::High ? "high" : "extended";
}

// Which fuse byte a read command fetches.
std::optional<FuseByte> FuseByteOf(const Command& read) {
    if (read.B1 == 0x50 && read.B2 == 0x00) return FuseByte::Low;
    if (read.B1 == 0x58 && read.B2 == 0x08) return FuseByte::High;
    if (read.B1 == 0x50 && read.B2 == 0x08) return FuseByte::Extended;
    return std::nullopt;
}

// The avrdude memories a group of this kind may address.
std::vector<std::string> MemoriesFor(const GroupDesc& g, const Command& read) {
    if (g.Kind == GroupKind::LockBits) return {"lock"};
    if (g.Kind == GroupKind::Fuse) {
        switch (FuseByteOf(read).value_or(FuseByte::Low)) {
            case FuseByte::Low:
                return {"lfuse", "fuse"};
            case FuseByte::High:
                return {"hfuse"};
            case FuseByte::Extended:
                return {"efuse"};
        }
    }
    return {"lock", "fuse", "lfuse"};  // the lock-mode status groups read either
}

// The chip has part data; otherwise the case says so and stops.
#define NEED_PART() \
    if (!part_) GTEST_SKIP() << row_.Name << ": avrdude has no part data for this chip"

bool IsAvr(const ChipRecord& c) {
    return c.MethodCode == Method::Avr;
}

class AvrRow : public ::testing::TestWithParam<ChipRecord> {
  protected:
    void SetUp() override {
        row_ = GetParam();
        layout_ = config::FindLayout(row_.Name);
        part_ = Avrdude().ByDesc(row_.Name);
        if (part_) CorrectFromDatasheet(*part_);
    }
    std::optional<BitPattern> Pattern(const std::string& memory, const char* op) const {
        const AvrdudeMemory* m = part_ ? part_->Memory(memory) : nullptr;
        if (!m) return std::nullopt;
        return BitPattern::Parse(m->Get(op));
    }

    ChipRecord row_;
    const LayoutDesc* layout_ = nullptr;
    std::optional<AvrdudePart> part_;
};

TEST_P(AvrRow, CatalogueRowMatchesAvrdude) {
    NEED_PART();
    std::string signature;
    std::istringstream sig(part_->Get("signature"));
    for (std::string byte; sig >> byte;) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned>(std::stoul(byte, nullptr, 0)));
        signature += two;
    }
    EXPECT_EQ(row_.Signature, signature) << row_.Name << " signature";
    const AvrdudeMemory* flash = part_->Memory("flash");
    ASSERT_NE(flash, nullptr);
    EXPECT_EQ(row_.FlashSize, flash->Number("size").value_or(-1)) << row_.Name << " Flash size";
    const AvrdudeMemory* eeprom = part_->Memory("eeprom");
    EXPECT_EQ(row_.EEPROMSize, eeprom ? eeprom->Number("size").value_or(-1) : 0)
        << row_.Name << " EEPROM size";
    const long page = flash->Get("paged") == "yes" ? flash->Number("page_size").value_or(-1) : 0;
    EXPECT_EQ(row_.PageSize, page) << row_.Name << " Flash page size (0 = byte mode)";
}

TEST_P(AvrRow, CalibrationButtonReadsTheChipsBytes) {
    ASSERT_NE(layout_, nullptr) << row_.Name << " opens no configuration layout";
    NEED_PART();
    const AvrdudeMemory* cal = part_->Memory("calibration");
    const long count = cal ? cal->Number("size").value_or(0) : 0;
    EXPECT_EQ(layout_->CalibrationCount, count) << row_.Name << " in " << layout_->ClassName;
}

TEST_P(AvrRow, FuseAndLockBoxesNameTheChipsBits) {
    ASSERT_NE(layout_, nullptr) << row_.Name << " opens no configuration layout";
    std::string error;
    AvrLibcChip libc = ReadAvrLibc(Lowered(row_.Name), error);
    if (!error.empty()) {
        // The compiler works but this avr-libc predates the chip: nothing to compare with.
        std::string known;
        ReadAvrLibc("atmega16", known);
        ASSERT_TRUE(known.empty()) << error;
        GTEST_SKIP() << row_.Name << ": this avr-libc does not know the chip";
    }
    if (libc.Fuses.empty())
        GTEST_SKIP() << row_.Name << ": this avr-libc names no fuse bits for the chip";
    for (const GroupDesc& g : layout_->Groups) {
        if (g.Kind == GroupKind::Fuse) {
            const auto byte = FuseByteOf(g.Reads.at(0));
            ASSERT_TRUE(byte) << layout_->ClassName << " " << g.Name << " reads "
                              << Hex(g.Reads[0]);
            const std::map<int, std::string>& names = libc.Fuses[*byte];
            for (const BoxDesc& b : g.Boxes) {
                // A box writes its own bit, or (shown only) nothing.
                EXPECT_TRUE(b.WriteMask == 1u << b.ReadBit || (b.Disabled && b.WriteMask == 0))
                    << layout_->ClassName << " " << b.Name;
                auto it = names.find(b.ReadBit);
                if (it == names.end() || it->second == "RESERVED") {
                    EXPECT_TRUE(b.Disabled)
                        << row_.Name << " fuse " << ByteName(*byte) << " bit " << b.ReadBit
                        << " is reserved, yet box " << b.Name << " \"" << b.Caption
                        << "\" lets the user change it (" << layout_->ClassName << ")";
                } else {
                    EXPECT_TRUE(SameBit(b.Caption, it->second))
                        << row_.Name << " fuse " << ByteName(*byte) << " bit " << b.ReadBit
                        << " is " << it->second << ", box " << b.Name << " says \"" << b.Caption
                        << "\" (" << layout_->ClassName << ")";
                }
            }
        } else if (g.Kind == GroupKind::LockBits) {
            // Lock bit positions from avrdude's write command when it has the chip, names in
            // avr-libc's order: LB1 LB2, then the boot lock pairs.
            ASSERT_TRUE(libc.LockBits) << row_.Name << ": avr-libc knows no lock bits";
            std::vector<std::string> order = {"LB1", "LB2"};
            if (libc.BootLockPairs >= 1) order.insert(order.end(), {"BLB01", "BLB02"});
            if (libc.BootLockPairs >= 2) order.insert(order.end(), {"BLB11", "BLB12"});
            std::vector<int> bits;
            const auto write = Pattern("lock", "write");
            if (write && write->ValueByte() >= 0) {
                const uint8_t m = write->Mask(write->ValueByte(), 'i');
                for (int b = 0; b < 8; ++b)
                    if (m & (1u << b)) bits.push_back(b);
            } else {
                for (int b = 0; b < static_cast<int>(order.size()); ++b) bits.push_back(b);
            }
            // avrdude's generic lock write marks all six bits even where only LB1 and LB2
            // exist; the lowest ones are the chip's.
            EXPECT_GE(bits.size(), order.size()) << row_.Name << ": too few lock bits";
            std::map<int, std::string> names;
            for (size_t i = 0; i < bits.size() && i < order.size(); ++i) names[bits[i]] = order[i];
            for (const BoxDesc& b : g.Boxes) {
                auto it = names.find(b.ReadBit);
                ASSERT_NE(it, names.end())
                    << row_.Name << " has no lock bit " << b.ReadBit << " (box " << b.Name << ")";
                EXPECT_EQ(b.Caption, it->second) << row_.Name << " lock bit " << b.ReadBit;
            }
        }
    }
}

TEST_P(AvrRow, LockAndFuseCommandsFitTheChipsCommandSet) {
    ASSERT_NE(layout_, nullptr) << row_.Name << " opens no configuration layout";
    NEED_PART();
    for (const GroupDesc& g : layout_->Groups) {
        const std::vector<std::string> memories =
            MemoriesFor(g, g.Reads.empty() ? Command{} : g.Reads[0]);
        // Reads: the command fits a read of one of the group's memories, and each box's bit is
        // one that read returns.
        for (const BoxDesc& b : g.Boxes) {
            const Command& c = g.Reads.at(static_cast<size_t>(b.Read));
            const uint8_t bytes[4] = {c.B1, c.B2, c.B3, c.B4};
            bool fits = false;
            for (const std::string& mem : memories) {
                const auto read = Pattern(mem, "read");
                if (read && read->Fits(bytes, 3) && (read->Mask(3, 'o') >> b.ReadBit & 1u))
                    fits = true;
            }
            EXPECT_TRUE(fits) << row_.Name << ": " << layout_->ClassName << " box " << b.Name
                              << " \"" << b.Caption << "\" reads bit " << b.ReadBit << " with "
                              << Hex(c) << ", which no read of the chip returns";
        }
        for (const BoxDesc& b : g.Boxes) {
            if (!b.Immediate) continue;
            const auto write = Pattern("fuse", "write");
            ASSERT_TRUE(write) << row_.Name << ": no fuse write for " << b.Name;
            for (uint8_t v : {uint8_t{0xBE}, uint8_t{0xBF}}) {
                const uint8_t bytes[4] = {0xAC, v, 0x00, 0x00};
                EXPECT_TRUE(write->Fits(bytes)) << row_.Name << " " << b.Name;
            }
        }
        if (g.Form != WriteForm::ValueInB4 && g.Form != WriteForm::ValueInB2) continue;
        // Writes: the value travels in the byte the chip takes it from, with the fixed bits
        // right, whether no box or every box is ticked.
        uint16_t all = 0;
        for (const BoxDesc& b : g.Boxes) all = static_cast<uint16_t>(all | b.WriteMask);
        bool fits = false;
        std::string seen;
        for (const std::string& mem : memories) {
            const auto write = Pattern(mem, "write");
            if (!write) continue;
            seen += " " + mem + ":" + part_->Memory(mem)->Get("write");
            const int valueByte = g.Form == WriteForm::ValueInB4 ? 3 : 1;
            bool ok =
                write->ValueByte() == valueByte && (all & ~write->Mask(valueByte, 'i') & 0xFF) == 0;
            for (uint16_t v : {g.WriteBase, static_cast<uint16_t>(g.WriteBase & ~all)}) {
                Command c = g.Write;
                (valueByte == 3 ? c.B4 : c.B2) = static_cast<uint8_t>(v);
                const uint8_t bytes[4] = {c.B1, c.B2, c.B3, c.B4};
                ok = ok && write->Fits(bytes);
            }
            fits = fits || ok;
        }
        EXPECT_TRUE(fits) << row_.Name << ": " << layout_->ClassName << " " << g.Name << " writes "
                          << Hex(g.Write) << " with the value in byte "
                          << (g.Form == WriteForm::ValueInB4 ? 4 : 2) << "; the chip takes" << seen;
    }
    if (layout_->Modes) {
        const auto write = Pattern("lock", "write");
        ASSERT_TRUE(write) << row_.Name << ": no lock write";
        for (const config::ModeDesc& m : layout_->Modes->Modes)
            for (const Command& c : m.Commands) {
                const uint8_t bytes[4] = {c.B1, c.B2, c.B3, c.B4};
                EXPECT_TRUE(write->Fits(bytes)) << row_.Name << " " << m.Name << " " << Hex(c);
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, AvrRow, ::testing::ValuesIn(CatalogueRows(IsAvr)),
                         [](const ::testing::TestParamInfo<ChipRecord>& info) {
                             return CaseName(info.param.Name);
                         });

}  // namespace
}  // namespace tondrel::oracle
