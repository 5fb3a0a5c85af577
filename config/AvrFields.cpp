// The fields people set on an AVR, with the datasheets' value tables: clock source (the clock
// tables of common/AvrClock), brown-out level and boot size ("Fuse Bits", "Boot Loader
// Parameters"), and the lock modes ("Lock Bit Byte", "Lock Bit Protection Modes").
#include "config/AvrFields.h"

#include <cctype>
#include <map>
#include <string_view>

#include "common/AvrClock.h"

namespace tondrel::config {
namespace {

const std::array<const char*, 8>* BitsOf(const AvrPartData& p, AvrByte b) {
    switch (b) {
        case AvrByte::Low:
            return &p.LowBits;
        case AvrByte::High:
            return &p.HighBits;
        case AvrByte::Extended:
            return &p.ExtBits;
        case AvrByte::Lock:
            break;
    }
    return nullptr;
}

bool Present(const AvrPartData& p, AvrByte b) {
    switch (b) {
        case AvrByte::Low:
            return (p.FuseBytes & kHasLowFuse) != 0;
        case AvrByte::High:
            return (p.FuseBytes & kHasHighFuse) != 0;
        case AvrByte::Extended:
            return (p.FuseBytes & kHasExtFuse) != 0;
        case AvrByte::Lock:
            return p.LockUsed != 0;
    }
    return false;
}

// "BODLEVEL2" -> {"BODLEVEL", 2}; a name without a trailing digit -> {name, -1}.
std::pair<std::string, int> Split(std::string_view name) {
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name.back())))
        return {std::string(name.substr(0, name.size() - 1)), name.back() - '0'};
    return {std::string(name), -1};
}

std::vector<FieldValue> Table(std::initializer_list<std::pair<uint8_t, const char*>> rows) {
    std::vector<FieldValue> out;
    for (const auto& [code, words] : rows) out.push_back({code, words});
    return out;
}

// BODLEVEL2..0 (BODLEVEL1..0 on the ATtiny13): the table of the ATmega48/88/168/328,
// 164/324/644/1284, 640..2561 and the ATtiny24/25/261/2313/48 families.
std::vector<FieldValue> BodLevels(const AvrPartData& p, int width) {
    const AvrClockScheme s = ClockSchemeOf(p);
    const bool known = s == AvrClockScheme::Modern || s == AvrClockScheme::Tiny24 ||
                       s == AvrClockScheme::Tiny25 || s == AvrClockScheme::Tiny261 ||
                       s == AvrClockScheme::Tiny2313 || s == AvrClockScheme::Tiny48 ||
                       s == AvrClockScheme::Tiny13;
    if (!known) return {};
    if (width == 2)
        return Table(
            {{0, "BOD at 4.3 V"}, {1, "BOD at 2.7 V"}, {2, "BOD at 1.8 V"}, {3, "BOD disabled"}});
    return Table({{0, "reserved"},
                  {1, "reserved"},
                  {2, "reserved"},
                  {3, "reserved"},
                  {4, "BOD at 4.3 V"},
                  {5, "BOD at 2.7 V"},
                  {6, "BOD at 1.8 V"},
                  {7, "BOD disabled"}});
}

// BOOTSZ1..0: the smallest boot section is 128 words up to 16 KiB of Flash, 256 at 32 KiB,
// 512 from 64 KiB up; each step down doubles it.
std::vector<FieldValue> BootSizes(const AvrPartData& p) {
    const int base = p.FlashSize <= 16 * 1024 ? 128 : p.FlashSize <= 32 * 1024 ? 256 : 512;
    std::vector<FieldValue> out;
    for (int code = 0; code < 4; ++code)
        out.push_back({static_cast<uint8_t>(code),
                       "boot section " + std::to_string(base << (3 - code)) + " words"});
    return out;
}

std::vector<FieldValue> ClockTable(const AvrPartData& p) {
    std::vector<FieldValue> out;
    for (const auto& [code, source] : CkselTable(p)) out.push_back({code, source.Words});
    return out;
}

std::vector<FieldValue> TableFor(const AvrPartData& p, const std::string& name, int width) {
    if (name == "CKSEL") return ClockTable(p);
    if (name == "BODLEVEL" && width >= 2) return BodLevels(p, width);
    if (name == "BOOTSZ" && width == 2) return BootSizes(p);
    if (name == "LB")
        return Table({{0, "programming and verification disabled"},
                      {1, "reserved"},
                      {2, "further programming disabled"},
                      {3, "no memory lock"}});
    if (name == "BLB0" || name == "BLB1") {
        const char* section = name == "BLB0" ? "application section" : "boot loader section";
        auto row = [section](const char* what) { return std::string(what) + " " + section; };
        return {{0, row("SPM may not write, LPM may not read the")},
                {1, row("LPM may not read the")},
                {2, row("SPM may not write the")},
                {3, row("no SPM or LPM restriction on the")}};
    }
    return {};
}

