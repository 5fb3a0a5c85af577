#include "common/PicConfig.h"

#include <cctype>
#include <iterator>

namespace tondrel {
namespace {

// Implemented bits: the union of the option bits in gputils' p16fXXX.inc (the unimplemented ones
// read as 1: bit 10 on the 16F87x, bit 9 on the 16F628, bits 12, 5 and 4 on the 16F87xA). The
// 16F84A's ten CP bits and the 16F87x's paired CP1:CP0 all protect; any of them at 0 hides the
// program memory. Program-only cycles: the longest programming time the sheets give (16F87x 4 ms,
// 16F628 8 ms), and on the 16F87xA the externally timed 1 ms of its 5 V algorithm; the 16F84A
// keeps its erase/program cycle.
constexpr PicConfigFacts kFacts[] = {
    {"PIC16F84A", 0x3FFF, 0x3FF0, 0x0000, PicErase::Bulk, 0},
    {"PIC16F628", 0x3DFF, 0x3C00, 0x0100, PicErase::Bulk, 8000},
    {"PIC16F87x", 0x3BFF, 0x3030, 0x0100, PicErase::SetupSequence, 4000},
    {"PIC16F87xA", 0x2FCF, 0x2000, 0x0100, PicErase::BulkAndChip, 1000},
};
// The catalogue's members of the two families whose name has an x: its digit.
constexpr std::string_view kFamilyDigits[] = {"", "", "0123467", "3467"};

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

const PicConfigFacts* FindPicConfig(std::string_view name) {
    for (size_t i = 0; i < std::size(kFacts); ++i) {
        const std::string_view family = kFacts[i].Name;
        const size_t x = family.find('x');
        if (x == std::string_view::npos) {
            if (SameName(family, name)) return &kFacts[i];
            continue;
        }
        if (name.size() == family.size() && SameName(family.substr(0, x), name.substr(0, x)) &&
            SameName(family.substr(x + 1), name.substr(x + 1)) &&
            kFamilyDigits[i].find(name[x]) != std::string_view::npos)
            return &kFacts[i];
    }
    return nullptr;
}

}  // namespace tondrel
