#pragma once
// What a configuration write does after the chip's next reset, told before it is sent: the
// change decoded into the datasheet's names and words, and the consequences that need a
// question. The classification comes from the chip's own data (avr-libc's bit names and the
// clock tables for an AVR, the programming specifications for a PIC, the AT89S8253 datasheet),
// not from how a layout captions its boxes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Prompts.h"
#include "common/Status.h"
#include "config/AvrFields.h"
#include "config/ConfigLayouts.h"

namespace tondrel::config {

enum class Effect : uint8_t {
    EndsSerial,  // the chip no longer answers serial programming (RSTDISBL, DWEN, SPIEN, ...)
    NeedsClock,  // it runs only on a clock or crystal the board must have
    Slows,       // it runs slower (CKDIV8, a 128 kHz or 32 kHz source)
    Locks,       // memory becomes unreadable or unwritable (lock bits, CP, CPD)
};

struct Consequence {
    Effect What;
    std::string Detail;  // "RSTDISBL programmed", "internal 8 MHz RC → external clock on XTAL1"
};

struct WriteChange {
    std::string Text;  // "low fuse 0x62 → 0x60: CKSEL 0010 → 0000, ..."
    std::vector<Consequence> Effects;
    bool Changes = false;  // the value differs from the one the chip holds
};

// The AVR configuration byte a group reads and writes; nothing for the other groups.
std::optional<AvrByte> AvrByteOfGroup(const GroupDesc& group);

// The datasheet name of the byte (or word) a group writes: "low fuse", "lock byte",
// "configuration word", "user fuses", ...
std::string ByteName(std::string_view chip, const GroupDesc& group);
// The write of `value` over `old` (what the chip holds) into `group` of `chip`.
WriteChange DescribeWrite(std::string_view chip, const GroupDesc& group, uint16_t old,
                          uint16_t value);
// The bits of a group the chip keeps as written; a re-read is compared on these.
uint16_t KeptBits(std::string_view chip, const GroupDesc& group);
// The names of the bits in `mask` of a group ("CKSEL1, CKSEL0").
std::string BitNames(std::string_view chip, const GroupDesc& group, uint16_t mask);

// The question for one consequence: its message (the change and the consequence in words) and
// how much a Yes costs.
Message QuestionFor(const WriteChange& change, Effect effect);
QuestionKind KindOf(Effect effect);

}  // namespace tondrel::config
