#pragma once
// Public part data of every classic serial-ISP AVR: what avrdude's part descriptions and
// avr-libc's io headers say about each chip. The table is generated (scripts/gen-avr-parts.py)
// and feeds the simulated chips and the generic configuration view.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tondrel {

enum AvrFusePresence : uint8_t { kHasLowFuse = 1, kHasHighFuse = 2, kHasExtFuse = 4 };

struct AvrPartData {
    int32_t ChipId;  // catalogue key
    const char* Name;
    std::array<uint8_t, 3> Signature;
    int32_t FlashSize, EepromSize, PageSize;  // bytes; page 0 = byte mode
    uint8_t FuseBytes;                        // AvrFusePresence bits
    uint8_t FuseLow, FuseHigh, FuseExt;       // factory values
    uint8_t LowUsed, HighUsed, ExtUsed;       // bits avr-libc names
    uint8_t LockUsed;                         // LB (0x03), BLB0x (0x0C), BLB1x (0x30)
    uint8_t CalCount;
    // avr-libc bit names by bit number; nullptr = reserved.
    std::array<const char*, 8> LowBits, HighBits, ExtBits;
    uint32_t ChipEraseUs;
    uint32_t FlashWriteMinUs, FlashWriteMaxUs;
    uint32_t EepromWriteMinUs, EepromWriteMaxUs;
    int32_t FlashReadback, EepromReadback;  // (first << 8) | second; -1 = none
    uint32_t FactoryClockHz;                // 0 = external clock or not known
    bool StandardCommands;  // lock/fuse bytes read and written by 0x58/0x50/0xAC 0xE0.. 0xA4
    bool LockInByte2;       // lock write 0xAC 1111 11ii 0x00 0x00 instead of 0xAC 0xE0 0x00 v
};

const std::vector<AvrPartData>& AllAvrParts();
// Case-insensitive; nullptr when the part data has no such chip.
const AvrPartData* FindAvrPart(const std::string& name);
const AvrPartData* FindAvrPart(int32_t chipId);

}  // namespace tondrel
