// The generic AVR view: its boxes against the part data it is built from, and its commands on
// simulated chips of the generation it serves.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "common/AvrPartData.h"
#include "config/ConfigCommands.h"
#include "config/ConfigForm.h"
#include "config/GenericLayouts.h"
#include "engines/Tavr.h"
#include "sim/AvrChip.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"

namespace tondrel::config {
namespace {

const std::array<const char*, 8>* BitsOf(const AvrPartData& p, const GroupDesc& g) {
    if (g.Reads.front() == Command{0x50, 0x00, 0x00, 0x00}) return &p.LowBits;
    if (g.Reads.front() == Command{0x58, 0x08, 0x00, 0x00}) return &p.HighBits;
    if (g.Reads.front() == Command{0x50, 0x08, 0x00, 0x00}) return &p.ExtBits;
    return nullptr;
}

TEST(GenericAvrLayouts, EveryBoxNamesTheBitAvrLibcNamesAndWritesItsOwnBit) {
    ASSERT_GT(GenericLayouts().size(), 100u);
    for (const LayoutDesc& l : GenericLayouts()) {
        ASSERT_EQ(l.ChipNames.size(), 1u);
        const AvrPartData* p = FindAvrPart(l.ChipNames.front());
        ASSERT_NE(p, nullptr);
        SCOPED_TRACE(p->Name);
        EXPECT_EQ(FindLayout(p->Name), &l);
        EXPECT_EQ(l.OpenOrder.size(), l.Groups.size());
        int fuseGroups = 0;
        for (const GroupDesc& g : l.Groups) {
            EXPECT_EQ(g.Write.B1, 0xAC);
            if (g.Kind == GroupKind::LockBits) {
                EXPECT_EQ(g.Reads.front(), (Command{0x58, 0x00, 0x00, 0x00}));
                if (p->LockInByte2) {
                    EXPECT_EQ(g.Form, WriteForm::ValueInB2);
                    EXPECT_EQ(p->LockUsed, 0x03);  // 1111 11ii: nothing else may be cleared
                } else {
                    EXPECT_EQ(g.Form, WriteForm::ValueInB4);
                    EXPECT_EQ(g.Write.B2, 0xE0);
                }
                uint8_t shown = 0;
                for (const BoxDesc& b : g.Boxes) shown |= static_cast<uint8_t>(b.WriteMask);
                EXPECT_EQ(shown, p->LockUsed);
                continue;
            }
            ASSERT_EQ(g.Form, WriteForm::ValueInB4);
            ++fuseGroups;
            const auto* bits = BitsOf(*p, g);
            ASSERT_NE(bits, nullptr) << g.Name;
            const uint8_t expectedWrite = g.Reads.front().B1 == 0x58   ? 0xA8
                                          : g.Reads.front().B2 == 0x08 ? 0xA4
                                                                       : 0xA0;
            EXPECT_EQ(g.Write.B2, expectedWrite) << g.Name;
            const uint8_t writable = g.Write.B2 == 0xA0   ? p->LowWritable
                                     : g.Write.B2 == 0xA8 ? p->HighWritable
                                                          : p->ExtWritable;
            ASSERT_EQ(g.Boxes.size(), 8u);
            for (const BoxDesc& b : g.Boxes) {
                const char* name = (*bits)[static_cast<size_t>(b.ReadBit)];
                if (name != nullptr && std::string_view(name) == "RESERVED") name = nullptr;
                if (name != nullptr) {
                    EXPECT_EQ(b.Caption, name) << b.Name;
                }
                if (name == nullptr || (writable & (1u << b.ReadBit)) == 0) {
                    EXPECT_TRUE(b.Disabled) << b.Name;
                    EXPECT_EQ(b.WriteMask, 0) << b.Name;  // reserved and fixed bits go out as 1
                } else {
                    EXPECT_EQ(b.WriteMask, 1u << b.ReadBit) << b.Name;
                }
            }
        }
        EXPECT_EQ(fuseGroups, __builtin_popcount(p->FuseBytes));
    }
}

TEST(GenericAvrLayouts, DesignedLayoutsKeepTheirChips) {
    for (const LayoutDesc& l : AllLayouts()) {
        for (const std::string& chip : l.ChipNames) {
            EXPECT_EQ(FindLayout(chip), &l) << chip;
            EXPECT_EQ(FindGenericLayout(chip), nullptr) << chip;
        }
    }
    EXPECT_EQ(FindLayout("PIC16F84A")->ClassName, "Tpic84AotherFrm");
}

class ScriptedPrompts : public Prompts {
  public:
    bool Ask(const Message& question, QuestionKind) override {
        asked.push_back(question);
        return answer;
    }
    void Inform(const Message&) override {}
    void Say(const Message&) override {}
    bool answer = true;
    std::vector<Message> asked;
};

struct Rig {
    VirtualClock clock;
    sim::Bench bench;
    sim::SimPort port;
    CurrentChip chip;
    EngineEnv env{&port, &clock, &chip};
    Tavr engine{env};
    ScriptedPrompts prompts;

