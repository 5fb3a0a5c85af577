#pragma once
// The PIC's configuration memory in the programming flows. The configuration word goes last: a
// word that turns code protection on would hide the memory the flow still has to verify, so
// program memory and EEPROM are written and verified first, then the IDs and the word, then the
// word is read back on its own.
#include <cstdint>

#include "common/Status.h"
#include "core/SessionContext.h"

namespace tondrel::core::pic {

// The chip's configuration word protects its program memory or (`data`) its data memory; false
// for a chip that is not a PIC of the catalogue.
bool Protected(SessionContext& s, bool data = false);
// Erases the chip: a protected one by the sequence that clears protection on it, said on the
// board; fails when the protection stays.
Status Erase(SessionContext& s);
// Writes the ID words and then the configuration word that the Flash buffer holds up to `end`
// (a byte index), inside the programming session under way, and reads the word back.
Status WriteConfiguration(SessionContext& s, int32_t end);
// Whether byte `index` of the Flash buffer is a configuration-word bit the chip keeps.
uint8_t ConfigByteMask(const SessionContext& s, int32_t index);

}  // namespace tondrel::core::pic
