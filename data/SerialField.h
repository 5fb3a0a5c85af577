#pragma once
// A serial number field: where in a chip's memory each chip's own number goes, and how it is
// written there. "eeprom:0x10:4:big:bcd" or just "0x3FF0:2".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Memory.h"
#include "common/Status.h"

namespace tondrel {

enum class SerialFormat : uint8_t {
    Binary,   // the number as an unsigned integer of Length bytes
    Bcd,      // two decimal digits a byte
    Decimal,  // ASCII decimal digits, zero-padded to Length
    Hex,      // ASCII upper-case hexadecimal digits, zero-padded to Length
};

struct SerialField {
    Memory Where = Memory::Flash;
    int32_t Address = 0;
    int32_t Length = 0;  // bytes, 1..8
    // Binary and BCD default to the least significant byte first (as AVR and 8051 compilers
    // store integers); the text formats default to the order they are read in.
    bool BigEndian = false;
    SerialFormat Format = SerialFormat::Binary;

    bool operator==(const SerialField&) const = default;
};

// One chip's number and its bytes in the field.
struct SerialStamp {
    SerialField Field;
    uint64_t Value = 0;
    std::vector<uint8_t> Bytes;
};

// [flash:|eeprom:]ADDRESS:LENGTH[:little|big][:bin|bcd|dec|hex]; ADDRESS decimal or 0x hex.
Result<SerialField> ParseSerialField(std::string_view text);
// The bytes of `value` in the field, in memory order; "SerialTooLarge" when it does not fit.
Result<std::vector<uint8_t>> EncodeSerial(const SerialField& field, uint64_t value);

}  // namespace tondrel
