#pragma once
// The Flash and EEPROM images of the target chip, sized and blanked from the current chip.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ChipRecord.h"
#include "common/Memory.h"

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

    // ---- the addresses a file defined ----
    // What every loader ends with: `image` becomes the side's buffer, and `defined` (one flag
    // per byte of it) says which addresses the file gave a value, a 0xFF it wrote included.
    // The others hold the blank the loader left and need not be written after an erase.
    void TakeFile(Memory side, std::vector<uint8_t> image, std::vector<bool> defined);
    // Bytes the user wrote on purpose (the byte editor), from `first` on.
    void MarkDefined(Memory side, size_t first, size_t count);
    // Back to not defined (a serial number taken out of the buffer again).
    void ForgetDefined(Memory side, size_t first, size_t count);
    // Whether the byte at `address` counts for writing and verifying. Every byte does unless
    // the buffer came from a file: a blank fill, a read from the chip or an edit over them
    // leaves nothing undefined.
    bool Defined(Memory side, size_t address) const;
    // Whether any byte from `first` on, `count` of them, is defined.
    bool AnyDefined(Memory side, size_t first, size_t count) const;
    // Every byte counts again (the buffer was filled from something other than a file).
    void DefineAll(Memory side);

  private:
    // One flag per buffer byte; empty while every byte counts.
    std::vector<bool> flashDefined_;
    std::vector<bool> eepromDefined_;
    std::vector<bool>& DefinedOf(Memory side) {
        return side == Memory::Flash ? flashDefined_ : eepromDefined_;
    }
    const std::vector<bool>& DefinedOf(Memory side) const {
        return side == Memory::Flash ? flashDefined_ : eepromDefined_;
    }
};

}  // namespace tondrel
