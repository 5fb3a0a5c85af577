#include "config/ConfigLayouts.h"

#include <algorithm>
#include <utility>

#include "common/Text.h"
#include "config/GenericLayouts.h"

namespace tondrel::config {
namespace {

constexpr Command kWriteLock{0xAC, 0xFF, 0x00, 0x00};
constexpr Command kWriteInB2{0xAC, 0x00, 0x00, 0x00};

const char* const kRefresh = kRefreshCaption;
const char* const kWrite = kWriteCaption;

// Markers for the bit lists below. What a write of a bit does to the chip is not the layout's to
// say: the chip's own data tells (config/Consequences).
constexpr int D = 1;          // disabled by the layout
constexpr int ShownOnly = 8;  // read and shown, but the chip takes the bit as 1 in a write

struct Bit {
    int N;
    const char* Caption;
    int Flags = 0;
};

BoxDesc AvrBox(const std::string& prefix, const Bit& b) {
    BoxDesc box;
    box.Name = prefix + std::to_string(b.N);
    box.Caption = b.Caption;
    box.ReadBit = b.N;
    box.WriteMask = (b.Flags & ShownOnly) ? 0 : static_cast<uint16_t>(1u << b.N);
    box.Disabled = (b.Flags & D) != 0;
    return box;
}

GroupDesc AvrGroup(GroupKind kind, const char* name, const char* caption, Command read,
                   Command write, WriteForm form, const char* refresh, const char* writeButton,
                   const std::string& prefix, std::initializer_list<Bit> bits) {
    GroupDesc g;
    g.Name = name;
    g.Caption = caption;
    g.Kind = kind;
    g.Reads = {read};
    g.Form = form;
    g.Write = write;
    g.WriteBase = 0xFF;
    g.RefreshButton = {refresh, kRefresh};
    g.WriteButton = {writeButton, kWrite};
    for (const Bit& b : bits) g.Boxes.push_back(AvrBox(prefix, b));
    return g;
}

GroupDesc Lock6(const char* caption = kLockCaption) {
    return AvrGroup(
        GroupKind::LockBits, "GroupBox2", caption, kReadLock, kWriteLock, WriteForm::ValueInB4,
        "Button1", "Button2", "LBN",
        {{5, "BLB12"}, {4, "BLB11"}, {3, "BLB02"}, {2, "BLB01"}, {1, "LB2"}, {0, "LB1"}});
}

GroupDesc Lock2() {
    return AvrGroup(GroupKind::LockBits, "GroupBox2", kLockCaption, kReadLock, kWriteLock,
                    WriteForm::ValueInB4, "Button1", "Button2", "LBN", {{1, "LB2"}, {0, "LB1"}});
}

// ATtiny26: LB2 and LB1 in bits 1 and 0, but the chip takes them in the second byte
// (0xAC 1111 11ii): in the fourth byte they lock nothing.
GroupDesc LockTiny26() {
    return AvrGroup(GroupKind::LockBits, "GroupBox2", kLockCaption, kReadLock, kWriteInB2,
                    WriteForm::ValueInB2, "Button1", "Button2", "LBN", {{1, "LB2"}, {0, "LB1"}});
}

// ATtiny12/15: lock bits 2 and 1, the value travels in the second byte.
GroupDesc LockTiny12() {
    GroupDesc g = AvrGroup(GroupKind::LockBits, "GroupBox2", kLockCaption, kReadLock, kWriteInB2,
                           WriteForm::ValueInB2, "Button1", "Button2", "", {});
    g.Boxes.push_back(AvrBox("LB", {2, "LB2"}));
    g.Boxes.push_back(AvrBox("LB", {1, "LB1"}));
    return g;
}

GroupDesc FuseHigh(std::initializer_list<Bit> bits) {
    return AvrGroup(GroupKind::Fuse, "GroupBox1", kFuseHighCaption, kReadFuseHigh, kWriteFuseHigh,
                    WriteForm::ValueInB4, "Button3", "Button4", "fh", bits);
}

GroupDesc FuseLow(std::initializer_list<Bit> bits, const char* caption = kFuseLowCaption) {
    return AvrGroup(GroupKind::Fuse, "GroupBox3", caption, kReadFuseLow, kWriteFuseLow,
                    WriteForm::ValueInB4, "Button5", "Button6", "FL", bits);
}

GroupDesc Extended(std::initializer_list<Bit> bits) {
    return AvrGroup(GroupKind::Fuse, "groupbox4", kExtendedCaption, kReadExtended, kWriteExtended,
                    WriteForm::ValueInB4, "Button8", "Button9", "LEF", bits);
}

const std::initializer_list<Bit> kHighMega16 = {{7, "OCDEN"},   {6, "JTAGEN"}, {5, "SPIEN", D},
                                                {4, "CKOPT"},   {3, "EESAVE"}, {2, "BOOTSZ1"},
                                                {1, "BOOTSZ0"}, {0, "BOOTRST"}};
const std::initializer_list<Bit> kHighCan128 = {{7, "OCDEN"},   {6, "JTAGEN"}, {5, "SPIEN", D},
                                                {4, "WDTON"},   {3, "EESAVE"}, {2, "BOOTSZ1"},
                                                {1, "BOOTSZ0"}, {0, "BOOTRST"}};
const std::initializer_list<Bit> kHighMega88 = {{7, "RSTDISBL"},  {6, "DWEN"},     {5, "SPIEN", D},
                                                {4, "WDTON"},     {3, "EESAVE"},   {2, "BODLEVEL2"},
                                                {1, "BODLEVEL1"}, {0, "BODLEVEL0"}};
// ATmega8515/8535: bit 7 selects the AT90S compatibility mode, bit 6 is WDTON.
const std::initializer_list<Bit> kHighMega8535 = {{7, "S8535C"},  {6, "WDTON"},  {5, "SPIEN", D},
                                                  {4, "CKOPT"},   {3, "EESAVE"}, {2, "BOOTSZ1"},
                                                  {1, "BOOTSZ0"}, {0, "BOOTRST"}};
const std::initializer_list<Bit> kHighMega8515 = {{7, "S8515C"},  {6, "WDTON"},  {5, "SPIEN", D},
                                                  {4, "CKOPT"},   {3, "EESAVE"}, {2, "BOOTSZ1"},
                                                  {1, "BOOTSZ0"}, {0, "BOOTRST"}};
// ATtiny2313: not the ATmega88's order; RSTDISBL is bit 0.
const std::initializer_list<Bit> kHighTiny2313 = {
    {7, "DWEN"},      {6, "EESAVE"},    {5, "SPIEN", D},  {4, "WDTON"},
    {3, "BODLEVEL2"}, {2, "BODLEVEL1"}, {1, "BODLEVEL0"}, {0, "RSTDISBL"}};
const std::initializer_list<Bit> kLowMega16 = {{7, "BODLEVEL"}, {6, "BODEN"},  {5, "SUT1"},
                                               {4, "SUT0"},     {3, "CKSEL3"}, {2, "CKSEL2"},
                                               {1, "CKSEL1"},   {0, "CKSEL0"}};
const std::initializer_list<Bit> kLowCkdiv8 = {{7, "CKDIV8"}, {6, "CKOUT"},  {5, "SUT1"},
                                               {4, "SUT0"},   {3, "CKSEL3"}, {2, "CKSEL2"},
                                               {1, "CKSEL1"}, {0, "CKSEL0"}};
const std::initializer_list<Bit> kLowMega163 = {{7, "BODLEVEL"}, {6, "BODEN"},  {3, "CKSEL3"},
                                                {2, "CKSEL2"},   {1, "CKSEL1"}, {0, "CKSEL0"}};

LayoutDesc ByteLayout(const char* cls, std::vector<std::string> chips,
                      std::vector<GroupDesc> groups, int calibration,
                      const char* close = "关闭close") {
    LayoutDesc l;
    l.ClassName = cls;
    l.ChipNames = std::move(chips);
    l.Fam = Family::Avr;
    l.Groups = std::move(groups);
    for (const GroupDesc& g : l.Groups) l.OpenOrder.push_back(g.Name);
    l.CalibrationCount = calibration;
    if (calibration > 0) l.Calibration = {"Button7", "（读校准字节）Read Calibration Byte"};
    l.Close = {"BitBtn1", close};
    return l;
}

// ---- lock-mode layouts ----

ModeGroupDesc AvrModes(const char* caption, const char* mode1, const char* note1, const char* note2,
                       const char* ok, const char* refreshAfter) {
    ModeGroupDesc m;
    m.Name = "GroupBox1";
    m.Caption = caption;
    m.Style = ModeStyle::Avr;
    m.Modes = {{"Mode1", mode1, note1, {{0xAC, 0xFD, 0x00, 0x00}}},
               {"Mode2",
                "再次编程FLASH和EEPROM被禁止，校验也被禁止！",
                note2,
                {{0xAC, 0xF9, 0x00, 0x00}}}};
    m.Ok = {"BitBtn1", ok};
    m.RefreshAfter = refreshAfter;
    return m;
}

constexpr const char* kMode1 = "再次编程FLASH和EEPROM被禁止！";
constexpr const char* kNote1 = "further programming is disabled.";
constexpr const char* kNote2 = "further programming is disabled, verify is also disabled.";

LayoutDesc LockModeLayout(const char* cls, std::vector<std::string> chips, ModeGroupDesc modes,
                          std::optional<GroupDesc> status, bool eraseNote = true) {
    LayoutDesc l;
    l.ClassName = cls;
    l.ChipNames = std::move(chips);
    l.Fam = Family::Avr;
    l.Modes = std::move(modes);
    if (status) {
        l.OpenOrder.push_back(status->Name);
        l.Groups.push_back(std::move(*status));
    }
    l.Labels.push_back({"Label1", "锁定位只有执行擦除指令时才可以同时被擦除！"});
    if (eraseNote) l.Labels.push_back({"Label2", "擦除时不影响FUSE位"});
    l.Close = {"BitBtn2", "关闭close"};
    return l;
}

BoxDesc StatusBox(const char* name, const char* caption, int bit, int read, uint16_t mask,
                  bool disabled) {
    BoxDesc b;
    b.Name = name;
    b.Caption = caption;
    b.ReadBit = bit;
    b.Read = read;
    b.WriteMask = mask;
    b.Disabled = disabled;
    return b;
}

// AT90S2323/2343, ATtiny22: one read of 0x58 gives lock bits, SPIEN and the clock fuse.
GroupDesc ChipStatus(const char* caption, const char* fuseName, const char* fuseCaption) {
    GroupDesc g;
    g.Name = "GroupBox2";
    g.Caption = caption;
    g.Kind = GroupKind::LockModeStatus;
    g.Reads = {kReadLock};
    g.Boxes = {StatusBox("Lb1", "LOCK BIT1", 7, 0, 0, true),
               StatusBox("LB2", "LOCK BIT2", 6, 0, 0, true),
               StatusBox("spien", "SPIEN FUSE", 5, 0, 0, true)};
    if (fuseName) {
        BoxDesc f = StatusBox(fuseName, fuseCaption, 0, 0, 0, false);
        f.Immediate = true;
        g.Boxes.push_back(f);
    }
    return g;
}

// AT90S2333/4433, ATmega103: a fuse read, then a lock read; fuses written from 0xBF.
GroupDesc FuseStatus(std::vector<BoxDesc> fuses) {
    GroupDesc g;
    g.Name = "GroupBox2";
    g.Caption = "[fuse bits]熔丝位（打勾表示0，既被编程，否则表示1）";
    g.Kind = GroupKind::LockModeStatus;
    g.Reads = {kReadFuseLow, kReadLock};
    g.Form = WriteForm::ValueInB2;
    g.Write = kWriteInB2;
    g.WriteBase = 0xBF;
    g.RefreshButton = {"Button1", kRefresh};
    g.WriteButton = {"BitBtn3", kWrite};
    g.Boxes = std::move(fuses);
    g.Boxes.push_back(StatusBox("LB2", "LOCK BIT2", 2, 1, 0, true));
    g.Boxes.push_back(StatusBox("LB1", "LOCK BIT1", 1, 1, 0, true));
    return g;
}

// ---- AT89S ----

ModeGroupDesc At89Modes(const char* caption, std::vector<std::vector<Command>> commands) {
    ModeGroupDesc m;
    m.Name = "GroupBox2";
    m.Caption = caption;
    m.Style = ModeStyle::At89;
    m.Modes = {
        {"rb2", "（模式1）Lock Bit1被编程，编程禁止，MOVC不可用！", "", commands[0]},
        {"rb3", "（模式2）Lock Bit1,Lock Bit2 被编程，同模式1，但校验也被禁止！", "", commands[1]},
        {"rb4", "（模式3）Lock Bit 1,2, 3  被编程，同模式2，但外部执行也被禁止！", "",
         commands[2]}};
    m.Ok = {"BitBtn3", "确定ok"};
    return m;
}

GroupDesc At89LockDisplay(const char* caption, bool writable) {
    GroupDesc g;
    g.Name = "GroupBox1";
    g.Caption = caption;
    g.Kind = GroupKind::At89Display;
    g.Reads = {{0x24, 0x00, 0x00, 0x00}};
    // The AT89S51/52 answer LB3..LB1 in bits 4..2, a programmed bit as 1; the AT89S8253 in
    // bits 2..0, a programmed bit as 0 (its datasheet's "Read Lock Bits" xxxx xLLL).
    g.TickOnOne = !writable;
    const int at = writable ? 0 : 2;
    g.Boxes = {StatusBox("lb3", "Lock Bit3", at + 2, 0, 0, !writable),
               StatusBox("lb2", "Lock Bit2", at + 1, 0, 0, !writable),
               StatusBox("lb1", "Lock Bit1", at, 0, 0, !writable)};
    if (writable) {
        // The AT89S8253 lock write takes its bits from these boxes: a ticked box programs
        // its lock bit (clears bit 2, 1 or 0 of 0xE7).
        g.Boxes[0].WriteMask = 0x04;
        g.Boxes[1].WriteMask = 0x02;
        g.Boxes[2].WriteMask = 0x01;
        g.Form = WriteForm::ValueInB2;
        g.Write = kWriteInB2;
        g.WriteBase = 0xE7;
        g.RefreshButton = {"Button1", kRefresh};
        g.WriteButton = {"Button2", kWrite};
    }
    return g;
}

// ---- PIC ----

LayoutDesc PicLayout(const char* cls, std::vector<std::string> chips, const char* idCaption,
                     std::vector<BoxDesc> cfg, const char* eraseConfirm) {
    LayoutDesc l;
    l.ClassName = cls;
    l.ChipNames = std::move(chips);
    l.Fam = Family::Pic;

    GroupDesc ids1;
    ids1.Name = "GroupBox1";
    ids1.Caption = idCaption;
    ids1.Kind = GroupKind::PicUserIds;
    ids1.Reads = {{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}, {3, 0, 0, 0}};
    ids1.Form = WriteForm::PicWord;
    ids1.Write = {0, 0, 0, 0};
    ids1.RefreshButton = {"Button2", kRefresh};
    ids1.WriteButton = {"Button3", kWrite};
    ids1.Edits = {
        {"edt2000", "0x2000"}, {"edt2001", "0x2001"}, {"edt2002", "0x2002"}, {"edt2003", "0x2003"}};

    GroupDesc word;
    word.Name = "GroupBox2";
    word.Caption = "配置字（没有打勾表示1，打勾表示0,即被编程）[Config Word]";
    word.Kind = GroupKind::PicConfigWord;
    word.Reads = {{7, 0, 0, 0}};
    word.Form = WriteForm::PicWord;
    word.Write = {7, 0, 0, 0};
    word.WriteBase = 0x3FFF;
    word.RefreshButton = {"Button1", kRefresh};
    word.WriteButton = {"Button4", kWrite};
    word.Boxes = std::move(cfg);

    l.Groups = {std::move(ids1), std::move(word)};
    l.OpenOrder = {"GroupBox1", "GroupBox2"};
    l.Erase = {"Button5", "强力全片擦除[powerful erase]"};
    l.EraseConfirm = eraseConfirm;
    l.Close = {"BitBtn1", "关闭close"};
    return l;
}

BoxDesc Cfg(int bit, const char* caption, uint16_t mask = 0) {
    BoxDesc b;
    b.Name = "cfg" + std::to_string(bit);
    b.Caption = caption;
    b.ReadBit = bit;
    b.WriteMask = mask ? mask : static_cast<uint16_t>(1u << bit);
    return b;
}

std::vector<LayoutDesc> BuildLayouts() {
    std::vector<LayoutDesc> all;

    // ---- AVR byte layouts ----
    // Calibration byte counts, here and below, are those of the chips' part data.
    all.push_back(ByteLayout("Tmega16otherFrm", {"ATmega16", "ATmega32"},
                             {Lock6(), FuseHigh(kHighMega16), FuseLow(kLowMega16)}, 4));
    all.push_back(ByteLayout("Tmega8otherFrm", {"ATmega8"},
                             {Lock6(),
                              FuseHigh({{7, "RSTDISBL"},
                                        {6, "WDTON"},
                                        {5, "SPIEN", D},
                                        {4, "CKOPT"},
                                        {3, "EESAVE"},
                                        {2, "BOOTSZ1"},
                                        {1, "BOOTSZ0"},
                                        {0, "BOOTRST"}}),
                              FuseLow(kLowMega16)},
                             4));
    all.push_back(ByteLayout("Tmega8535otherFrm", {"ATmega8535"},
                             {Lock6(), FuseHigh(kHighMega8535), FuseLow(kLowMega16)}, 4));
    all.push_back(ByteLayout("Tmega8515otherFrm", {"ATmega8515"},
                             {Lock6(), FuseHigh(kHighMega8515), FuseLow(kLowMega16)}, 4));
    all.push_back(ByteLayout("Tmega64otherFrm", {"ATmega64", "ATmega128"},
                             {Lock6(), FuseHigh(kHighMega16), FuseLow(kLowMega16),
                              [] {
                                  GroupDesc g = Extended({});
                                  g.Boxes.push_back(AvrBox("", {1, "M103C"}));
                                  g.Boxes.back().Name = "Lm103c";
                                  g.Boxes.push_back(AvrBox("", {0, "WDTON"}));
                                  g.Boxes.back().Name = "Lwdton";
                                  return g;
                              }()},
                             4));
    all.push_back(ByteLayout(
        "Tat90can128otherFrm", {"AT90CAN128"},
        {Lock6(), FuseHigh(kHighCan128), FuseLow(kLowCkdiv8),
         // Extended bit 0 (TA0SEL) is reserved for factory tests: shown, never changed.
         Extended({{3, "BODLEVEL2"}, {2, "BODLEVEL1"}, {1, "BODLEVEL0"}, {0, "TA0SEL", D}})},
        1));
    // ATmega162: M161C (extended bit 4) selects the ATmega161 compatibility mode; it is a
    // real bit, so it has a box, and the ATmega169, which has no such bit, a layout of its own.
    all.push_back(
        ByteLayout("Tmega162otherFrm", {"ATmega162"},
                   {Lock6(), FuseHigh(kHighCan128), FuseLow(kLowCkdiv8),
                    Extended({{4, "M161C"}, {3, "BODLEVEL2"}, {2, "BODLEVEL1"}, {1, "BODLEVEL0"}})},
                   1));
    all.push_back(ByteLayout("Tmega169otherFrm", {"ATmega169"},
                             {Lock6(), FuseHigh(kHighCan128), FuseLow(kLowCkdiv8),
                              Extended({{3, "BODLEVEL2"}, {2, "BODLEVEL1"}, {1, "BODLEVEL0"}})},
                             1));
    all.push_back(ByteLayout(
        "Tmega163otherFrm", {"ATmega163"},
        {Lock6(), FuseHigh({{2, "BOOTSZ1"}, {1, "BOOTSZ0"}, {0, "BOOTRST"}}), FuseLow(kLowMega163)},
        1, "关闭Close"));
    all.push_back(ByteLayout("Tmega323otherFrm", {"ATmega323"},
                             {Lock6(),
                              FuseHigh({{7, "OCDEN"},
                                        {6, "JTAGEN"},
                                        {3, "EESAVE"},
                                        {2, "BOOTSZ1"},
                                        {1, "BOOTSZ0"},
                                        {0, "BOOTRST"}}),
                              FuseLow(kLowMega163)},
                             1));
    all.push_back(ByteLayout("Tmega161otherFrm", {"ATmega161"},
                             {Lock6("[Lock bits]锁定位，打勾表示0，即已编程，否则表示1"),
                              // No brown-out fuses: bit 4 is SUT, bit 3 none. SPIEN is
                              // shown only: the chip takes bits 7, 5 and 3 as 1.
                              FuseLow({{6, "BOOTRST"},
                                       {5, "SPIEN", D | ShownOnly},
                                       {4, "SUT"},
                                       {2, "CKSEL2"},
                                       {1, "CKSEL1"},
                                       {0, "CKSEL0"}},
                                      "[fuse low bits]熔丝低位，打勾表示0，即已编程，否则表示1")},
                             0, "关闭Close"));
    all.push_back(ByteLayout("Tmega88otherFrm", {"ATmega88", "ATmega168"},
                             {Lock6(), FuseHigh(kHighMega88), FuseLow(kLowCkdiv8),
                              Extended({{2, "BOOTSZ1"}, {1, "BOOTSZ0"}, {0, "BOOTRST"}})},
                             1));
    all.push_back(ByteLayout(
        "Tmega48otherFrm", {"ATmega48"},
        {Lock2(), FuseHigh(kHighMega88), FuseLow(kLowCkdiv8), Extended({{0, "SELFPRGEN"}})}, 1));
    all.push_back(ByteLayout(
        "TTiny2313otherFrm", {"ATtiny2313"},
        {Lock2(), FuseHigh(kHighTiny2313), FuseLow(kLowCkdiv8), Extended({{0, "SELFPRGEN"}})}, 2));
    all.push_back(ByteLayout(
        "TTiny13otherFrm", {"ATtiny13"},
        {Lock2(),
         FuseHigh(
             {{4, "SELFPRGEN"}, {3, "DWEN"}, {2, "BODLEVEL1"}, {1, "BODLEVEL0"}, {0, "RSTDISBL"}}),
         FuseLow({{7, "SPIEN", D},
                  {6, "EESAVE"},
                  {5, "WDTON"},
                  {4, "CKDIV8"},
                  {3, "SUT1"},
                  {2, "SUT0"},
                  {1, "CKSEL1"},
                  {0, "CKSEL0"}})},
        2));
    all.push_back(ByteLayout(
        "TTiny26otherFrm", {"ATtiny26"},
        {LockTiny26(),
         FuseHigh({{4, "RSTDISBL"}, {3, "SPIED", D}, {2, "EESAVE"}, {1, "BODLEVEL"}, {0, "BODEN"}}),
         FuseLow({{7, "PLLCK", D},
                  {6, "CKOPT"},
                  {5, "SUT1"},
                  {4, "SUT0"},
                  {3, "CKSEL3"},
                  {2, "CKSEL2"},
                  {1, "CKSEL1"},
                  {0, "CKSEL0"}})},
        4));
    const char* tinyFuse = "Fuse（熔丝低位，打勾表示0，即已编程，否则表示1)";
    all.push_back(ByteLayout("Ttiny12otherFrm", {"ATtiny12"},
                             {FuseLow({{7, "BODLEVEL"},
                                       {6, "BODEN"},
                                       {5, "SPIEN", D},
                                       {4, "RSTDISBL"},
                                       {3, "CKSEL3"},
                                       {2, "CKSEL2"},
                                       {1, "CKSEL1"},
                                       {0, "CKSEL0"}},
                                      tinyFuse),
                              LockTiny12()},
                             1));
    all.push_back(ByteLayout("TTiny15otherFrm", {"ATtiny15"},
                             {FuseLow({{7, "BODLEVEL"},
                                       {6, "BODEN"},
                                       {5, "SPIEN", D},
                                       {4, "RSTDISBL"},
                                       {1, "CKSEL1"},
                                       {0, "CKSEL0"}},
                                      tinyFuse),
                              LockTiny12()},
                             1));

    // ---- AVR lock-mode layouts ----
    all.push_back(LockModeLayout(
        "Tat90s1200otherFrm", {"AT90S1200", "AT90S2313", "AT90S4414", "AT90S8515"},
        AvrModes("锁定位保护模式", kMode1, "further programming is disabled!",
                 "further programming is disabled, verify is also disabled!", "确定ok", ""),
        std::nullopt, false));
    const char* chipStatus = "[chip status]当前芯片状态（打勾表示0，即被编程，否则表示1）";
    all.push_back(
        LockModeLayout("Tat90s2323otherFrm", {"AT90S2323", "AT90S4434", "AT90S8535"},
                       AvrModes("[lock mode]锁定位保护模式", kMode1, kNote1, kNote2, "确定ok", ""),
                       ChipStatus(chipStatus, "Fstrt", "FSTRT FUSE")));
    all.push_back(
        LockModeLayout("Tat90s2343otherFrm", {"AT90S2343"},
                       AvrModes("[lock mode]锁定位保护模式", kMode1, "", "", "确定", "GroupBox2"),
                       ChipStatus(chipStatus, "rcen", "RCEN FUSE")));
    all.push_back(LockModeLayout(
        "TTiny22otherFrm", {"ATtiny22"},
        AvrModes("protect mode(锁定位保护模式)",
                 "再次编程FLASH和EEPROM被禁止(program is disabled)！", "",
                 "(program and verify are disabled)", "确定ok", "GroupBox2"),
        ChipStatus("Chip status当前芯片状态（打勾表示0，即被编程，否则表示1）", nullptr, nullptr)));
    all.push_back(
        LockModeLayout("Tat90s2333otherFrm", {"AT90S2333", "AT90S4433"},
                       AvrModes("[lock bits]锁定位保护模式", kMode1, kNote1, kNote2, "确定ok", ""),
                       FuseStatus({StatusBox("fb8", "SPIEN FUSE", 5, 0, 0, true),
                                   StatusBox("fb7", "BODLEVEL FUSE", 4, 0, 0x10, false),
                                   StatusBox("fb6", "BODEN FUSE", 3, 0, 0x08, false),
                                   StatusBox("fb5", "CKSEL2 FUSE", 2, 0, 0x04, false),
                                   StatusBox("fb4", "CKSEL1 FUSE", 1, 0, 0x02, false),
                                   StatusBox("fb3", "CKSEL0 FUSE", 0, 0, 0x01, false)})));
    all.push_back(
        LockModeLayout("Tmega103otherFrm", {"ATmega103"},
                       AvrModes("[lock mode]锁定位保护模式", kMode1, "", "", "确定ok", ""),
                       FuseStatus({StatusBox("FB5", "SPIEN FUSE", 5, 0, 0, true),
                                   StatusBox("FB6", "EESAVE FUSE", 3, 0, 0x08, false),
                                   StatusBox("FB4", "SUT1 FUSE", 1, 0, 0x02, false),
                                   StatusBox("FB3", "SUT0 FUSE", 0, 0, 0x01, false)})));

    // ---- AT89S ----
    {
        LayoutDesc l;
        l.ClassName = "TS51otherFrm";
        l.ChipNames = {"AT89S51", "AT89S52"};
        l.Fam = Family::At89;
        l.Groups = {
            At89LockDisplay("read lock bits读取锁定位信息（打勾表示0，被编程，否则相反）", false)};
        l.OpenOrder = {"GroupBox1"};
        l.Modes = At89Modes(
            "lock mode 加密",
            {{{0xAC, 0xE1, 0, 0}},
             {{0xAC, 0xE1, 0, 0}, {0xAC, 0xE2, 0, 0}},
             {{0xAC, 0xE0, 0, 0}, {0xAC, 0xE1, 0, 0}, {0xAC, 0xE2, 0, 0}, {0xAC, 0xE3, 0, 0}}});
        l.Modes->ReinitBefore = true;
        l.Modes->RefreshAfter = "GroupBox1";
        l.Labels = {{"Label1", "Mode1:  instruction MOVC is disabled"},
                    {"Label2", "Mode2:  same as Mode1, verify is also disabled"},
                    {"Label3", "Mode3: same as Mode 2, external execution is also disabled"}};
        l.Close = {"BitBtn2", " 关闭&Close"};
        all.push_back(std::move(l));
    }
    {
        LayoutDesc l;
        l.ClassName = "Tat89s53otherFrm";
        l.ChipNames = {"AT89S53", "AT89S8252"};
        l.Fam = Family::At89;
        l.Modes = At89Modes("[lock mode]加密",
                            {{{0xAC, 0x7F, 0, 0}}, {{0xAC, 0x3F, 0, 0}}, {{0xAC, 0x1F, 0, 0}}});
        l.Labels = {{"Label3", "Mode1:  instruction MOVC is disabled!"},
                    {"Label1", "Mode2:  same as Mode1, but verify is also disabled!"},
                    {"Label2", "Mode3:  same as Mode2, but external execution is also diabled!"}};
        l.Close = {"BitBtn2", "关闭&Close"};
        all.push_back(std::move(l));
    }
    {
        LayoutDesc l;
        l.ClassName = "Tat89s8253otherFrm";
        l.ChipNames = {"AT89S8253"};
        l.Fam = Family::At89;
        GroupDesc fuses;
        fuses.Name = "GroupBox2";
        fuses.Caption = "[Fuse bits]熔丝位信息（打勾表示0，即禁用disable，否则相反）";
        fuses.Kind = GroupKind::UserFuse;
        // Its datasheet: read 0010 0001 answers xxxx ffff, write 1010 1100 0001 ffff, a 0 is
        // a cleared (disabled) fuse. 0xAC 100x xxxx would be Chip Erase.
        fuses.Reads = {{0x21, 0x00, 0x00, 0x00}};
        fuses.Form = WriteForm::ValueInB2;
        fuses.Write = kWriteInB2;
        fuses.WriteBase = 0x1F;
        fuses.RefreshButton = {"Button3", kRefresh};
        fuses.WriteButton = {"Button4", kWrite};
        fuses.Boxes = {StatusBox("f3", "UsrRow Prg", 2, 0, 0x04, false),
                       StatusBox("f2", "x2 Clock", 1, 0, 0x02, false),
                       StatusBox("f1", "SerialPrg", 0, 0, 0x01, false)};
        l.Groups = {At89LockDisplay("[Lock bits]锁定位信息（打勾表示0，被编程，否则相反）", true),
                    std::move(fuses)};
        l.OpenOrder = {"GroupBox1", "GroupBox2"};
        l.Close = {"BitBtn2", "关闭&Close"};
        all.push_back(std::move(l));
    }

    // ---- PIC ----
    all.push_back(PicLayout(
        "TpicOtherFrm",
        {"PIC16F877", "PIC16F870", "PIC16F871", "PIC16F872", "PIC16F873", "PIC16F874", "PIC16F876"},
        "用户ID值(从 0x2000 到 0x2003)[USER ID：FROM 0X2000 TO 0X2003]",
        {Cfg(13, "CP1", 0x2020), Cfg(12, "CP0", 0x1010), Cfg(11, "DEBUG"), Cfg(9, "WRT"),
         Cfg(8, "CPD"), Cfg(7, "LVP"), Cfg(6, "BODEN"), Cfg(3, "PWRTE"), Cfg(2, "WDTE"),
         Cfg(1, "FOSC1"), Cfg(0, "FOSC0")},
        "CfgPicEraseConfirm"));
    all.push_back(PicLayout("TpicAotherFrm",
                            {"PIC16F873A", "PIC16F874A", "PIC16F876A", "PIC16F877A"},
                            "用户ID值(从 0x2000 到 0x2003)[USER ID FROM 0X2000 TO 0X2003]",
                            {Cfg(13, "CP"), Cfg(11, "DEBUG"), Cfg(10, "WRT1"), Cfg(9, "WRT0"),
                             Cfg(8, "CPD"), Cfg(7, "LVP"), Cfg(6, "BODEN"), Cfg(3, "PWRTE"),
                             Cfg(2, "WDTE"), Cfg(1, "FOSC1"), Cfg(0, "FOSC0")},
                            "CfgPicAEraseConfirm"));
    // The 16F84A (DS30262: ten CP bits, all set together) and the 16F628 (DS30034: CP1:CP0
    // each on two bits, FOSC2 in bit 4), so that a protected one can be erased from here too.
    all.push_back(PicLayout(
        "Tpic84AotherFrm", {"PIC16F84A"},
        "用户ID值(从 0x2000 到 0x2003)[USER ID：FROM 0X2000 TO 0X2003]",
        {Cfg(13, "CP", 0x3FF0), Cfg(3, "PWRTE"), Cfg(2, "WDTE"), Cfg(1, "FOSC1"), Cfg(0, "FOSC0")},
        "CfgPicEraseConfirm"));
    all.push_back(PicLayout("Tpic628otherFrm", {"PIC16F628"},
                            "用户ID值(从 0x2000 到 0x2003)[USER ID：FROM 0X2000 TO 0X2003]",
                            {Cfg(13, "CP1", 0x2800), Cfg(12, "CP0", 0x1400), Cfg(8, "CPD"),
                             Cfg(7, "LVP"), Cfg(6, "BODEN"), Cfg(5, "MCLRE"), Cfg(4, "FOSC2"),
                             Cfg(3, "PWRTE"), Cfg(2, "WDTE"), Cfg(1, "FOSC1"), Cfg(0, "FOSC0")},
                            "CfgPicEraseConfirm"));
    return all;
}

}  // namespace

const std::vector<LayoutDesc>& AllLayouts() {
    static const std::vector<LayoutDesc> layouts = BuildLayouts();
    return layouts;
}

const LayoutDesc* FindDesignedLayout(std::string_view chip) {
    const std::string name = Lower(chip);
    for (const LayoutDesc& l : AllLayouts())
        for (const std::string& c : l.ChipNames)
            if (Lower(c) == name) return &l;
    return nullptr;
}

const LayoutDesc* FindLayout(std::string_view chip) {
    if (const LayoutDesc* designed = FindDesignedLayout(chip)) return designed;
    return FindGenericLayout(chip);
}

}  // namespace tondrel::config