    static sim::BenchOptions Options(const std::string& name) {
        sim::BenchOptions o;
        o.ChipName = name;
        return o;
    }
    explicit Rig(const AvrPartData& p) : bench(clock, Options(p.Name)), port(bench, &clock) {
        ChipRecord r{p.ChipId, Method::Avr, p.Name, "", p.FlashSize, p.EepromSize, p.PageSize};
        chip.Assign(r);
        engine.InitPinMap();
        engine.SetPortBase(0x378);
    }
    sim::AvrChip& Avr() { return dynamic_cast<sim::AvrChip&>(*bench.Chip()); }
};

struct ChipCase {
    const char* Name;
    const char* DangerBox;  // a box whose write ends serial programming
};

void PrintTo(const ChipCase& c, std::ostream* os) {
    *os << c.Name;
}

class GenericViewOnBench : public ::testing::TestWithParam<ChipCase> {};

TEST_P(GenericViewOnBench, ShowsTheFactoryFusesWritesOneAndAsksBeforeLockingItselfOut) {
    const AvrPartData* p = FindAvrPart(GetParam().Name);
    ASSERT_NE(p, nullptr);
    Rig rig(*p);
    ASSERT_TRUE(rig.bench.Error().Ok()) << rig.bench.Error().Text(Language::English);
    auto form = OpenConfigForm(p->Name, rig.engine, 0x378, rig.prompts);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->ValueToWrite("GroupBox3"), rig.Avr().FuseLow());
    EXPECT_EQ(form->ValueToWrite("GroupBox1"), rig.Avr().FuseHigh());

    // CKDIV8 off: the chip then runs undivided.
    std::string ckdiv8;
    for (const BoxDesc& b : form->Layout().Groups[2].Boxes)
        if (b.Caption == "CKDIV8") ckdiv8 = b.Name;
    ASSERT_FALSE(ckdiv8.empty());
    ASSERT_TRUE(WriteGroupSettings(*form, "GroupBox3", {ckdiv8 + "=off"}).Ok());
    EXPECT_EQ(rig.Avr().FuseLow(), p->FuseLow | 0x80);
    EXPECT_TRUE(rig.prompts.asked.empty());

    // Programming RSTDISBL or DWEN is asked first; No sends nothing.
    rig.prompts.answer = false;
    const uint8_t high = rig.Avr().FuseHigh();
    const uint8_t low = rig.Avr().FuseLow();
    const std::string group =
        std::string(GetParam().DangerBox).substr(0, 2) == "fh" ? "GroupBox1" : "groupbox4";
    const auto result =
        WriteGroupSettings(*form, group, {std::string(GetParam().DangerBox) + "=on"});
    EXPECT_FALSE(result.Ok());
    ASSERT_EQ(rig.prompts.asked.size(), 1u);
    EXPECT_EQ(rig.prompts.asked.front().Key, "CfgEndsSerial");
    EXPECT_EQ(rig.Avr().FuseHigh(), high);
    EXPECT_EQ(rig.Avr().FuseExt(), p->FuseExt);
    EXPECT_EQ(rig.Avr().FuseLow(), low);
}

INSTANTIATE_TEST_SUITE_P(OnePerGroup, GenericViewOnBench,
                         ::testing::Values(ChipCase{"ATmega328P", "fh7"},
                                           ChipCase{"ATtiny85", "fh6"},
                                           ChipCase{"ATtiny4313", "fh0"}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace tondrel::config
