#pragma once
// Reading an avr-gcc ELF file into a load: the sections a memory holds, at the addresses they
// are loaded to, and the fuse and lock bytes it carries.
#include <optional>
#include <string_view>

#include "common/Memory.h"
#include "common/Status.h"
#include "data/FileLoad.h"

namespace tondrel {

// avr-gcc's address spaces for what is not program memory, as its linker script places them.
inline constexpr uint64_t kElfDataStart = 0x800000;
inline constexpr uint64_t kElfEEPROMStart = 0x810000;
inline constexpr uint64_t kElfFuseStart = 0x820000;
inline constexpr uint64_t kElfLockStart = 0x830000;
inline constexpr uint64_t kElfSignatureStart = 0x840000;

// Places the sections of `side` (program memory below 0x800000, or the EEPROM's) into the
// parser's image and raises its data end; `config` gets the .fuse/.lock bytes when there are
// any. Nothing outside the parser changes.
Status ReadElf(std::string_view file, const CurrentChip& chip, Memory side, HexLineParser& parser,
               std::optional<FileConfigBytes>& config);

}  // namespace tondrel
