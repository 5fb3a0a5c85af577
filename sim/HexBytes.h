#pragma once
// Memory images in the chips' state files: two upper-case hexadecimal digits a byte.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tondrel::sim {

std::string HexBytes(const std::vector<uint8_t>& bytes);

// Appends the bytes `text` spells to `out`; false for an odd length, a character that is no
// hexadecimal digit, or more than `limit` bytes in `out` in all (out is then left part filled).
bool AppendHexBytes(std::string_view text, std::vector<uint8_t>& out, size_t limit);

// Exactly `count` bytes from `text` into `out`; false when the text holds any other number.
bool ParseHexBytes(std::string_view text, size_t count, std::vector<uint8_t>& out);

}  // namespace tondrel::sim
