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
    flashDefined_.clear();
}

void Buffers::BlankFillEEPROM() {
    EEPROMBuffer = BlankEEPROMImage();
    eepromDefined_.clear();
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

void Buffers::TakeFile(Memory side, std::vector<uint8_t> image, std::vector<bool> defined) {
    defined.resize(image.size(), false);
    (side == Memory::Flash ? FlashBuffer : EEPROMBuffer) = std::move(image);
    DefinedOf(side) = std::move(defined);
}

void Buffers::MarkDefined(Memory side, size_t first, size_t count) {
    std::vector<bool>& d = DefinedOf(side);
    for (size_t a = first; a < first + count && a < d.size(); ++a) d[a] = true;
}

void Buffers::ForgetDefined(Memory side, size_t first, size_t count) {
    std::vector<bool>& d = DefinedOf(side);
    for (size_t a = first; a < first + count && a < d.size(); ++a) d[a] = false;
}

bool Buffers::Defined(Memory side, size_t address) const {
    const std::vector<bool>& d = DefinedOf(side);
    return d.empty() || (address < d.size() && d[address]);
}

bool Buffers::AnyDefined(Memory side, size_t first, size_t count) const {
    for (size_t a = first; a < first + count; ++a)
        if (Defined(side, a)) return true;
    return false;
}

void Buffers::DefineAll(Memory side) {
    DefinedOf(side).clear();
}

}  // namespace tondrel
