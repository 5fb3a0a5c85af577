// Facts of every AVR in the chip catalogue: signatures, sizes and page sizes, the serial
// configuration-bit layout and the factory fuse/lock values. Calibration bytes are typical
// factory values (each chip's own are trimmed at the factory). The older chips are listed by
// hand; timing and factory clock of all, and every other classic ISP AVR, come from the
// generated part data.
#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "common/AvrPartData.h"
#include "sim/AvrChip.h"

namespace tondrel::sim {

namespace {

using S = AvrConfigStyle;
using F = AvrFuseByte;

constexpr std::array<uint8_t, 4> kCal4{0xA4, 0xA8, 0xAB, 0xAF};
constexpr std::array<uint8_t, 4> kCal2{0x5D, 0x62, 0xFF, 0xFF};
constexpr std::array<uint8_t, 4> kCal1{0x9E, 0xFF, 0xFF, 0xFF};
constexpr std::array<uint8_t, 4> kNoCal{0xFF, 0xFF, 0xFF, 0xFF};

std::vector<AvrFacts> MakeTable() {
    // clang-format off
    // Name, signature, Flash, EEPROM, page, style,
    //   fuse low/high/ext, used low/high/ext, lock used, fixed low/high, combined fuse writable,
    //   EESAVE byte/bit, calibration count and bytes, echoes programming enable.
    return {
        {"AT90S1200", {0x1E, 0x90, 0x01}, 1024, 64, 0, S::LockWriteOnly,
         0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, false, F::None, 0, 0, kNoCal, false},
        {"AT90S2313", {0x1E, 0x91, 0x01}, 2048, 128, 0, S::LockWriteOnly,
         0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, false, F::None, 0, 0, kNoCal, true},
        {"AT90S4414", {0x1E, 0x92, 0x01}, 4096, 256, 0, S::LockWriteOnly,
         0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, false, F::None, 0, 0, kNoCal, true},
        {"AT90S8515", {0x1E, 0x93, 0x01}, 8192, 512, 0, S::LockWriteOnly,
         0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, false, F::None, 0, 0, kNoCal, true},
        {"AT90S2323", {0x1E, 0x91, 0x02}, 2048, 128, 0, S::CombinedStatus,
         0xDF, 0xFF, 0xFF, 0x21, 0x00, 0x00, 0x06, 0x20, 0x00, true, F::None, 0, 0, kNoCal, true},
        {"AT90S2343", {0x1E, 0x91, 0x03}, 2048, 128, 0, S::CombinedStatus,
         0xDE, 0xFF, 0xFF, 0x21, 0x00, 0x00, 0x06, 0x20, 0x00, true, F::None, 0, 0, kNoCal, true},
        {"AT90S4434", {0x1E, 0x92, 0x02}, 4096, 256, 0, S::CombinedStatus,
         0xDF, 0xFF, 0xFF, 0x21, 0x00, 0x00, 0x06, 0x20, 0x00, true, F::None, 0, 0, kNoCal, true},
        {"AT90S8535", {0x1E, 0x93, 0x03}, 8192, 512, 0, S::CombinedStatus,
         0xDF, 0xFF, 0xFF, 0x21, 0x00, 0x00, 0x06, 0x20, 0x00, true, F::None, 0, 0, kNoCal, true},
        {"ATtiny22", {0x1E, 0x91, 0x06}, 2048, 128, 0, S::CombinedStatus,
         0xDF, 0xFF, 0xFF, 0x21, 0x00, 0x00, 0x06, 0x20, 0x00, false, F::None, 0, 0, kNoCal, true},
        {"AT90S2333", {0x1E, 0x91, 0x05}, 2048, 128, 0, S::FuseInByte2,
         0xDA, 0xFF, 0xFF, 0x3F, 0x00, 0x00, 0x06, 0x20, 0x00, false, F::None, 0, 0, kNoCal, true},
        {"AT90S4433", {0x1E, 0x92, 0x03}, 4096, 256, 0, S::FuseInByte2,
         0xDA, 0xFF, 0xFF, 0x3F, 0x00, 0x00, 0x06, 0x20, 0x00, false, F::None, 0, 0, kNoCal, true},
        {"ATmega103", {0x1E, 0x97, 0x01}, 131072, 4096, 256, S::FuseInByte2,
         0xDF, 0xFF, 0xFF, 0x2B, 0x00, 0x00, 0x06, 0x20, 0x00, false, F::Low, 3, 0, kNoCal, true},
        {"ATtiny12", {0x1E, 0x90, 0x05}, 1024, 64, 0, S::Tiny12,
         0x52, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x06, 0x20, 0x00, false, F::None, 0, 1, kCal1, true},
        {"ATtiny15", {0x1E, 0x90, 0x06}, 1024, 64, 0, S::Tiny12,
         0x5C, 0xFF, 0xFF, 0xF3, 0x00, 0x00, 0x06, 0x20, 0x00, false, F::None, 0, 1, kCal1, true},
        {"ATmega161", {0x1E, 0x94, 0x01}, 16384, 512, 128, S::Modern,
         0xDA, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x3F, 0x20, 0x00, false, F::None, 0, 0, kNoCal, true},
        {"ATmega163", {0x1E, 0x94, 0x02}, 16384, 512, 128, S::Modern,
         0xD2, 0xFF, 0xFF, 0xEF, 0x07, 0x00, 0x3F, 0x20, 0x00, false, F::None, 0, 1, kCal1, true},
        {"ATmega323", {0x1E, 0x95, 0x01}, 32768, 1024, 128, S::Modern,
         0xF2, 0x9F, 0xFF, 0xCF, 0xEF, 0x00, 0x3F, 0x00, 0x20, false, F::High, 3, 1, kCal1, true},
        {"ATmega16", {0x1E, 0x94, 0x03}, 16384, 512, 128, S::Modern,
         0xE1, 0x99, 0xFF, 0xFF, 0xFF, 0x00, 0x3F, 0x00, 0x20, false, F::High, 3, 4, kCal4, true},
        {"ATmega32", {0x1E, 0x95, 0x02}, 32768, 1024, 128, S::Modern,
         0xE1, 0x99, 0xFF, 0xFF, 0xFF, 0x00, 0x3F, 0x00, 0x20, false, F::High, 3, 4, kCal4, true},
        {"ATmega8515", {0x1E, 0x93, 0x06}, 8192, 512, 64, S::Modern,
         0xE1, 0xD9, 0xFF, 0xFF, 0xFF, 0x00, 0x3F, 0x00, 0x20, false, F::High, 3, 4, kCal4, true},
        {"ATmega8535", {0x1E, 0x93, 0x08}, 8192, 512, 64, S::Modern,
         0xE1, 0xD9, 0xFF, 0xFF, 0xFF, 0x00, 0x3F, 0x00, 0x20, false, F::High, 3, 4, kCal4, true},
        {"ATmega8", {0x1E, 0x93, 0x07}, 8192, 512, 64, S::Modern,
         0xE1, 0xD9, 0xFF, 0xFF, 0xFF, 0x00, 0x3F, 0x00, 0x20, false, F::High, 3, 4, kCal4, true},
        {"ATmega64", {0x1E, 0x96, 0x02}, 65536, 2048, 256, S::Modern,
         0xE1, 0x99, 0xFD, 0xFF, 0xFF, 0x03, 0x3F, 0x00, 0x20, false, F::High, 3, 4, kCal4, true},
        {"ATmega128", {0x1E, 0x97, 0x02}, 131072, 4096, 256, S::Modern,
         0xE1, 0x99, 0xFD, 0xFF, 0xFF, 0x03, 0x3F, 0x00, 0x20, false, F::High, 3, 4, kCal4, true},
        {"AT90CAN128", {0x1E, 0x97, 0x81}, 131072, 4096, 256, S::Modern,
         0x62, 0x99, 0xFF, 0xFF, 0xFF, 0x0F, 0x3F, 0x00, 0x20, false, F::High, 3, 1, kCal1, true},
        {"ATmega162", {0x1E, 0x94, 0x04}, 16384, 512, 128, S::Modern,
         0x62, 0x99, 0xFF, 0xFF, 0xFF, 0x1E, 0x3F, 0x00, 0x20, false, F::High, 3, 1, kCal1, true},
        {"ATmega169", {0x1E, 0x94, 0x05}, 16384, 512, 128, S::Modern,
         0x62, 0x99, 0xFF, 0xFF, 0xFF, 0x0F, 0x3F, 0x00, 0x20, false, F::High, 3, 1, kCal1, true},
        {"ATmega48", {0x1E, 0x92, 0x05}, 4096, 256, 64, S::Modern,
         0x62, 0xDF, 0xFF, 0xFF, 0xFF, 0x01, 0x03, 0x00, 0x20, false, F::High, 3, 1, kCal1, true},
        {"ATmega88", {0x1E, 0x93, 0x0A}, 8192, 512, 64, S::Modern,
         0x62, 0xDF, 0xF9, 0xFF, 0xFF, 0x07, 0x3F, 0x00, 0x20, false, F::High, 3, 1, kCal1, true},
        {"ATmega168", {0x1E, 0x94, 0x06}, 16384, 512, 128, S::Modern,
         0x62, 0xDF, 0xF9, 0xFF, 0xFF, 0x07, 0x3F, 0x00, 0x20, false, F::High, 3, 1, kCal1, true},
        {"ATtiny13", {0x1E, 0x90, 0x07}, 1024, 64, 32, S::Modern,
         0x6A, 0xFF, 0xFF, 0xFF, 0x1F, 0x00, 0x03, 0x80, 0x00, false, F::Low, 6, 2, kCal2, true},
        {"ATtiny2313", {0x1E, 0x91, 0x0A}, 2048, 128, 32, S::Modern,
         0x64, 0xDF, 0xFF, 0xFF, 0xFF, 0x01, 0x03, 0x00, 0x20, false, F::High, 6, 2, kCal2, true},
        {"ATtiny26", {0x1E, 0x91, 0x09}, 2048, 128, 32, S::Modern,
         0xE1, 0xF7, 0xFF, 0xFF, 0x1F, 0x00, 0x03, 0x00, 0x08, false, F::High, 2, 4, kCal4, true},
    };
    // clang-format on
}

void TakeTiming(AvrFacts& f, const AvrPartData& p) {
    f.FlashWriteMinUs = p.FlashWriteMinUs;
    f.FlashWriteMaxUs = p.FlashWriteMaxUs;
    f.EepromWriteMinUs = p.EepromWriteMinUs;
    f.EepromWriteMaxUs = p.EepromWriteMaxUs;
    f.ChipEraseUs = p.ChipEraseUs;
    f.FlashReadback = p.FlashReadback;
    f.EepromReadback = p.EepromReadback;
    f.FactoryClockHz = p.FactoryClockHz;
}

// The bit of a fuse byte avr-libc gives this name, as a mask; 0 when it is not there.
uint8_t BitNamed(const std::array<const char*, 8>& bits, const std::string& name) {
    for (int i = 0; i < 8; ++i)
        if (bits[static_cast<size_t>(i)] != nullptr && name == bits[static_cast<size_t>(i)])
            return static_cast<uint8_t>(1u << i);
    return 0;
}

uint8_t BitIndex(uint8_t mask) {
    uint8_t n = 0;
    while (mask > 1) {
        mask = static_cast<uint8_t>(mask >> 1);
        ++n;
    }
    return n;
}

// A chip of the ATmega88/ATtiny85 generation: low, high and extended fuse bytes, lock byte by
// 0x58 / 0xAC 0xE0, SPIEN not writable over the serial interface.
AvrFacts FromPartData(const AvrPartData& p) {
    AvrFacts f{p.Name,
               p.Signature,
               p.FlashSize,
               p.EepromSize,
               p.PageSize,
               S::Modern,
               p.FuseLow,
               p.FuseHigh,
               p.FuseExt,
               p.LowUsed,
               p.HighUsed,
               p.ExtUsed,
               p.LockUsed,
               BitNamed(p.LowBits, "SPIEN"),
               BitNamed(p.HighBits, "SPIEN"),
               false,
               F::None,
               0,
               0,
               kNoCal,
               true};
    const std::pair<const std::array<const char*, 8>*, F> bytes[] = {
        {&p.LowBits, F::Low}, {&p.HighBits, F::High}, {&p.ExtBits, F::Ext}};
    for (const auto& [bits, which] : bytes) {
        if (const uint8_t eesave = BitNamed(*bits, "EESAVE")) {
            f.EesaveByte = which;
            f.EesaveBit = BitIndex(eesave);
        }
    }
    f.CalCount = static_cast<uint8_t>(std::min<int>(p.CalCount, 4));
    f.Cal = p.CalCount >= 4 ? kCal4 : p.CalCount >= 2 ? kCal2 : p.CalCount == 1 ? kCal1 : kNoCal;
    TakeTiming(f, p);
    return f;
}

std::vector<AvrFacts> MakeAll() {
    std::vector<AvrFacts> all = MakeTable();
    for (AvrFacts& f : all)
        if (const AvrPartData* p = FindAvrPart(f.Name)) TakeTiming(f, *p);
    for (const AvrPartData& p : AllAvrParts()) {
        bool listed = false;
        for (const AvrFacts& f : all) listed = listed || FindAvrPart(f.Name) == &p;
        if (!listed) all.push_back(FromPartData(p));
    }
    return all;
}

}  // namespace

const std::vector<AvrFacts>& AllAvrFacts() {
    static const std::vector<AvrFacts> table = MakeAll();  // immutable after first use
    return table;
}

const AvrFacts* FindAvrFacts(const std::string& upperName) {
    for (const AvrFacts& f : AllAvrFacts()) {
        std::string upper = f.Name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (upper == upperName) return &f;
    }
    return nullptr;
}

}  // namespace tondrel::sim
