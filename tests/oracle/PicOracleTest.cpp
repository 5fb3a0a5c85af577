// The PIC configuration layouts against gputils' headers: each box programs bits that the
// chip's configuration word gives to the option the caption names.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "config/ConfigLayouts.h"
#include "tests/oracle/Catalogue.h"
#include "tests/oracle/Sources.h"

namespace tondrel::oracle {
namespace {

using config::BoxDesc;
using config::GroupKind;

bool HasPicLayout(const ChipRecord& c) {
    const config::LayoutDesc* l = config::FindLayout(c.Name);
    return l && l->Fam == config::Family::Pic;
}

// "FOSC1" -> option FOSC, digit 1; "CPD" -> CPD, no digit.
std::pair<std::string, int> OptionOf(const std::string& caption) {
    std::string name = caption;
    int digit = -1;
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name.back()))) {
        digit = name.back() - '0';
        name.pop_back();
    }
    return {name, digit};
}

int TopBit(uint16_t mask) {
    int top = -1;
    for (int b = 0; b < 16; ++b)
        if (mask & (1u << b)) top = b;
    return top;
}

class PicRow : public ::testing::TestWithParam<ChipRecord> {};

TEST_P(PicRow, ConfigurationBoxesProgramTheBitsOfTheirOption) {
    const ChipRecord row = GetParam();
    const config::LayoutDesc* layout = config::FindLayout(row.Name);
    ASSERT_NE(layout, nullptr);
    std::string error;
    const std::string inc = "/usr/share/gputils/header/p" + Lowered(row.Name.substr(3)) + ".inc";
    const std::vector<PicConfigOption> options = ReadGputilsConfig(inc, error);
    ASSERT_TRUE(error.empty()) << error;

    const auto word = std::find_if(layout->Groups.begin(), layout->Groups.end(), [](const auto& g) {
        return g.Kind == GroupKind::PicConfigWord;
    });
    ASSERT_NE(word, layout->Groups.end());
    // Per option: the masks its settings program, and the boxes that claim it.
    std::map<std::string, std::vector<const BoxDesc*>> claimed;
    std::map<std::string, uint16_t> fields;
    for (const BoxDesc& b : word->Boxes) {
        const auto [name, digit] = OptionOf(b.Caption);
        const std::string prefix = "_" + name + "_";
        uint16_t field = 0;
        for (const PicConfigOption& o : options)
            if (o.Symbol.rfind(prefix, 0) == 0) field = static_cast<uint16_t>(field | o.Cleared);
        fields[name] = field;
        EXPECT_NE(field, 0) << row.Name << ": " << inc << " has no option " << name << " (box "
                            << b.Name << ")";
        EXPECT_TRUE(b.WriteMask != 0 && (b.WriteMask & ~field) == 0)
            << row.Name << ": box " << b.Name << " \"" << b.Caption << "\" programs mask 0x"
            << std::hex << b.WriteMask << ", outside option " << name << " (bits 0x" << field
            << ")";
        EXPECT_EQ(b.ReadBit, TopBit(b.WriteMask)) << row.Name << " " << b.Name;
        claimed[name].push_back(&b);
    }
    // Boxes of one option: together they reach all its bits, disjoint, and the higher digit
    // holds the higher bits.
    for (const auto& [name, boxes] : claimed) {
        uint16_t reached = 0;
        for (const BoxDesc* b : boxes) reached = static_cast<uint16_t>(reached | b->WriteMask);
        EXPECT_EQ(reached, fields[name]) << row.Name << ": option " << name;
        for (size_t i = 0; i < boxes.size(); ++i)
            for (size_t j = i + 1; j < boxes.size(); ++j) {
                EXPECT_EQ(boxes[i]->WriteMask & boxes[j]->WriteMask, 0) << row.Name << " " << name;
                const int di = OptionOf(boxes[i]->Caption).second;
                const int dj = OptionOf(boxes[j]->Caption).second;
                EXPECT_EQ(di > dj, TopBit(boxes[i]->WriteMask) > TopBit(boxes[j]->WriteMask))
                    << row.Name << " " << boxes[i]->Caption << " / " << boxes[j]->Caption;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, PicRow, ::testing::ValuesIn(CatalogueRows(HasPicLayout)),
                         [](const ::testing::TestParamInfo<ChipRecord>& info) {
                             return CaseName(info.param.Name);
                         });

}  // namespace
}  // namespace tondrel::oracle
