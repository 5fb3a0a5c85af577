#pragma once
// Saving a buffer: the decimal list (idf), Intel HEX and raw binary. Every save goes through a
// temporary file and a rename, so a failed save never leaves a half file where a good one stood.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Status.h"
#include "data/Buffers.h"

namespace tondrel {

// The blank value of a buffer byte by its address; Intel HEX leaves blank lines out.
using BlankAt = std::function<uint8_t(size_t)>;

// One decimal value per byte, each line ended by CR LF, the whole buffer.
std::string IdfText(const std::vector<uint8_t>& buffer);
// 16-byte data records on 16-byte boundaries, a type 04 record before the first record of every
// 64 KiB segment above the first, records whose bytes are all blank left out, the EOF record.
// Lines end with CR LF.
std::string IntelHexText(const std::vector<uint8_t>& buffer, const BlankAt& blankAt);

// Writes content to path; a failure ("FileCannotWrite": the path, the system's reason) leaves
// any existing file at path as it was. "-" is standard output; a symbolic link is followed and
// its target replaced; a device, FIFO or socket is written in place, never replaced.
std::string SaveTarget(const std::string& path);  // path with its symbolic links followed
Status WriteFileReplacing(const std::string& path, std::string_view content);

// The buffer in each format through WriteFileReplacing; saying where it went is the caller's.
Status SaveIdf(const std::vector<uint8_t>& buffer, const std::string& path);
Status SaveIntelHex(const std::vector<uint8_t>& buffer, const BlankAt& blankAt,
                    const std::string& path);
Status SaveBinary(const std::vector<uint8_t>& buffer, const std::string& path);

// The buffer's own blank values: PIC words 0x3FFF where the chip blanks them, else 0xFF.
BlankAt FlashBlankOf(const Buffers& buffers);
BlankAt EEPROMBlank();

}  // namespace tondrel
