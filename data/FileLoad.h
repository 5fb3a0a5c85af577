#pragma once
// Loading Intel HEX, decimal-list (idf) and raw binary files into the Flash and EEPROM buffers.
// Nothing here writes a text: a load returns what the board reports, or why it failed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Memory.h"
#include "common/Status.h"
#include "data/Buffers.h"

namespace tondrel {

enum class FileKind { IntelHex, Idf, Binary };

// Chooses the reader from the extension of the file name (from its last '.', any case):
// ".hex" (and ".eep" for the EEPROM) is Intel HEX, ".bin" raw binary, anything else idf.
FileKind FileKindOf(std::string_view path, Memory side);

// Applies the HEX lines of one load to one buffer. Holds the extended address base, which
// starts at 0 for every load.
class HexLineParser {
  public:
    HexLineParser(Buffers& buffers, Memory side) : Bufs(buffers), Side(side) {}

    // Fine when the line is accepted; a refusal names the line by lineNumber (counted from 1)
    // as its last argument. Never reads past the line.
    Status ParseHexLine(std::string_view line, int64_t lineNumber);

    int64_t HexBase = 0;
    // A PIC Flash file carried data-EEPROM records. They are gathered apart and replace the
    // EEPROM buffer only through CommitEEPROMImage, once the whole file has loaded.
    bool EEPROMTouched = false;
    void CommitEEPROMImage();

  private:
    bool Fits(int64_t start, int count) const;
    Status CapacityError(Memory side, int64_t lineNumber) const;
    Status ParseIntoEEPROMImage(std::string_view line, int64_t lineNumber, int64_t start, int count,
                                int type, unsigned headerSum);

    Buffers& Bufs;
    Memory Side;
    std::vector<uint8_t> EEPROMImage;
    int32_t EEPROMImageEnd = 0;
};

// What a load that succeeded has to report.
struct LoadReport {
    std::string Path;  // as given
    int64_t Size = 0;  // bytes up to the data end, as "FileSize" shows it
    // A PIC Flash file's data-EEPROM bytes, which replaced the EEPROM buffer's content.
    std::optional<int64_t> EEPROMFromFlash;
    std::string OpenTime;  // LocalTimeText() when the load finished
};

// Blanks the side's buffer and loads the whole file, the reader chosen by FileKindOf. On
// failure the buffer holds what was applied before the failing line; a file that cannot be
// opened leaves it untouched.
Result<LoadReport> LoadFile(Buffers& buffers, Memory side, const std::string& path);

// Local date and time as the report lines show it, "2026-12-08 03:17:47".
std::string LocalTimeText();

}  // namespace tondrel
