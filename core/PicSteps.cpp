#include "core/PicSteps.h"

#include "common/PicConfig.h"
#include "common/Text.h"
#include "config/Consequences.h"
#include "data/Buffers.h"

namespace tondrel::core::pic {
namespace {

constexpr int kConfigWord = 7;
constexpr int32_t kConfigWordByte = PicConfigAreaStart + 2 * kConfigWord;

const PicConfigFacts* Facts(const SessionContext& s) {
    return FindPicConfig(s.Chip.CurrentChipName);
}

// An image's word that protects the chip is asked about as the configuration window asks, in
// words and with the class of its consequence; true to write it.
bool ConfirmWord(SessionContext& s, uint16_t want) {
    const config::LayoutDesc* layout = config::FindLayout(s.Chip.CurrentChipName);
    if (!layout) return true;
    for (const config::GroupDesc& g : layout->Groups) {
        if (g.Kind != config::GroupKind::PicConfigWord) continue;
        const uint16_t old = s.ReadPicConfigWord(kConfigWord).ValueOr(0x3FFF) & 0x3FFF;
        const config::WriteChange change =
            config::DescribeWrite(s.Chip.CurrentChipName, g, old, want);
        for (const config::Consequence& c : change.Effects)
            if (!s.Out.Ask(config::QuestionFor(change, c.What), config::KindOf(c.What)))
                return false;
    }
    return true;
}

}  // namespace

bool Protected(SessionContext& s, bool data) {
    const PicConfigFacts* f = Facts(s);
    if (!f) return false;
    const auto word = s.ReadPicConfigWord(kConfigWord);
    if (!word) return false;
    return data ? DataProtected(*f, *word) : CodeProtected(*f, *word);
}

Status Erase(SessionContext& s) {
    const PicConfigFacts* f = Facts(s);
    const bool locked = f && (Protected(s) || Protected(s, true));
    if (!locked) {
        ProgrammingMode mode(s);
        (void)s.EraseChip();  // a port failure is said by the caller
        return {};
    }
    // Bulk erase leaves a protected chip as it is; the code-protect disable sequence (16F84A,
    // 16F628, 16F87x) or Chip Erase (16F87xA) wipes it, configuration word and IDs included.
    s.Say("CorePicEraseProtected");
    if (auto wiped = s.EraseEverything(); !wiped) return wiped;
    if (Protected(s) || Protected(s, true)) return s.Fail(Status::Error("CorePicStillProtected"));
    return {};
}

uint8_t ConfigByteMask(const SessionContext& s, int32_t index) {
    const PicConfigFacts* f = Facts(s);
    const uint16_t bits = index / 2 == kConfigWordByte / 2 && f ? f->Implemented : 0x3FFF;
    return static_cast<uint8_t>(index % 2 == 0 ? bits & 0xFF : bits >> 8);
}

Status WriteConfiguration(SessionContext& s, int32_t end) {
    const std::vector<uint8_t>& b = s.Bufs.FlashBuffer;
    // The IDs first, the word that may protect everything last.
    const uint16_t want =
        static_cast<size_t>(kConfigWordByte + 1) < b.size()
            ? static_cast<uint16_t>(b[kConfigWordByte] | (b[kConfigWordByte + 1] << 8))
            : 0x3FFF;
    for (int n : {0, 1, 2, 3, kConfigWord}) {
        const int32_t at = PicConfigAreaStart + 2 * n;
        if (at + 1 > end || static_cast<size_t>(at + 1) >= b.size()) continue;
        if (n == kConfigWord && !ConfirmWord(s, want & 0x3FFF))
            return s.Fail(Status::Error("CorePicConfigNotWritten", HexText(want & 0x3FFF, 4)));
        for (int32_t i : {at, at + 1}) {
            const Status written = s.WriteByte(Memory::Flash, i, b[static_cast<size_t>(i)]);
            if (!written) {
                if (SessionContext::IsPortFailure(written)) return written;
                return s.Fail(Status::Error("CoreWriteFlashFailWord", HexText(i / 2, 2)));
            }
        }
    }
    if (kConfigWordByte + 1 > end) return {};
    const auto got = s.ReadPicConfigWord(kConfigWord);
    if (!got) return got.GetStatus();
    const PicConfigFacts* f = Facts(s);
    const uint16_t mask = f ? f->Implemented : 0x3FFF;
    if ((*got & mask) != (want & mask))
        return s.Fail(Status::Error("CorePicConfigDiffers", HexText(*got & 0x3FFF, 4),
                                    HexText(want & 0x3FFF, 4)));
    s.Say("CorePicConfigWritten", HexText(*got & 0x3FFF, 4));
    return {};
}

}  // namespace tondrel::core::pic
