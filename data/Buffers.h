#pragma once
// The Flash and EEPROM images of the target chip, sized and blanked from the current chip.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ChipRecord.h"

namespace tondrel {

// PIC HEX files (every assembler and compiler) put the four ID words at byte addresses
// 0x4000-0x4007, the configuration word at 0x400E-0x400F and data EEPROM byte k at 0x4200 + 2k.
inline constexpr int32_t PicConfigAreaStart = 0x4000;
inline constexpr int32_t PicConfigAreaEnd = 0x4010;  // one past the configuration word
inline constexpr int32_t PicEEPROMImageStart = 0x4200;

// Size of the Flash buffer for a chip: FlashSize, except that a PIC buffer always reaches past
// the configuration word so that ID and configuration records of a HEX file have a place.
// 0 when the chip has no Flash.
int32_t FlashCapacityOf(Method method, int32_t flashSize);
int32_t EEPROMCapacityOf(int32_t eepromSize);

// The blank value of Flash byte `address`. PIC words outside program memory are always 0x3FFF
// so that an untouched configuration area is skipped by the write like any blank word; inside
// program memory Tpic chips blank as 0x3FFF and every other method as 0xFF.
uint8_t FlashBlankByte(Method method, int32_t flashSize, size_t address);

class Buffers {
  public:
    explicit Buffers(CurrentChip& chip) : Chip(chip) {}

    CurrentChip& Chip;
    std::vector<uint8_t> FlashBuffer;
    std::vector<uint8_t> EEPROMBuffer;
    // Set by the last Flash load when the file carried PIC data-EEPROM records, which then
    // replaced the EEPROM buffer's content: the EEPROM grid needs a rebuild too.
    bool FlashFileHadEEPROM = false;

    int32_t FlashCapacity() const {
        return FlashCapacityOf(Chip.CurrentMethodCode, Chip.FlashSize);
    }
    int32_t EEPROMCapacity() const { return EEPROMCapacityOf(Chip.EEPROMSize); }
    uint8_t FlashBlank(size_t address) const {
        return FlashBlankByte(Chip.CurrentMethodCode, Chip.FlashSize, address);
    }

    // A buffer of the capacity with every byte at its blank value.
    std::vector<uint8_t> BlankFlashImage() const;
    std::vector<uint8_t> BlankEEPROMImage() const;
    // Sizes the buffer to its capacity and gives every byte its blank value.
    void BlankFillFlash();
    void BlankFillEEPROM();

    // The buffer steps of a chip becoming current. Without Flash (EEPROM) the buffer is left as
    // it is and false is returned: the caller disables that side's commands.
    bool RecreateFlash();
    bool RecreateEEPROM();
};

}  // namespace tondrel
