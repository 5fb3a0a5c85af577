#pragma once
// Public part data of every classic serial-ISP AVR: what avrdude's part descriptions and
// avr-libc's io headers say about each chip, and the datasheets where they say nothing or the
// chip answers in an older format. The table is generated (scripts/gen-avr-parts.py) and is the
// one record of a chip's facts beside its catalogue row: it feeds the current chip record's
// quirks, the simulated chips and the generic configuration view.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tondrel {

enum AvrFusePresence : uint8_t { kHasLowFuse = 1, kHasHighFuse = 2, kHasExtFuse = 4 };

// How the chip reads and writes its configuration bits in serial mode.
enum class AvrConfigStyle : uint8_t {
    LockWriteOnly,   // AT90S1200/2313/4414/8515: 0xAC 1111 1ii1 only, nothing readable
    CombinedStatus,  // AT90S2323/2343/4434/8535, ATtiny22: 0x58 gives LB1 LB2 SPIEN x x x x F
    FuseInByte2,     // AT90S2333/4433, ATmega103: 0xAC 101i iiii writes the fuse byte
    Tiny12,          // ATtiny12/15: one fuse byte by 0xAC 0xA0, lock bits by 0xAC 1111 1ii1
    Modern,          // ATmega/ATtiny/AT90CAN: low/high/extended fuse and lock bytes
};

enum class AvrFuseByte : uint8_t { None, Low, High, Ext };

struct AvrPartData {
    int32_t ChipId;  // catalogue key
    const char* Name;
    std::array<uint8_t, 3> Signature;
    int32_t FlashSize, EepromSize, PageSize;  // bytes; page 0 = byte mode
    uint8_t FuseBytes;                        // AvrFusePresence bits: avr-libc's fuse bytes
    // The configuration as the chip's serial commands show it (Style): factory values, the bits
    // the reads return (avr-libc's named bits on a Modern chip) and the lock bits, where the
    // lock write carries them: LB (0x03), BLB0x (0x0C), BLB1x (0x30) on a Modern chip, bits 2..1
    // of the second byte on the others.
    uint8_t FuseLow, FuseHigh, FuseExt;
    uint8_t LowUsed, HighUsed, ExtUsed;
    uint8_t LockUsed;
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
    // Bits of the low, high and extended fuse byte the write command takes; the others are
    // written as 1.
    uint8_t LowWritable, HighWritable, ExtWritable;
    AvrConfigStyle Style;
    // Bits of the low and high fuse byte the serial interface cannot change (SPIEN).
    uint8_t LowFixed, HighFixed;
    // A CombinedStatus chip whose low-fuse bit 0 (FSTRT/RCEN) 0xAC 0xBE/0xBF writes.
    bool CombinedFuseWritable;
    AvrFuseByte EesaveByte;  // where EESAVE is, if the chip has it
    uint8_t EesaveBit;
    // Programming enable echoes 0x53 in its third byte (every chip but the AT90S1200).
    bool EchoesEnable;
    // Bytes per EEPROM page where the chip takes its EEPROM a page at a time (0xC1 loads,
    // 0xC2 writes); 0: byte by byte.
    int32_t EepromPageSize;
};

const std::vector<AvrPartData>& AllAvrParts();
// Case-insensitive; nullptr when the part data has no such chip.
const AvrPartData* FindAvrPart(const std::string& name);
const AvrPartData* FindAvrPart(int32_t chipId);

}  // namespace tondrel
