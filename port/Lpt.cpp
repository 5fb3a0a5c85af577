#include "port/Lpt.h"

#include <array>
#include <cstddef>

namespace tondrel {

namespace {
constexpr std::array<int32_t, 3> kBases = {0x378, 0x278, 0x3BC};
}

int32_t BaseForLpt(int lpt) {
    return lpt >= 1 && lpt <= 3 ? kBases[static_cast<std::size_t>(lpt - 1)] : 0;
}

int LptForBase(int32_t base) {
    for (std::size_t i = 0; i < kBases.size(); ++i)
        if (kBases[i] == base) return static_cast<int>(i + 1);
    return 0;
}

}  // namespace tondrel
