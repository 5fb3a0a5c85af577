#include "data/SerialField.h"

#include <algorithm>

#include "common/Text.h"

namespace tondrel {

namespace {

std::vector<std::string_view> SplitColons(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t from = 0;
    for (size_t at; (at = text.find(':', from)) != std::string_view::npos; from = at + 1)
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

// Digits of `value` in `base`, most significant first, padded to `width`; empty when more are
// needed than `width`.
std::vector<uint8_t> Digits(uint64_t value, unsigned base, int32_t width) {
    std::vector<uint8_t> digits(static_cast<size_t>(width), 0);
    for (int32_t i = width - 1; i >= 0; --i) {
        digits[static_cast<size_t>(i)] = static_cast<uint8_t>(value % base);
        value /= base;
    }
    if (value != 0) return {};
    return digits;
}

}  // namespace

Result<SerialField> ParseSerialField(std::string_view text) {
    std::vector<std::string_view> parts = SplitColons(text);
    SerialField field;
    bool endianGiven = false;
    const std::string first = Lower(parts.front());
    if (first == "flash" || first == "eeprom") {
        field.Where = first == "flash" ? Memory::Flash : Memory::EEPROM;
        parts.erase(parts.begin());
    }
    if (parts.size() < 2 || parts.size() > 4) return Msg("SerialBadField", std::string(text));
    // Each refusal names the part that is wrong: the format alone does not show which.
    const auto address = ParseNumber(parts[0], NumberStyle::DecimalOrHex, 0, INT32_MAX);
    if (!address) return Msg("SerialFieldAddress", std::string(text), std::string(parts[0]));
    const auto length = ParseNumber(parts[1], NumberStyle::DecimalOrHex, 1, 8);
    if (!length) return Msg("SerialFieldLength", std::string(text), std::string(parts[1]));
    field.Address = static_cast<int32_t>(*address);
    field.Length = static_cast<int32_t>(*length);
    bool formatGiven = false;
    for (size_t i = 2; i < parts.size(); ++i) {
        const std::string word = Lower(parts[i]);
        if (!endianGiven && !formatGiven && (word == "little" || word == "big")) {
            field.BigEndian = word == "big";
            endianGiven = true;
        } else if (!formatGiven &&
                   (word == "bin" || word == "bcd" || word == "dec" || word == "hex")) {
            field.Format = word == "bin"   ? SerialFormat::Binary
                           : word == "bcd" ? SerialFormat::Bcd
                           : word == "dec" ? SerialFormat::Decimal
                                           : SerialFormat::Hex;
            formatGiven = true;
        } else {
            return Msg("SerialFieldWord", std::string(text), std::string(parts[i]));
        }
    }
    const bool textual = field.Format == SerialFormat::Decimal || field.Format == SerialFormat::Hex;
    if (!endianGiven && textual) field.BigEndian = true;
    return field;
}

Result<std::vector<uint8_t>> EncodeSerial(const SerialField& field, uint64_t value) {
    const auto tooLarge = [&] {
        return Status::Error("SerialTooLarge", std::to_string(value), field.Length);
    };
    std::vector<uint8_t> bytes;  // most significant first
    switch (field.Format) {
        case SerialFormat::Binary: {
            if (field.Length < 8 && value >> (8 * field.Length) != 0) return tooLarge();
            for (int32_t i = field.Length - 1; i >= 0; --i)
                bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
            break;
        }
        case SerialFormat::Bcd: {
            const auto digits = Digits(value, 10, 2 * field.Length);
            if (digits.empty()) return tooLarge();
            for (size_t i = 0; i < digits.size(); i += 2)
                bytes.push_back(static_cast<uint8_t>(digits[i] << 4 | digits[i + 1]));
            break;
        }
        case SerialFormat::Decimal:
        case SerialFormat::Hex: {
            const bool hex = field.Format == SerialFormat::Hex;
            const auto digits = Digits(value, hex ? 16 : 10, field.Length);
            if (digits.empty()) return tooLarge();
            for (uint8_t d : digits) bytes.push_back(static_cast<uint8_t>("0123456789ABCDEF"[d]));
            break;
        }
    }
    if (!field.BigEndian) std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

}  // namespace tondrel
