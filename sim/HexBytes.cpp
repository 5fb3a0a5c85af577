#include "sim/HexBytes.h"

#include "common/Text.h"

namespace tondrel::sim {

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string s;
    s.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) s += HexText(b, 2);
    return s;
}

bool AppendHexBytes(std::string_view text, std::vector<uint8_t>& out, size_t limit) {
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0 || out.size() >= limit) return false;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

bool ParseHexBytes(std::string_view text, size_t count, std::vector<uint8_t>& out) {
    out.clear();
    return text.size() == count * 2 && AppendHexBytes(text, out, count);
}

}  // namespace tondrel::sim