void FieldsOfByte(const AvrPartData& p, AvrByte byte, std::vector<AvrField>& out) {
    if (!Present(p, byte)) return;
    // Bit names by position; the lock byte's come from the lock bits the chip has.
    std::array<std::string, 8> names;
    if (byte == AvrByte::Lock) {
        static const char* const kLock[6] = {"LB1", "LB2", "BLB01", "BLB02", "BLB11", "BLB12"};
        if (p.Style != AvrConfigStyle::Modern) return;
        for (int b = 0; b < 6; ++b)
            if (p.LockUsed & (1u << b)) names[static_cast<size_t>(b)] = kLock[b];
    } else {
        for (int b = 0; b < 8; ++b)
            if (auto n = AvrBitName(p, byte, b)) names[static_cast<size_t>(b)] = *n;
    }
    // Combined SUT_CKSEL / CKSEL_SUT bits: bits 3..0 are CKSEL (1..0 on the ATtiny828), the
    // rest SUT, as the datasheets table them.
    const int ckselWidth = ClockSchemeOf(p) == AvrClockScheme::Tiny828 ? 2 : 4;
    std::map<std::string, std::map<int, int>> grouped;  // field -> digit -> bit
    std::vector<std::pair<int, std::string>> order;     // first bit seen from the top
    // A trailing digit numbers a field's bits only where the byte has several of them
    // (BODLEVEL2..0); CKDIV8 is a name.
    std::map<std::string, int> bases;
    for (const std::string& n : names)
        if (!n.empty()) ++bases[Split(n).first];
    for (int b = 7; b >= 0; --b) {
        const std::string& n = names[static_cast<size_t>(b)];
        if (n.empty()) continue;
        auto [base, digit] = Split(n);
        if (bases[base] < 2 && base != "SUT_CKSEL" && base != "CKSEL_SUT" && base != "CKSEL") {
            base = n;
            digit = -1;
        }
        if (base == "SUT_CKSEL" || base == "CKSEL_SUT") {
            if (digit < ckselWidth) {
                base = "CKSEL";
            } else {
                base = "SUT";
                digit -= ckselWidth;
            }
        }
        if (digit < 0) {
            grouped[n][0] = b;
        } else {
            grouped[base][digit] = b;
        }
        const std::string key = digit < 0 ? n : base;
        bool seen = false;
        for (const auto& o : order) seen = seen || o.second == key;
        if (!seen) order.emplace_back(b, key);
    }
    for (const auto& [top, key] : order) {
        AvrField f;
        f.Name = key;
        f.Byte = byte;
        const auto& digits = grouped[key];
        for (auto it = digits.rbegin(); it != digits.rend(); ++it) f.Bits.push_back(it->second);
        if (f.Bits.size() > 1 || key == "CKSEL")
            f.Values = TableFor(p, key, static_cast<int>(f.Bits.size()));
        out.push_back(std::move(f));
    }
}

}  // namespace

uint8_t AvrField::Code(uint8_t byte) const {
    uint8_t code = 0;
    for (int b : Bits) code = static_cast<uint8_t>((code << 1) | ((byte >> b) & 1u));
    return code;
}

uint8_t AvrField::Apply(uint8_t byte, uint8_t code) const {
    for (size_t i = 0; i < Bits.size(); ++i) {
        const bool one = ((code >> (Bits.size() - 1 - i)) & 1u) != 0;
        const uint8_t mask = static_cast<uint8_t>(1u << Bits[i]);
        byte = static_cast<uint8_t>(one ? (byte | mask) : (byte & ~mask));
    }
    return byte;
}

std::string AvrField::Digits(uint8_t code) const {
    std::string out;
    for (size_t i = 0; i < Bits.size(); ++i)
        out += ((code >> (Bits.size() - 1 - i)) & 1u) ? '1' : '0';
    return out;
}

std::string AvrField::Meaning(uint8_t code) const {
    for (const FieldValue& v : Values)
        if (v.Code == code) return v.Words;
    if (Bits.size() == 1) return code ? "unprogrammed" : "programmed";
    return {};
}

std::optional<std::string> AvrBitName(const AvrPartData& p, AvrByte byte, int bit) {
    const auto* bits = BitsOf(p, byte);
    if (!bits || bit < 0 || bit > 7) return std::nullopt;
    const char* n = (*bits)[static_cast<size_t>(bit)];
    // avr-libc names a few reserved bits "RESERVED"; they are no field.
    if (n == nullptr || std::string_view(n) == "RESERVED") return std::nullopt;
    return std::string(n);
}

std::string AvrByteName(const AvrPartData& p, AvrByte byte) {
    static const char* const kNames[] = {"low fuse", "high fuse", "extended fuse", "lock byte"};
    if (byte == AvrByte::Low && (p.FuseBytes & (kHasHighFuse | kHasExtFuse)) == 0)
        return "fuse byte";
    return kNames[static_cast<size_t>(byte)];
}

std::vector<AvrField> AvrFieldsOf(const AvrPartData& p) {
    std::vector<AvrField> out;
    if (p.Style != AvrConfigStyle::Modern && p.Style != AvrConfigStyle::Tiny12) return out;
    // The lock bits pair up by name as the fuses do: LB2..1, BLB02..01, BLB12..11.
    for (AvrByte b : {AvrByte::Low, AvrByte::High, AvrByte::Extended, AvrByte::Lock})
        FieldsOfByte(p, b, out);
    return out;
}

}  // namespace tondrel::config
