#include "config/Consequences.h"

#include <optional>

#include "common/AvrClock.h"
#include "common/AvrPartData.h"
#include "common/PicConfig.h"
#include "common/Text.h"
#include "config/AvrFields.h"

namespace tondrel::config {
namespace {

// The AT89S8253 datasheet's user fuses: bit 0 cleared turns serial programming off from the
// next reset on.
constexpr uint16_t kAt89SerialPrg = 0x01;

std::optional<AvrByte> AvrByteOf(const GroupDesc& g) {
    if (g.Kind == GroupKind::LockBits) return AvrByte::Lock;
    if (g.Kind != GroupKind::Fuse || g.Reads.empty()) return std::nullopt;
    const Command& r = g.Reads.front();
    if (r == kReadFuseLow) return AvrByte::Low;
    if (r == kReadFuseHigh) return AvrByte::High;
    if (r == kReadExtended) return AvrByte::Extended;
    return std::nullopt;
}

// The part data of an AVR whose fuse bytes the serial commands show as avr-libc does.
const AvrPartData* ModernPart(std::string_view chip) {
    const AvrPartData* p = FindAvrPart(std::string(chip));
    if (!p || (p->Style != AvrConfigStyle::Modern && p->Style != AvrConfigStyle::Tiny12))
        return nullptr;
    return p;
}

std::string Hex(uint16_t v, bool word) {
    return "0x" + HexText(v, word ? 4 : 2);
}

uint16_t BoxBits(const GroupDesc& g) {
    uint16_t all = 0;
    for (const BoxDesc& b : g.Boxes) all = static_cast<uint16_t>(all | b.WriteMask);
    return all;
}

bool Programmed(uint16_t old, uint16_t value, uint16_t mask) {
    return (old & mask) == mask && (value & mask) != mask;
}

void AvrChanges(const AvrPartData& p, AvrByte byte, uint8_t old, uint8_t value,
                std::vector<std::string>& parts, std::vector<Consequence>& effects) {
    for (const AvrField& f : AvrFieldsOf(p)) {
        if (f.Byte != byte) continue;
        const uint8_t a = f.Code(old), b = f.Code(value);
        if (a == b) continue;
        std::string text = f.Name + " " + f.Digits(a) + " → " + f.Digits(b);
        if (f.Name == "CKSEL" || f.Bits.size() > 1) {
            const std::string ma = f.Meaning(a), mb = f.Meaning(b);
            if (!ma.empty() || !mb.empty()) text += ", " + ma + " → " + mb;
        }
        parts.push_back(text);
        if (f.Bits.size() != 1) continue;
        const bool nowProgrammed = b == 0;
        if ((f.Name == "RSTDISBL" || f.Name == "RSTDSBL") && nowProgrammed)
            effects.push_back(
                {Effect::EndsSerial, f.Name + " programmed: /RESET becomes an I/O pin"});
        if (f.Name == "DWEN" && nowProgrammed)
            effects.push_back(
                {Effect::EndsSerial, "DWEN programmed: /RESET becomes the debugWIRE line"});
        if (f.Name == "SPIEN" && !nowProgrammed)
            effects.push_back({Effect::EndsSerial, "SPIEN unprogrammed"});
        if (f.Name == "CKDIV8" && nowProgrammed)
            effects.push_back({Effect::Slows, "CKDIV8 programmed: the clock is divided by 8"});
    }
    if (byte == AvrByte::Lock && Programmed(old, value, old & p.LockUsed))
        effects.push_back({Effect::Locks, "lock bits programmed"});
    if (byte != AvrByte::Low) return;
    const auto before = ClockOf(p, old, 0xFF);
    const auto after = ClockOf(p, value, 0xFF);
    if (!before || !after || before->Words == after->Words) return;
    const std::string what = before->Words + " → " + after->Words;
    if (NeedsBoardClock(after->Kind) || after->Kind == AvrClockKind::Reserved)
        effects.push_back({Effect::NeedsClock, what});
    else if (IsSlowSource(*after))
        effects.push_back({Effect::Slows, what});
}

void BoxChanges(const GroupDesc& g, uint16_t old, uint16_t value, std::vector<std::string>& parts) {
    for (const BoxDesc& b : g.Boxes) {
        if (b.WriteMask == 0) continue;
        const bool a = (old & b.WriteMask) == b.WriteMask, c = (value & b.WriteMask) == b.WriteMask;
        if (a != c) parts.push_back(b.Caption + (a ? " 1 → 0" : " 0 → 1"));
    }
}

}  // namespace

std::optional<AvrByte> AvrByteOfGroup(const GroupDesc& g) {
    return AvrByteOf(g);
}

std::string ByteName(std::string_view chip, const GroupDesc& g) {
    if (const auto byte = AvrByteOf(g)) {
        if (const AvrPartData* p = FindAvrPart(std::string(chip))) return AvrByteName(*p, *byte);
    }
    if (g.Kind == GroupKind::LockBits || g.Kind == GroupKind::At89Display) return "lock bits";
    if (g.Kind == GroupKind::UserFuse) return "user fuses";
    if (g.Kind == GroupKind::PicConfigWord) return "configuration word";
    return g.Kind == GroupKind::PicUserIds ? "user IDs" : "fuse byte";
}

uint16_t KeptBits(std::string_view chip, const GroupDesc& g) {
    if (const auto byte = AvrByteOf(g)) {
        if (const AvrPartData* p = ModernPart(chip)) {
            switch (*byte) {
                case AvrByte::Low:
                    return p->LowUsed & p->LowWritable & static_cast<uint8_t>(~p->LowFixed);
                case AvrByte::High:
                    return p->HighUsed & p->HighWritable & static_cast<uint8_t>(~p->HighFixed);
                case AvrByte::Extended:
                    return p->ExtUsed & p->ExtWritable;
                case AvrByte::Lock:
                    if (p->Style == AvrConfigStyle::Modern) return p->LockUsed;
                    break;
            }
        }
    }
    uint16_t kept = 0;
    for (const BoxDesc& b : g.Boxes)
        if (!b.Disabled) kept = static_cast<uint16_t>(kept | b.WriteMask);
    if (g.Kind == GroupKind::PicConfigWord)
        if (const PicConfigFacts* f = FindPicConfig(chip)) kept &= f->Implemented;
    return kept;
}

std::string BitNames(std::string_view chip, const GroupDesc& g, uint16_t mask) {
    std::string out;
    auto add = [&out](const std::string& n) { out += (out.empty() ? "" : ", ") + n; };
    const auto byte = AvrByteOf(g);
    const AvrPartData* p = byte ? ModernPart(chip) : nullptr;
    for (int bit = 15; bit >= 0; --bit) {
        if (!(mask & (1u << bit))) continue;
        std::optional<std::string> name;
        if (p && *byte == AvrByte::Lock) {
            static const char* const kLock[6] = {"LB1", "LB2", "BLB01", "BLB02", "BLB11", "BLB12"};
            if (bit < 6) name = kLock[bit];
        } else if (p) {
            name = AvrBitName(*p, *byte, bit);
        }
        if (!name)
            for (const BoxDesc& b : g.Boxes)
                if (b.WriteMask & (1u << bit)) name = b.Caption;
        add(name.value_or("bit " + std::to_string(bit)));
    }
    return out;
}

WriteChange DescribeWrite(std::string_view chip, const GroupDesc& g, uint16_t old, uint16_t value) {
    WriteChange out;
    const bool word = g.Kind == GroupKind::PicConfigWord;
    const uint16_t kept = KeptBits(chip, g) | BoxBits(g);
    out.Changes = ((old ^ value) & kept) != 0;
    std::vector<std::string> parts;
    const auto byte = AvrByteOf(g);
    const AvrPartData* p = byte ? ModernPart(chip) : nullptr;
    if (p) {
        AvrChanges(*p, *byte, static_cast<uint8_t>(old), static_cast<uint8_t>(value), parts,
                   out.Effects);
    } else {
        BoxChanges(g, old, value, parts);
        if (g.Kind == GroupKind::LockBits && Programmed(old, value, old & BoxBits(g)))
            out.Effects.push_back({Effect::Locks, "lock bits programmed"});
        if (g.Kind == GroupKind::At89Display && Programmed(old, value, old & BoxBits(g)))
            out.Effects.push_back({Effect::Locks, "lock bits programmed"});
        if (g.Kind == GroupKind::UserFuse && Programmed(old, value, kAt89SerialPrg))
            out.Effects.push_back(
                {Effect::EndsSerial, "SerialPrg cleared: serial programming off"});
        if (word) {
            if (const PicConfigFacts* f = FindPicConfig(chip)) {
                if (!CodeProtected(*f, old) && CodeProtected(*f, value))
                    out.Effects.push_back({Effect::Locks, "code protection (CP) on"});
                if (!DataProtected(*f, old) && DataProtected(*f, value))
                    out.Effects.push_back({Effect::Locks, "data protection (CPD) on"});
            }
        }
    }
    out.Text = ByteName(chip, g) + " " + Hex(old, word) + " → " + Hex(value, word);
    for (size_t i = 0; i < parts.size(); ++i) out.Text += (i == 0 ? ": " : "; ") + parts[i];
    return out;
}

QuestionKind KindOf(Effect e) {
    switch (e) {
        case Effect::EndsSerial:
            return QuestionKind::EndsSerialProgramming;
        case Effect::NeedsClock:
            return QuestionKind::ExternalClock;
        case Effect::Slows:
            return QuestionKind::SlowsChip;
        case Effect::Locks:
            return QuestionKind::Locks;
    }
    return QuestionKind::Destructive;
}

Message QuestionFor(const WriteChange& change, Effect e) {
    std::string details;
    for (const Consequence& c : change.Effects)
        if (c.What == e) details += (details.empty() ? "" : "; ") + c.Detail;
    static const char* const kKeys[] = {"CfgEndsSerial", "CfgNeedsClock", "CfgSlows", "CfgLocks"};
    return Msg(kKeys[static_cast<int>(e)], change.Text, details);
}

}  // namespace tondrel::config
