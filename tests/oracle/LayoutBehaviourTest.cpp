// Every box and field of every layout driven through the form onto a simulated chip, and the
// chip's bytes compared with what avr-libc, avrdude's part data, gputils and the datasheets say
// the write does, never with the layout's own descriptor: a box must change exactly the bit its
// caption names, and nothing else in the byte may move.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

#include "config/ConfigCommands.h"
#include "config/ConfigForm.h"
#include "engines/T89s.h"
#include "engines/Tavr.h"
#include "engines/Tpic.h"
#include "engines/TpicA.h"
#include "sim/AvrChip.h"
#include "sim/PicChip.h"
#include "tests/oracle/Catalogue.h"
#include "tests/oracle/Sources.h"
#include "tests/support/BenchRig.h"
#include "tests/support/YesPrompts.h"

namespace tondrel::oracle {
namespace {

using config::BoxDesc;
using config::ConfigForm;
using config::GroupDesc;
using config::GroupKind;
using config::LayoutDesc;

// A chip on the bench, its clock forced so that any clock fuse leaves it reachable.
template <typename Engine>
struct Desk {
    explicit Desk(const ChipRecord& row) : rig(Options(row.Name)) { rig.Current.Assign(row); }
    static sim::BenchOptions Options(const std::string& name) {
        sim::BenchOptions o = testsupport::OnBench(name);
        o.Faults.ClockHz = 16'000'000;
        return o;
    }
    std::unique_ptr<ConfigForm> Open() {
        return config::OpenConfigForm(rig.Current.CurrentChipName, rig.Engine, 0x378, prompts);
    }
    std::string State() {
        std::ostringstream out;
        rig.BenchObj.Chip()->SaveState(out);
        return out.str();
    }
    testsupport::EngineRig<Engine> rig;
    testsupport::YesPrompts prompts;
};

// ---- AVR ----

// avr-libc's name of the bit a caption stands for: the captions the designed layouts keep as
// the original dialogs spelled them map to the headers' names.
std::string LibcName(const std::string& caption, const std::map<std::string, int>& names) {
    if (names.count(caption)) return caption;
    if (caption == "SPIED") return "SPIEN";
    if (caption == "SELFPRGEN") return "SPMEN";
    return caption;
}

std::optional<FuseByte> ByteOf(const GroupDesc& g) {
    if (g.Kind != GroupKind::Fuse) return std::nullopt;
    const config::Command& r = g.Reads.at(0);
    if (r.B1 == 0x50 && r.B2 == 0x00) return FuseByte::Low;
    if (r.B1 == 0x58 && r.B2 == 0x08) return FuseByte::High;
    if (r.B1 == 0x50 && r.B2 == 0x08) return FuseByte::Extended;
    return std::nullopt;
}

uint8_t FuseOf(const sim::AvrChip& c, FuseByte b) {
    return b == FuseByte::Low ? c.FuseLow() : b == FuseByte::High ? c.FuseHigh() : c.FuseExt();
}

// The chip's state with its fuse bytes and lock byte replaced.
std::string WithConfig(const std::string& state, uint8_t low, uint8_t high, uint8_t ext,
                       uint8_t lock) {
    const size_t at = state.find("config ");
    char line[32];
    std::snprintf(line, sizeof line, "config %02X %02X %02X %02X\n", low, high, ext, lock);
    return state.substr(0, at) + line;
}

bool IsModernAvr(const ChipRecord& c) {
    if (c.MethodCode != Method::Avr) return false;
    const AvrPartData* p = FindAvrPart(c.Name);
    return p && p->Style == AvrConfigStyle::Modern && config::FindLayout(c.Name);
}

class AvrLayoutOnChip : public ::testing::TestWithParam<ChipRecord> {
  protected:
    void SetUp() override {
        row_ = GetParam();
        std::string error;
        libc_ = ReadAvrLibc(Lowered(row_.Name), error);
        if (!error.empty() || libc_.Fuses.empty())
            GTEST_SKIP() << row_.Name << ": this avr-libc names no fuse bits for the chip";
    }
    // avr-libc's bits of a fuse byte by name.
    std::map<std::string, int> BitsNamed(FuseByte b) {
        std::map<std::string, int> out;
        for (const auto& [bit, name] : libc_.Fuses[b]) out[name] = bit;
        return out;
    }
    uint8_t Named(FuseByte b) {
        uint8_t m = 0;
        for (const auto& [bit, name] : libc_.Fuses[b])
            if (name != "RESERVED") m = static_cast<uint8_t>(m | (1u << bit));
        return m;
    }
    // Every fuse bit the chip takes programmed, but those that would take it off the serial
    // interface.
    uint8_t Programmed(FuseByte b) {
        uint8_t v = 0xFF;
        for (const auto& [bit, name] : libc_.Fuses[b])
            if (name != "RSTDISBL" && name != "RSTDSBL" && name != "DWEN" && name != "RESERVED" &&
                Writable(b, bit))
                v = static_cast<uint8_t>(v & ~(1u << bit));
        return v;
    }
    // Whether avrdude's write command for the byte takes the bit (an 'i' in its pattern).
    bool Writable(FuseByte b, int bit) {
        auto part = Avrdude().ByDesc(row_.Name);
        if (!part) return true;
        CorrectFromDatasheet(*part);
        for (const char* mem : b == FuseByte::Low    ? std::vector<const char*>{"lfuse", "fuse"}
                               : b == FuseByte::High ? std::vector<const char*>{"hfuse"}
                                                     : std::vector<const char*>{"efuse"}) {
            const AvrdudeMemory* m = part->Memory(mem);
            if (!m) continue;
            const auto pattern = BitPattern::Parse(m->Get("write"));
            if (pattern && pattern->ValueByte() == 3) return (pattern->Mask(3, 'i') >> bit) & 1u;
        }
        return true;
    }
    static const AvrdudeConf& Avrdude() { return InstalledAvrdude(); }
    ChipRecord row_;
    AvrLibcChip libc_;
};

TEST_P(AvrLayoutOnChip, EachFuseBoxTogglesTheBitItsCaptionNamesAndNothingElse) {
    const LayoutDesc* layout = config::FindLayout(row_.Name);
    ASSERT_NE(layout, nullptr);
    // From the factory setting (mostly unprogrammed) and from one with every bit programmed,
    // so that a bit written as 1 where the chip holds 0 shows as well as the other way round.
    for (bool allProgrammed : {false, true}) {
        for (const GroupDesc& g : layout->Groups) {
            const auto byte = ByteOf(g);
            if (!byte) continue;
            const std::map<std::string, int> names = BitsNamed(*byte);
            const uint8_t named = Named(*byte);
            for (const BoxDesc& b : g.Boxes) {
                SCOPED_TRACE(layout->ClassName + " " + b.Name + " \"" + b.Caption + "\"" +
                             (allProgrammed ? " from all programmed" : " from the factory"));
                Desk<Tavr> d(row_);
                auto& chip = dynamic_cast<sim::AvrChip&>(*d.rig.BenchObj.Chip());
                if (allProgrammed) {
                    std::istringstream in(WithConfig(d.State(), Programmed(FuseByte::Low),
                                                     Programmed(FuseByte::High),
                                                     Programmed(FuseByte::Extended), 0xFF));
                    ASSERT_TRUE(chip.LoadState(in));
                }
                auto form = d.Open();
                ASSERT_TRUE(form);
                const uint8_t before = FuseOf(chip, *byte);
                const auto it = names.find(LibcName(b.Caption, names));
                // SPIEN cannot be changed serially; nor can a bit avrdude's write fixes.
                const bool fixed =
                    it != names.end() && (it->first == "SPIEN" || !Writable(*byte, it->second));
                const bool clicked = form->Click(b.Name);
                if (it == names.end() || fixed || b.Disabled) {
                    // A reserved bit, SPIEN, which serial programming cannot change, or a bit the
                    // layout shows only: the write keeps it as the chip holds it (the pass from
                    // every bit programmed checks that).
                    EXPECT_FALSE(clicked) << "the chip takes no change of this bit";
                    continue;
                }
                ASSERT_TRUE(clicked);
                (void)form->Write(g.Name);
                const uint8_t want = static_cast<uint8_t>(before ^ (1u << it->second));
                const uint8_t after = FuseOf(chip, *byte);
                EXPECT_EQ(after & named, want & named)
                    << std::hex << "before 0x" << int(before) << ", after 0x" << int(after) << ", "
                    << it->first << " is bit " << std::dec << it->second;
                // The bits the chip has no name for go out as 1.
                EXPECT_EQ(after & ~named & 0xFF, ~named & 0xFF) << std::hex << int(after);
            }
        }
    }
}

TEST_P(AvrLayoutOnChip, EveryNamedFuseBitHasABox) {
    const LayoutDesc* layout = config::FindLayout(row_.Name);
    ASSERT_NE(layout, nullptr);
    for (FuseByte byte : {FuseByte::Low, FuseByte::High, FuseByte::Extended}) {
        for (const auto& [bit, name] : libc_.Fuses[byte]) {
            if (name == "RESERVED") continue;
            bool boxed = false;
            const std::map<std::string, int> names = BitsNamed(byte);
            for (const GroupDesc& g : layout->Groups)
                for (const BoxDesc& b : g.Boxes)
                    boxed = boxed || (ByteOf(g) == byte && LibcName(b.Caption, names) == name &&
                                      b.ReadBit == bit);
            EXPECT_TRUE(boxed || name == "SPIEN") << row_.Name << " " << name << " (bit " << bit
                                                  << ") has no box in " << layout->ClassName;
        }
    }
}

TEST_P(AvrLayoutOnChip, EachLockBoxProgramsTheLockBitItNames) {
    const LayoutDesc* layout = config::FindLayout(row_.Name);
    ASSERT_NE(layout, nullptr);
    // avr-libc's lock bits in the order its __LOCK_BITS_EXIST / __BOOT_LOCK_BITS_n_EXIST give
    // them: LB1 LB2 in bits 0 and 1, the boot lock pairs above.
    const std::map<std::string, int> bits = {{"LB1", 0},   {"LB2", 1},   {"BLB01", 2},
                                             {"BLB02", 3}, {"BLB11", 4}, {"BLB12", 5}};
    for (const GroupDesc& g : layout->Groups) {
        if (g.Kind != GroupKind::LockBits) continue;
        for (const BoxDesc& b : g.Boxes) {
            SCOPED_TRACE(layout->ClassName + " " + b.Name);
            Desk<Tavr> d(row_);
            auto& chip = dynamic_cast<sim::AvrChip&>(*d.rig.BenchObj.Chip());
            auto form = d.Open();
            ASSERT_TRUE(form->Click(b.Name));
            EXPECT_TRUE(form->Write(g.Name).Ok());
            ASSERT_TRUE(bits.count(b.Caption)) << b.Caption;
            EXPECT_EQ(chip.Lock() & 0x3F, 0x3F & ~(1u << bits.at(b.Caption)))
                << std::hex << int(chip.Lock());
        }
    }
}

// Each multi-bit field set through `config set` lands on the bits avr-libc numbers for it.
TEST_P(AvrLayoutOnChip, EachFieldSetsTheBitsItsNamesNumber) {
    const LayoutDesc* layout = config::FindLayout(row_.Name);
    ASSERT_NE(layout, nullptr);
    for (FuseByte byte : {FuseByte::Low, FuseByte::High, FuseByte::Extended}) {
        // NAMEn -> n -> bit, for the names with a digit that come more than once.
        std::map<std::string, std::map<int, int>> fields;
        for (const auto& [bit, name] : libc_.Fuses[byte]) {
            if (name.empty() || !std::isdigit(static_cast<unsigned char>(name.back()))) continue;
            std::string base = name.substr(0, name.size() - 1);
            int digit = name.back() - '0';
            if (base == "SUT_CKSEL" || base == "CKSEL_SUT") {
                base = digit < 4 ? "CKSEL" : "SUT";
                if (digit >= 4) digit -= 4;
            }
            fields[base][digit] = bit;
        }
        for (const auto& [field, digits] : fields) {
            if (digits.size() < 2 || field == "SUT" || row_.Name.find("828") != std::string::npos)
                continue;
            SCOPED_TRACE(row_.Name + " " + field);
            Desk<Tavr> d(row_);
            auto& chip = dynamic_cast<sim::AvrChip&>(*d.rig.BenchObj.Chip());
            auto form = d.Open();
            const uint8_t before = FuseOf(chip, byte);
            // The field's value with its lowest bit flipped.
            std::string text;
            for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
                bool one = (before >> it->second) & 1u;
                if (it->first == digits.begin()->first) one = !one;
                text += one ? '1' : '0';
            }
            const Status set = config::SetFields(*form, {field + "=" + text});
            ASSERT_TRUE(set.Ok()) << set.Text(Language::English);
            const uint8_t want = static_cast<uint8_t>(before ^ (1u << digits.begin()->second));
            EXPECT_EQ(FuseOf(chip, byte) & Named(byte), want & Named(byte)) << text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, AvrLayoutOnChip,
                         ::testing::ValuesIn(CatalogueRows(IsModernAvr)),
                         [](const ::testing::TestParamInfo<ChipRecord>& info) {
                             return CaseName(info.param.Name);
                         });

// ---- AT89S ----

int StateNumber(const std::string& state, const std::string& key) {
    const size_t at = state.find("\n" + key + " ");
    return at == std::string::npos ? -1 : std::stoi(state.substr(at + key.size() + 2));
}

ChipRecord Row(const std::string& name) {
    for (const ChipRecord& c : CatalogueRows())
        if (c.Name == name) return c;
    return {};
}

// The datasheets' protection modes: mode 2 programs LB1, mode 3 LB1 and LB2, mode 4 all three
// (the layouts' first, second and third radio buttons).
TEST(At89LayoutOnChip, ProtectionModesProgramTheDatasheetsLockBits) {
    for (const char* chip : {"AT89S51", "AT89S52", "AT89S53", "AT89S8252"}) {
        for (size_t mode = 0; mode < 3; ++mode) {
            SCOPED_TRACE(std::string(chip) + " mode " + std::to_string(mode + 1));
            const ChipRecord row = Row(chip);
            std::unique_ptr<Desk<T89s>> s5x;
            std::unique_ptr<Desk<T89s53>> s53;
            std::unique_ptr<Desk<T89s8252>> s8252;
            std::unique_ptr<ConfigForm> form;
            std::function<std::string()> state;
            if (row.MethodCode == Method::At89s) {
                s5x = std::make_unique<Desk<T89s>>(row);
                form = s5x->Open();
                state = [&] { return s5x->State(); };
            } else if (row.MethodCode == Method::At89s53) {
                s53 = std::make_unique<Desk<T89s53>>(row);
                form = s53->Open();
                state = [&] { return s53->State(); };
            } else {
                s8252 = std::make_unique<Desk<T89s8252>>(row);
                form = s8252->Open();
                state = [&] { return s8252->State(); };
            }
            ASSERT_TRUE(form);
            ASSERT_TRUE(form->SelectMode(mode));
            EXPECT_TRUE(form->ApplyMode().Ok());
            static const int kBits[] = {1, 3, 7};
            EXPECT_EQ(StateNumber(state(), "lock"), kBits[mode]);
        }
    }
}

// AT89S8253 datasheet: user fuses read 0010 0001 (xxxx ffff) and written 1010 1100 0001 ffff,
// SerialPrg in bit 0, x2 Clock in bit 1, UsrRow Prg in bit 2; lock bits written 1110 0LLL,
// LB1 in bit 0. A fuse write leaves the code memory alone.
TEST(At89LayoutOnChip, S8253FusesAndLocksLandOnTheirDatasheetBits) {
    const std::map<std::string, int> fuseBit = {{"f1", 0}, {"f2", 1}, {"f3", 2}};
    const std::map<std::string, int> lockBit = {{"lb1", 0}, {"lb2", 1}, {"lb3", 2}};
    for (const auto& [box, bit] : fuseBit) {
        SCOPED_TRACE(box);
        Desk<T89s8253> d(Row("AT89S8253"));
        ASSERT_TRUE(d.rig.Engine.EnterProgramming());
        ASSERT_TRUE(d.rig.Engine.WriteFlashByte(0x10, 0x5A));
        (void)d.rig.Engine.LeaveProgramming();
        auto form = d.Open();
        ASSERT_TRUE(form->Click(box));
        (void)form->Write("GroupBox2");
        const std::string state = d.State();
        EXPECT_EQ(StateNumber(state, "fuse"), 0x0F & ~(1 << bit));
        // The code memory as the state file keeps it: byte 0x10 still holds 0x5A.
        const size_t flash = state.find("flash ");
        ASSERT_NE(flash, std::string::npos);
        EXPECT_EQ(state.substr(flash + 6 + 2 * 0x10, 2), "5A") << "the Flash was erased";
    }
    for (const auto& [box, bit] : lockBit) {
        SCOPED_TRACE(box);
        Desk<T89s8253> d(Row("AT89S8253"));
        auto form = d.Open();
        ASSERT_TRUE(form->Click(box));
        EXPECT_TRUE(form->Write("GroupBox1").Ok());
        EXPECT_EQ(StateNumber(d.State(), "lock"), 1 << bit);
    }
}

// ---- PIC ----

// The configuration words of the programming specifications and data sheets (DS39025 16F87x,
// DS39582 16F87xA, DS35007 16F84A, DS40300 16F628): the bits each option programs.
using OptionBits = std::map<std::string, uint16_t>;

OptionBits With(OptionBits base, const OptionBits& more) {
    base.insert(more.begin(), more.end());
    return base;
}

const std::map<std::string, OptionBits>& PicWords() {
    // Every family's PWRTE, WDTE and FOSC1:0 sit in bits 3..0.
    const OptionBits low = {
        {"PWRTE", 0x0008}, {"WDTE", 0x0004}, {"FOSC1", 0x0002}, {"FOSC0", 0x0001}};
    const OptionBits f87x =
        With(low, {{"DEBUG", 0x0800}, {"CPD", 0x0100}, {"LVP", 0x0080}, {"BODEN", 0x0040}});
    static const std::map<std::string, OptionBits> words = {
        {"16F87x", With(f87x, {{"CP1", 0x2020}, {"CP0", 0x1010}, {"WRT", 0x0200}})},
        {"16F87xA", With(f87x, {{"CP", 0x2000}, {"WRT1", 0x0400}, {"WRT0", 0x0200}})},
        {"16F84A", With(low, {{"CP", 0x3FF0}})},
        {"16F628", With(low, {{"CP1", 0x2800},
                              {"CP0", 0x1400},
                              {"CPD", 0x0100},
                              {"LVP", 0x0080},
                              {"BODEN", 0x0040},
                              {"MCLRE", 0x0020},
                              {"FOSC2", 0x0010}})},
    };
    return words;
}

std::string PicFamilyOf(const std::string& chip) {
    if (chip == "PIC16F84A") return "16F84A";
    if (chip == "PIC16F628") return "16F628";
    return chip.back() == 'A' ? "16F87xA" : "16F87x";
}

bool IsPicRow(const ChipRecord& c) {
    return IsPic(c.MethodCode);
}

class PicLayoutOnChip : public ::testing::TestWithParam<ChipRecord> {};

TEST_P(PicLayoutOnChip, EachConfigurationBoxProgramsItsOptionsBitsAndEveryOptionHasABox) {
    const ChipRecord row = GetParam();
    const LayoutDesc* layout = config::FindLayout(row.Name);
    ASSERT_NE(layout, nullptr) << row.Name << " has no configuration view";
    const auto& truth = PicWords().at(PicFamilyOf(row.Name));
    const GroupDesc& word = layout->Groups.at(1);
    for (const auto& [option, mask] : truth) {
        SCOPED_TRACE(row.Name + " " + option);
        const BoxDesc* box = nullptr;
        for (const BoxDesc& b : word.Boxes)
            if (b.Caption == option) box = &b;
        ASSERT_NE(box, nullptr) << "no box for " << option;
        auto run = [&](auto& d) {
            auto form = d.Open();
            ASSERT_TRUE(form->Click(box->Name));
            (void)form->Write(word.Name);
            const auto& chip = dynamic_cast<sim::PicChip&>(*d.rig.BenchObj.Chip());
            const uint16_t implemented = chip.Facts().ConfigMask;
            EXPECT_EQ(chip.ConfigCell(7) & implemented, 0x3FFF & ~mask & implemented)
                << std::hex << chip.ConfigCell(7);
        };
        if (row.MethodCode == Method::PicA) {
            Desk<TpicA> d(row);
            run(d);
        } else {
            Desk<Tpic> d(row);
            run(d);
        }
    }
    EXPECT_EQ(word.Boxes.size(), truth.size()) << "boxes the chip has no option for";
}

INSTANTIATE_TEST_SUITE_P(Catalogue, PicLayoutOnChip, ::testing::ValuesIn(CatalogueRows(IsPicRow)),
                         [](const ::testing::TestParamInfo<ChipRecord>& info) {
                             return CaseName(info.param.Name);
                         });

}  // namespace
}  // namespace tondrel::oracle
