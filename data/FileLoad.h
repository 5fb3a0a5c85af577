#pragma once
// Loading Intel HEX, decimal-list (idf) and raw binary files into the Flash and EEPROM buffers.
// Every report goes to the message board as one line per call of the sink.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/Memory.h"
#include "common/Messages.h"
#include "data/Buffers.h"

namespace tondrel {

using BoardSink = std::function<void(const std::string&)>;

enum class FileKind { IntelHex, Idf, Binary };

// Chooses the reader from the extension of the file name (from its last '.', any case):
// ".hex" (and ".eep" for the EEPROM) is Intel HEX, ".bin" raw binary, anything else idf.
FileKind FileKindOf(std::string_view path, Memory side);

// Applies the HEX lines of one load to one buffer. Holds the extended address base, which
// starts at 0 for every load.
class HexLineParser {
  public:
    HexLineParser(Buffers& buffers, Memory side, Language lang)
        : Bufs(buffers), Side(side), Lang(lang) {}

    // Empty when the line is accepted, else the message to show. Never reads past the line.
    std::string ParseHexLine(std::string_view line);

    int64_t HexBase = 0;
    // A PIC Flash file carried data-EEPROM records. They are gathered apart and replace the
    // EEPROM buffer only through CommitEEPROMImage, once the whole file has loaded.
    bool EEPROMTouched = false;
    void CommitEEPROMImage();

  private:
    bool Fits(int64_t start, int count) const;
    std::string NotHexLine() const;
    std::string CapacityError(Memory side) const;
    std::string ParseIntoEEPROMImage(std::string_view line, int64_t start, int count, int type,
                                     unsigned headerSum);

    Buffers& Bufs;
    Memory Side;
    Language Lang;
    std::vector<uint8_t> EEPROMImage;
    int32_t EEPROMImageEnd = 0;
};

// Blank the buffer and load the whole file; true on success. On failure the reason is on the
// board and the buffer holds what was applied before the failing line.
bool LoadFlashFile(Buffers& buffers, const std::string& path, Language lang,
                   const BoardSink& board);
bool LoadEEPROMFile(Buffers& buffers, const std::string& path, Language lang,
                    const BoardSink& board);
// The same as the two above with the reader forced to raw binary whatever the extension.
bool LoadBinary(Buffers& buffers, Memory side, const std::string& path, Language lang,
                const BoardSink& board);

// Local date and time as the report lines show it, "2026-12-08 03:17:47".
std::string LocalTimeText();

}  // namespace tondrel
