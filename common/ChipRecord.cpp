#include "common/ChipRecord.h"

#include "common/AvrPartData.h"

namespace tondrel {

void CurrentChip::Assign(const ChipRecord& r) {
    CurrentChipId = r.ChipId;
    CurrentChipName = r.Name;
    CurrentMethodCode = r.MethodCode;
    Signature = r.Signature;
    CurrentPageSize = r.PageSize;
    FlashSize = r.FlashSize;
    EEPROMSize = r.EEPROMSize;
    EraseDelayMs = r.EraseDelayMs;
    FlashWriteDelayUs = r.FlashWriteDelayUs;
    EepromWriteDelayUs = r.EepromWriteDelayUs;
    FlashReadback = r.FlashReadback;
    EepromReadback = r.EepromReadback;
    // What the catalogue row does not hold comes from the chip's part data.
    const AvrPartData* part = r.MethodCode == Method::Avr ? FindAvrPart(r.Name) : nullptr;
    EchoesEnable = part == nullptr || part->EchoesEnable;
    EEPROMPageSize = part == nullptr ? 0 : part->EepromPageSize;
}

}  // namespace tondrel
