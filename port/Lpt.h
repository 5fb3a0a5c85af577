#pragma once
// The three PC parallel ports by number and by base address.
#include <cstdint>

namespace tondrel {

// 1 -> 0x378, 2 -> 0x278, 3 -> 0x3BC; 0 for anything else.
int32_t BaseForLpt(int lpt);
// The reverse; 0 for a base that is no LPT.
int LptForBase(int32_t base);

}  // namespace tondrel
