#include "data/Buffers.h"

#include <algorithm>

namespace tondrel {

int32_t FlashCapacityOf(Method method, int32_t flashSize) {
    if (flashSize < 1) return 0;
    return IsPic(method) ? std::max(flashSize, PicConfigAreaEnd) : flashSize;
}

int32_t EEPROMCapacityOf(int32_t eepromSize) {
    return std::max(eepromSize, 0);
}

uint8_t FlashBlankByte(Method method, int32_t flashSize, size_t address) {
    const bool pic = IsPic(method);
    const bool outsideProgram = flashSize < 1 || address >= static_cast<size_t>(flashSize);
    if (Traits(method).BlankWord3FFF || (pic && outsideProgram)) return (address & 1) ? 0x3F : 0xFF;
    return 0xFF;
}

std::vector<uint8_t> Buffers::BlankFlashImage() const {
    const auto cap = static_cast<size_t>(FlashCapacity());
    std::vector<uint8_t> image(cap, 0xFF);
    if (IsPic(Chip.CurrentMethodCode))
        for (size_t i = 0; i < cap; ++i) image[i] = FlashBlank(i);
    return image;
}

std::vector<uint8_t> Buffers::BlankEEPROMImage() const {
    return std::vector<uint8_t>(static_cast<size_t>(EEPROMCapacity()), 0xFF);
}

void Buffers::BlankFillFlash() {
    FlashBuffer = BlankFlashImage();
}

void Buffers::BlankFillEEPROM() {
    EEPROMBuffer = BlankEEPROMImage();
}

bool Buffers::RecreateFlash() {
    if (Chip.FlashSize < 1) return false;
    BlankFillFlash();
    Chip.FlashDataEnd = Chip.FlashSize - 1;
    return true;
}

bool Buffers::RecreateEEPROM() {
    if (Chip.EEPROMSize < 1) return false;
    BlankFillEEPROM();
    Chip.EEPROMDataEnd = Chip.EEPROMSize - 1;
    return true;
}

}  // namespace tondrel
