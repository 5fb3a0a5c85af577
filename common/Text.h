#pragma once
// Small text helpers every layer needs: case folding, trimming, and the one number reader of
// the program, so that "0x10", " 7" and "1e3" mean the same thing wherever a number is typed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tondrel {

// ASCII lower case; other bytes (UTF-8 included) are kept as they are.
std::string Lower(std::string_view text);
// Without blanks, tabs and line ends (and other control bytes) at either end.
std::string_view Trim(std::string_view text);

enum class NumberStyle : uint8_t {
    Decimal,       // digits, an optional leading + or -
    Hex,           // hexadecimal digits only, any case ("3FFF")
    DecimalOrHex,  // decimal, or hexadecimal after 0x / 0X ("0x378")
};

// The whole text as one number in [min, max]; nothing when anything else is in it (blanks,
// a second sign, a missing digit, a value out of range). Callers that allow blanks trim first.
std::optional<int64_t> ParseNumber(std::string_view text, NumberStyle style,
                                   int64_t min = INT64_MIN, int64_t max = INT64_MAX);

// Upper-case hexadecimal of value, left-padded with zeros to at least `digits` digits.
std::string HexText(uint64_t value, int digits = 2);
// 0-15 for a hexadecimal digit of either case, -1 for any other character.
int HexDigit(char c);

// Control bytes shown as \r, \n, \t, \xNN, so that a broken file cannot steer the terminal.
std::string EscapeControls(std::string_view text);

}  // namespace tondrel
