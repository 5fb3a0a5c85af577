#pragma once
// The named fields of an AVR's configuration bytes: avr-libc's bit names gathered into the
// fields the datasheets table (CKSEL3..0 into CKSEL, BODLEVEL2..0 into BODLEVEL, the lock bits
// into their modes), each value with the datasheet's words where it has a table.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/AvrPartData.h"

namespace tondrel::config {

enum class AvrByte : uint8_t { Low, High, Extended, Lock };

struct FieldValue {
    uint8_t Code = 0;
    std::string Words;
};

struct AvrField {
    std::string Name;
    AvrByte Byte = AvrByte::Low;
    std::vector<int> Bits;             // bit positions, the most significant first
    std::vector<FieldValue> Values;    // the datasheet's table; empty for a plain bit
    uint8_t Code(uint8_t byte) const;  // the field's value in a byte
    uint8_t Apply(uint8_t byte, uint8_t code) const;
    // "0010" for a four-bit field, "1" for a single bit.
    std::string Digits(uint8_t code) const;
    // The table's words for a value; for a plain bit "programmed" / "unprogrammed".
    std::string Meaning(uint8_t code) const;
};

// The datasheet's name of a byte: "low fuse", "high fuse", "extended fuse", "lock byte"; a chip
// with one fuse byte calls it "fuse byte".
std::string AvrByteName(const AvrPartData& part, AvrByte byte);
// Every field of the chip, byte by byte (low, high, extended, lock), each byte's fields from
// its top bit down.
std::vector<AvrField> AvrFieldsOf(const AvrPartData& part);
// The bit name avr-libc gives a fuse byte's bit; nothing for a reserved bit.
std::optional<std::string> AvrBitName(const AvrPartData& part, AvrByte byte, int bit);

}  // namespace tondrel::config
