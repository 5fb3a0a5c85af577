#include "config/GenericLayouts.h"

#include <string>
#include <string_view>

#include "common/AvrPartData.h"
#include "common/Text.h"

namespace tondrel::config {
namespace {

// The standard lock write of the part data (the designed layouts keep their 0xAC 0xFF).
constexpr Command kWriteLock{0xAC, 0xE0, 0x00, 0x00};

constexpr const char* kReserved = "—";

struct GroupFrame {
    const char* Name;
    const char* Caption;
    GroupKind Kind;
    Command Read, Write;
    const char* RefreshButton;
    const char* WriteButton;
    const char* BoxPrefix;
};

const GroupFrame kLock{"GroupBox2", kLockCaption, GroupKind::LockBits, kReadLock,
                       kWriteLock,  "Button1",    "Button2",           "LBN"};
const GroupFrame kHigh{"GroupBox1",    kFuseHighCaption, GroupKind::Fuse, kReadFuseHigh,
                       kWriteFuseHigh, "Button3",        "Button4",       "fh"};
const GroupFrame kLow{"GroupBox3",   kFuseLowCaption, GroupKind::Fuse, kReadFuseLow,
                      kWriteFuseLow, "Button5",       "Button6",       "FL"};
const GroupFrame kExt{"groupbox4",    kExtendedCaption, GroupKind::Fuse, kReadExtended,
                      kWriteExtended, "Button8",        "Button9",       "LEF"};

GroupDesc MakeGroup(const GroupFrame& frame) {
    GroupDesc g;
    g.Name = frame.Name;
    g.Caption = frame.Caption;
    g.Kind = frame.Kind;
    g.Reads = {frame.Read};
    g.Form = WriteForm::ValueInB4;
    g.Write = frame.Write;
    g.WriteBase = 0xFF;
    g.RefreshButton = {frame.RefreshButton, kRefreshCaption};
    g.WriteButton = {frame.WriteButton, kWriteCaption};
    return g;
}

BoxDesc MakeBox(const char* prefix, int bit, const std::string& caption) {
    BoxDesc box;
    box.Name = prefix + std::to_string(bit);
    box.Caption = caption;
    box.ReadBit = bit;
    box.WriteMask = static_cast<uint16_t>(1u << bit);
    return box;
}

// A fuse byte from bit 7 down, as the designed layouts show it. Bits avr-libc does not name (or
// names "RESERVED") are reserved: shown disabled and written as 1. SPIEN cannot be changed over
// the serial interface.
GroupDesc FuseGroup(const GroupFrame& frame, const std::array<const char*, 8>& bits,
                    uint8_t writable) {
    GroupDesc g = MakeGroup(frame);
    for (int bit = 7; bit >= 0; --bit) {
        const char* name = bits[static_cast<size_t>(bit)];
        const bool reserved = name == nullptr || std::string_view(name) == "RESERVED";
        BoxDesc box = MakeBox(frame.BoxPrefix, bit, reserved ? kReserved : name);
        // A bit the chip's write command fixes is shown, never changed, and written as 1.
        if (reserved || (writable & (1u << bit)) == 0) {
            box.Disabled = true;
            box.WriteMask = 0;
        } else if (box.Caption == "SPIEN") {
            box.Disabled = true;
        }
        g.Boxes.push_back(std::move(box));
    }
    return g;
}

GroupDesc LockGroup(uint8_t used, bool inByte2) {
    static const char* const kNames[6] = {"LB1", "LB2", "BLB01", "BLB02", "BLB11", "BLB12"};
    GroupDesc g = MakeGroup(kLock);
    if (inByte2) {  // 0xAC 1111 11ii 0x00 0x00: the bits without a box stay 1
        g.Form = WriteForm::ValueInB2;
        g.Write = {0xAC, 0x00, 0x00, 0x00};
    }
    for (int bit = 5; bit >= 0; --bit)
        if (used & (1u << bit)) g.Boxes.push_back(MakeBox(kLock.BoxPrefix, bit, kNames[bit]));
    return g;
}

LayoutDesc Build(const AvrPartData& p) {
    LayoutDesc l;
    l.ClassName = "GenericAvrLayout";
    l.ChipNames = {p.Name};
    l.Fam = Family::Avr;
    if (p.LockUsed != 0) l.Groups.push_back(LockGroup(p.LockUsed, p.LockInByte2));
    if (p.FuseBytes & kHasHighFuse)
        l.Groups.push_back(FuseGroup(kHigh, p.HighBits, p.HighWritable));
    if (p.FuseBytes & kHasLowFuse) l.Groups.push_back(FuseGroup(kLow, p.LowBits, p.LowWritable));
    if (p.FuseBytes & kHasExtFuse) l.Groups.push_back(FuseGroup(kExt, p.ExtBits, p.ExtWritable));
    for (const GroupDesc& g : l.Groups) l.OpenOrder.push_back(g.Name);
    // The calibration read shows one, two or four bytes.
    l.CalibrationCount = p.CalCount >= 4 ? 4 : p.CalCount >= 2 ? 2 : p.CalCount;
    if (l.CalibrationCount > 0) l.Calibration = {"Button7", "（读校准字节）Read Calibration Byte"};
    l.Close = {"BitBtn1", "关闭close"};
    return l;
}

}  // namespace

const std::vector<LayoutDesc>& GenericLayouts() {
    static const std::vector<LayoutDesc> layouts = [] {
        std::vector<LayoutDesc> all;
        for (const AvrPartData& p : AllAvrParts()) {
            // The designed layouts keep their chips; a chip whose part data names other
            // commands gets no generic view.
            if (!p.StandardCommands || FindDesignedLayout(p.Name) != nullptr) continue;
            all.push_back(Build(p));
        }
        return all;
    }();
    return layouts;
}

const LayoutDesc* FindGenericLayout(std::string_view chip) {
    const std::string name = Lower(chip);
    for (const LayoutDesc& l : GenericLayouts())
        if (Lower(l.ChipNames.front()) == name) return &l;
    return nullptr;
}

}  // namespace tondrel::config
