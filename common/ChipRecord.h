#pragma once
// The current chip record and the two data ends: plain process state owned by whoever owns the
// session, read by the engines (page size, data end, chip id) and by the buffers.
#include <cstdint>
#include <string>

namespace tondrel {

// One row of the chip catalogue.
struct ChipRecord {
    int32_t ChipId = 0;
    int32_t MethodCode = 0;
    std::string Name;
    std::string Signature;
    int32_t FlashSize = 0;   // bytes; 0 or less = no Flash
    int32_t EEPROMSize = 0;  // bytes; 0 = no EEPROM
    int32_t PageSize = 0;    // AVR Flash page in bytes; 0 = byte mode
};

struct CurrentChip {
    int32_t CurrentChipId = 0;
    std::string CurrentChipName;
    int32_t CurrentMethodCode = 0;
    int32_t CurrentPageSize = 0;
    int32_t FlashSize = 0;
    int32_t EEPROMSize = 0;
    // Highest buffer address holding data; the Flash write sets FlashDataEnd before its first
    // byte so that the AVR engine knows where the last page of the run ends.
    int32_t FlashDataEnd = 0;
    int32_t EEPROMDataEnd = 0;

    void Assign(const ChipRecord& r) {
        CurrentChipId = r.ChipId;
        CurrentChipName = r.Name;
        CurrentMethodCode = r.MethodCode;
        CurrentPageSize = r.PageSize;
        FlashSize = r.FlashSize;
        EEPROMSize = r.EEPROMSize;
    }
};

}  // namespace tondrel
