#include "ftdi/FtdiNames.h"

#include <array>
#include <optional>
#include <sstream>
#include <vector>

#include "common/Text.h"

namespace tondrel::ftdi {

namespace {

std::vector<std::string> Split(const std::string& text, char by) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, by)) parts.push_back(part);
    if (!text.empty() && text.back() == by) parts.emplace_back();
    return parts;
}

std::string Hex4(int v) {
    return Lower(HexText(static_cast<uint32_t>(v), 4));
}

}  // namespace

std::string DeviceChoice::IdsText() const {
    if (Vendor == 0) return kKnownIds;
    std::string ids = Hex4(Vendor) + ":" + Hex4(Product);
    if (!Serial.empty()) ids += " (serial " + Serial + ")";
    return ids;
}

Result<DeviceChoice> ParseDeviceName(const std::string& port) {
    if (port == "ftdi") return DeviceChoice{};
    const auto bad = [&port] { return Msg("PortFtdiBadName", port); };
    if (port.rfind("ftdi:", 0) != 0) return bad();
    const std::vector<std::string> parts = Split(port.substr(5), ':');
    if (parts.size() < 2 || parts.size() > 3) return bad();
    DeviceChoice choice;
    const auto id = [](const std::string& text) -> std::optional<int64_t> {
        if (text.empty() || text.size() > 4) return std::nullopt;
        return ParseNumber("0x" + text, NumberStyle::DecimalOrHex, 1, 0xFFFF);
    };
    const auto vendor = id(parts[0]);
    const auto product = id(parts[1]);
    if (!vendor || !product) return bad();
    choice.Vendor = static_cast<int>(*vendor);
    choice.Product = static_cast<int>(*product);
    if (parts.size() == 3) {
        if (parts[2].empty()) return bad();
        choice.Serial = parts[2];
    }
    return choice;
}

uint8_t PinMap::Outputs() const {
    uint8_t mask = static_cast<uint8_t>((1u << Reset) | (1u << Sck) | (1u << Mosi));
    if (Buffer >= 0) mask = static_cast<uint8_t>(mask | (1u << Buffer));
    return mask;
}

Result<PinMap> ParsePinMap(const std::string& text) {
    PinMap map;
    if (text.empty()) return map;
    const auto bad = [&text] { return Msg("PortFtdiBadPins", text); };
    for (const std::string& item : Split(text, ',')) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos) return bad();
        const std::string name = Lower(Trim(item.substr(0, eq)));
        std::string value(Trim(item.substr(eq + 1)));
        const bool inverted = !value.empty() && value.front() == '~';
        if (inverted) value.erase(0, 1);
        const auto pin = ParseNumber(value, NumberStyle::Decimal, 0, 7);
        if (!pin) return bad();
        const auto n = static_cast<uint8_t>(*pin);
        if (name == "buff") {
            map.Buffer = n;
            map.BufferActiveLow = inverted;
            continue;
        }
        if (inverted) return bad();  // only the buffer enable has a level to choose
        if (name == "reset")
            map.Reset = n;
        else if (name == "sck")
            map.Sck = n;
        else if (name == "mosi")
            map.Mosi = n;
        else if (name == "miso")
            map.Miso = n;
        else
            return bad();
    }
    std::array<int, 8> uses{};
    for (int pin : {int{map.Reset}, int{map.Sck}, int{map.Mosi}, int{map.Miso}, map.Buffer})
        if (pin >= 0 && ++uses[static_cast<size_t>(pin)] > 1) return bad();
    return map;
}

}  // namespace tondrel::ftdi
