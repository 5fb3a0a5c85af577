#pragma once
// The configuration-bit layouts as data. One LayoutDesc per dialog class; the window (Qt) and the
// command line render the same descriptor, and ConfigForm runs the algorithms on it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tondrel::config {

// The caption every configuration window shares.
inline constexpr const char* kWindowCaption = "芯片其它操作(other operations)";

// One four-byte RawCommand; on the PIC layouts B1 is the configuration word it reaches (0-3 the
// user IDs at 0x2000, 7 the configuration word).
struct Command {
    uint8_t B1 = 0, B2 = 0, B3 = 0, B4 = 0;
    bool operator==(const Command&) const = default;
};

// The AVR serial commands and captions of the lock and fuse bytes, shared by the designed
// layouts and the generic view (the lock write differs between them and stays with each).
inline constexpr Command kReadLock{0x58, 0x00, 0x00, 0x00};
inline constexpr Command kReadFuseLow{0x50, 0x00, 0x00, 0x00};
inline constexpr Command kReadFuseHigh{0x58, 0x08, 0x00, 0x00};
inline constexpr Command kReadExtended{0x50, 0x08, 0x00, 0x00};
inline constexpr Command kWriteFuseLow{0xAC, 0xA0, 0x00, 0x00};
inline constexpr Command kWriteFuseHigh{0xAC, 0xA8, 0x00, 0x00};
inline constexpr Command kWriteExtended{0xAC, 0xA4, 0x00, 0x00};
inline constexpr const char* kLockCaption = "Lock Bits（锁定位，打勾表示0，即已编程，否则表示1）";
inline constexpr const char* kFuseHighCaption =
    "Fuse High（ 熔丝高位，打勾表示0，即已编程，否则表示1）";
inline constexpr const char* kFuseLowCaption =
    "Fuse Low （熔丝低位，打勾表示0，即已编程，否则表示1)";
inline constexpr const char* kExtendedCaption =
    "Extended Fuse Bits（扩展熔丝位，打勾表示0，即已编程，否则表示1）";
inline constexpr const char* kRefreshCaption = "刷新refresh";
inline constexpr const char* kWriteCaption = "重写write";

enum class Family { Avr, At89, Pic };

enum class GroupKind {
    LockBits,        // AVR lock byte: programmed bits ticked and disabled, confirmed writes
    Fuse,            // AVR fuse byte (low, high, extended, or the only one)
    LockModeStatus,  // status group of the lock-mode layouts (AT90S..., ATmega103, ATtiny22)
    At89Display,     // AT89S lock bits read with 0x24, a reply bit of 1 ticks
    UserFuse,        // AT89S8253 user fuses
    PicUserIds,      // four edit boxes, user IDs 0x2000..0x2003
    PicConfigWord,   // configuration word 0x2007
};

// Where a group's write puts its value.
enum class WriteForm {
    None,       // the group is never written as a whole
    ValueInB4,  // Write.B1 Write.B2 Write.B3 v
    ValueInB2,  // Write.B1 v Write.B3 Write.B4
    PicWord,    // the configuration word Write.B1 (user IDs: the first of them)
};

struct BoxDesc {
    std::string Name;
    std::string Caption;
    int ReadBit = 0;         // bit of the reply that fills it
    int Read = 0;            // which of the group's reads (0 or 1) fills it
    uint16_t WriteMask = 0;  // bits a ticked box clears in the written value; 0 = not written
    bool Disabled = false;   // disabled by the layout: shown, never changed by the user
    bool Immediate = false;  // written to the chip as soon as the user toggles it
};

struct ButtonDesc {
    std::string Name;  // empty = no such button
    std::string Caption;
};

struct EditDesc {
    std::string Name;   // edt2000 ...
    std::string Label;  // "0x2000" ...
};

struct GroupDesc {
    std::string Name;
    std::string Caption;
    GroupKind Kind = GroupKind::Fuse;
    std::vector<Command> Reads;  // bracketed on AVR/AT89S; PIC groups read by operation code
    bool TickOnOne = false;      // AT89S polarity: a reply bit of 1 ticks the box
    WriteForm Form = WriteForm::None;
    Command Write;
    uint16_t WriteBase = 0xFF;  // the written value before ticked boxes clear their bits
    ButtonDesc RefreshButton;
    ButtonDesc WriteButton;
    std::vector<BoxDesc> Boxes;  // in the layout's order
    std::vector<EditDesc> Edits;
};

struct ModeDesc {
    std::string Name;
    std::string Caption;
    std::string Note;  // the English note beside it, if any
    std::vector<Command> Commands;
};

enum class ModeStyle {
    At89,  // confirmation, each command bracketed, ">>加密完成！"
    Avr,   // one programming session around the command, "命令已完成！"
};

struct ModeGroupDesc {
    std::string Name;
    std::string Caption;
    ModeStyle Style = ModeStyle::Avr;
    std::vector<ModeDesc> Modes;  // the first is selected at opening
    ButtonDesc Ok;
    bool ReinitBefore = false;  // InitPinMap and SetPortBase again before the commands
    std::string RefreshAfter;   // group re-read after the commands; empty = none
};

struct LabelDesc {
    std::string Name;
    std::string Caption;
};

struct LayoutDesc {
    std::string ClassName;
    std::vector<std::string> ChipNames;  // the chips it serves, by catalogue name
    Family Fam = Family::Avr;
    std::vector<GroupDesc> Groups;       // display order
    std::vector<std::string> OpenOrder;  // groups read at opening, in order
    std::optional<ModeGroupDesc> Modes;
    std::vector<LabelDesc> Labels;
    int CalibrationCount = 0;  // 0 = no calibration button; else 1, 2 or 4
    ButtonDesc Calibration;
    ButtonDesc Erase;          // PIC full erase
    std::string EraseConfirm;  // the question asked first, as a message key
    ButtonDesc Close;
};

// Every designed layout.
const std::vector<LayoutDesc>& AllLayouts();
// The designed layout that serves a chip (by catalogue name, any case), or nullptr.
const LayoutDesc* FindDesignedLayout(std::string_view chip);
// The designed layout, else the generic view of an AVR from its part data (GenericLayouts.h).
const LayoutDesc* FindLayout(std::string_view chip);

}  // namespace tondrel::config
