#pragma once
// Loading Intel HEX, Motorola S-record, ELF, decimal-list (idf) and raw binary files into the
// Flash and EEPROM buffers.
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

enum class FileKind { IntelHex, Idf, Binary, SRecord, Elf };

// Chooses the reader from the extension of the file name (from its last '.', any case):
// ".hex" (and ".eep" for the EEPROM) is Intel HEX, ".bin" raw binary, ".elf" ELF, ".srec",
// ".s19", ".s28", ".s37" and ".mot" S-records, anything else idf.
FileKind FileKindOf(std::string_view path, Memory side);
// The kind the first bytes of a file prove, where they leave no doubt: the ELF magic, or a first
// line that is an S-record (a raw binary file may start with anything, so not over ".bin").
std::optional<FileKind> ContentKindOf(std::string_view head, FileKind byExtension);
// The reader's name for the board: "Intel HEX", "Motorola S-record", "ELF", ...
const char* FileKindName(FileKind kind);

// The configuration bytes an AVR ELF file carries (avr-gcc's FUSES and LOCKBITS), as the file
// has them: written only when asked, after the same checks as any configuration write.
struct FileConfigBytes {
    std::vector<uint8_t> Fuses;  // the .fuse section: low, high, extended as the chip has them
    std::optional<uint8_t> Lock;
    std::string Device;  // the chip the file was built for (its device note); "" when not said
    std::string Path;    // the file they came from
    bool operator==(const FileConfigBytes&) const = default;
};

// Checks the HEX lines of one load and builds the image they describe, apart from the buffer:
// a file that fails anywhere leaves the buffer as it was. Holds the extended address base,
// which starts at 0 for every load.
class HexLineParser {
  public:
    HexLineParser(const Buffers& buffers, Memory side);

    // Fine when the line is accepted; a refusal names the line by lineNumber (counted from 1)
    // as its last argument. Never reads past the line.
    Status ParseHexLine(std::string_view line, int64_t lineNumber);
    // An S-record line (S0 header, S1/S2/S3 data, S5/S6 count, S7/S8/S9 end), as strict.
    Status ParseSRecordLine(std::string_view line, int64_t lineNumber);
    // Data at `start` from any reader: the capacity and the data end checked and raised, the
    // bytes stored. A refusal names lineNumber as ParseHexLine does.
    Status StoreAt(const std::vector<uint8_t>& data, int64_t start, int64_t lineNumber);
    // The same for data that does not come from a line: the address of an overlap, if any.
    std::optional<size_t> Place(const std::vector<uint8_t>& data, size_t start);

    int64_t HexBase = 0;
    int64_t DataRecords = 0;  // S1/S2/S3 records so far, which an S5/S6 record counts
    bool EndSeen = false;     // the end-of-file record came: only blank lines may follow
    // The side's buffer as the file fills it (blank where no record wrote) and its data end.
    std::vector<uint8_t> Image;
    int32_t DataEnd = 0;
    // A PIC Flash file carried data-EEPROM records; they fill EEPROMImage, which replaces the
    // EEPROM buffer only once the whole file has loaded.
    bool EEPROMTouched = false;
    std::vector<uint8_t> EEPROMImage;
    int32_t EEPROMImageEnd = 0;
    // The bytes of Image (EEPROMImage) some record of this file wrote.
    std::vector<bool> Loaded;
    std::vector<bool> EEPROMLoaded;

  private:
    bool Fits(int64_t start, int count) const;
    Status CapacityError(Memory side, int64_t lineNumber) const;
    Status StoreData(const std::vector<uint8_t>& data, int64_t start, int64_t lineNumber);
    Status StoreEEPROMData(const std::vector<uint8_t>& data, int64_t start, int64_t lineNumber);

    const Buffers& Bufs;
    Memory Side;
};

// What a load that succeeded has to report.
struct LoadReport {
    std::string Path;  // as given
    int64_t Size = 0;  // bytes up to the data end, as "FileSize" shows it
    // A PIC Flash file's data-EEPROM bytes, which replaced the EEPROM buffer's content.
    std::optional<int64_t> EEPROMFromFlash;
    FileKind Kind = FileKind::Idf;
    bool KindByContent = false;  // the content chose another reader than the extension would
    // An ELF file's fuse and lock bytes, when it has any.
    std::optional<FileConfigBytes> Config;
    std::string OpenTime;  // LocalTimeText() when the load finished
};

// Loads the whole file, the reader chosen by FileKindOf, and only then replaces the side's
// buffer (blank where the file has no data) and its data end. A file that fails anywhere leaves
// the buffers as they were.
Result<LoadReport> LoadFile(Buffers& buffers, Memory side, const std::string& path);

// The line a failed load names (counted from 1), for the refusals that come from one line of
// the file; nothing for the others (a file that cannot be opened, a binary file too large).
std::optional<int64_t> FailedLine(const Message& loadError);

// Local date and time as the report lines show it, "2026-12-08 03:17:47".
std::string LocalTimeText();

}  // namespace tondrel
