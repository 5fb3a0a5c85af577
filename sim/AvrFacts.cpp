// Facts of every AVR in the chip catalogue, from the generated part data: signatures, sizes and
// page sizes, the serial configuration-bit layout and factory values, timing and factory clock.
// Calibration bytes are typical factory values (each chip's own are trimmed at the factory).
#include <algorithm>
#include <string>
#include <vector>

#include "common/AvrPartData.h"
#include "common/Text.h"
#include "sim/AvrChip.h"

namespace tondrel::sim {

namespace {

constexpr std::array<uint8_t, 4> kCal4{0xA4, 0xA8, 0xAB, 0xAF};
constexpr std::array<uint8_t, 4> kCal2{0x5D, 0x62, 0xFF, 0xFF};
constexpr std::array<uint8_t, 4> kCal1{0x9E, 0xFF, 0xFF, 0xFF};
constexpr std::array<uint8_t, 4> kNoCal{0xFF, 0xFF, 0xFF, 0xFF};

AvrFacts FromPartData(const AvrPartData& p) {
    AvrFacts f{p.Name, p.Signature, p.FlashSize, p.EepromSize, p.PageSize, p.Style, p.FuseLow,
               p.FuseHigh, p.FuseExt, p.LowUsed, p.HighUsed, p.ExtUsed, p.LockUsed, p.LowFixed,
               p.HighFixed, p.CombinedFuseWritable, p.EesaveByte, p.EesaveBit,
               // The calibration read answers one, two or four bytes.
               static_cast<uint8_t>(std::min<int>(p.CalCount, 4)),
               p.CalCount >= 4   ? kCal4
               : p.CalCount >= 2 ? kCal2
               : p.CalCount == 1 ? kCal1
                                 : kNoCal,
               p.EchoesEnable};
    f.FlashWriteMinUs = p.FlashWriteMinUs;
    f.FlashWriteMaxUs = p.FlashWriteMaxUs;
    f.EepromWriteMinUs = p.EepromWriteMinUs;
    f.EepromWriteMaxUs = p.EepromWriteMaxUs;
    f.ChipEraseUs = p.ChipEraseUs;
    f.FlashReadback = p.FlashReadback;
    f.EepromReadback = p.EepromReadback;
    f.FactoryClockHz = p.FactoryClockHz;
    f.LockInByte2 = p.LockInByte2;
    f.EepromPageSize = p.EepromPageSize;
    f.Part = &p;
    return f;
}

}  // namespace

const std::vector<AvrFacts>& AllAvrFacts() {
    static const std::vector<AvrFacts> table = [] {  // immutable after first use
        std::vector<AvrFacts> all;
        for (const AvrPartData& p : AllAvrParts()) all.push_back(FromPartData(p));
        return all;
    }();
    return table;
}

const AvrFacts* FindAvrFacts(const std::string& upperName) {
    for (const AvrFacts& f : AllAvrFacts())
        if (Lower(f.Name) == Lower(upperName)) return &f;
    return nullptr;
}

}  // namespace tondrel::sim
