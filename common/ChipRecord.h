#pragma once
// The current chip record and the two data ends: plain process state owned by whoever owns the
// session, read by the engines (page size, data end, timing, quirks) and by the buffers.
#include <cstdint>
#include <string>

#include "common/Method.h"

namespace tondrel {

// One row of the chip catalogue.
struct ChipRecord {
    int32_t ChipId = 0;
    Method MethodCode = Method::None;
    std::string Name;
    std::string Signature;
    int32_t FlashSize = 0;   // bytes; 0 or less = no Flash
    int32_t EEPROMSize = 0;  // bytes; 0 = no EEPROM
    int32_t PageSize = 0;    // AVR Flash page in bytes; 0 = byte mode
    // Timing and busy read-back values from the chip's part data. 0 / -1 = not known: the
    // engines then keep their fixed waits.
    int32_t EraseDelayMs = 0;  // chip erase, worst case
    // One Flash byte or page, worst case; on a PIC the Begin Erase/Programming cycle, which the
    // engine waits out after each word.
    int32_t FlashWriteDelayUs = 0;
    int32_t EepromWriteDelayUs = 0;  // one EEPROM byte, worst case
    // The two values a location may read while its write is still in progress, as
    // (first << 8) | second; -1 = the chip shows no such value (a poll can trust any read).
    int32_t FlashReadback = -1;
    int32_t EepromReadback = -1;
    int32_t CalibrationCount = 0;  // AVR calibration bytes
};

struct CurrentChip {
    int32_t CurrentChipId = 0;
    std::string CurrentChipName;
    Method CurrentMethodCode = Method::None;
    std::string Signature;  // as the catalogue holds it: the chip in the socket must answer so
    int32_t CurrentPageSize = 0;
    int32_t FlashSize = 0;
    int32_t EEPROMSize = 0;
    // Highest buffer address holding data; the Flash write sets FlashDataEnd before its first
    // byte so that the AVR engine knows where the last page of the run ends.
    int32_t FlashDataEnd = 0;
    int32_t EEPROMDataEnd = 0;
    int32_t EraseDelayMs = 0;
    int32_t FlashWriteDelayUs = 0;
    int32_t EepromWriteDelayUs = 0;
    int32_t FlashReadback = -1;
    int32_t EepromReadback = -1;
    // Whether the chip answers programming enable with its echo (0x53 in the third byte of an
    // AVR's): its part data says so. A chip the part data does not know is taken to echo.
    bool EchoesEnable = true;
    // Bytes per EEPROM page of a chip that writes its EEPROM a page at a time; 0: byte by byte.
    int32_t EEPROMPageSize = 0;

    void Assign(const ChipRecord& r);
};

}  // namespace tondrel
