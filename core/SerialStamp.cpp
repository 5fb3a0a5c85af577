#include "core/SerialStamp.h"

#include <algorithm>

#include "common/Text.h"

namespace tondrel::core {

namespace {

std::vector<uint8_t>& BufferOf(SessionContext& s, Memory m) {
    return m == Memory::Flash ? s.Bufs.FlashBuffer : s.Bufs.EEPROMBuffer;
}

const char* MemoryName(Memory m) {
    return m == Memory::Flash ? "Flash" : "EEPROM";
}

}  // namespace

Status SerialStampScope::Apply() {
    if (!s_.Serial) return {};
    const SerialStamp& stamp = *s_.Serial;
    const SerialField& f = stamp.Field;
    const Memory m = f.Where;
    const bool flash = m == Memory::Flash;
    const int32_t size = flash ? s_.Chip.FlashSize : s_.Chip.EEPROMSize;
    const std::string where = HexText(static_cast<uint32_t>(f.Address), 4);
    if (!(flash ? s_.Plan.WriteFlash : s_.Plan.WriteEEPROM) || size < 1)
        return s_.Fail(Status::Error("SerialNotWritten", MemoryName(m)));
    // A PIC's program word has 14 bits: bytes of a number do not fit it.
    if (flash && IsPic(s_.Chip.CurrentMethodCode))
        return s_.Fail(Status::Error("SerialNotOnPicFlash"));
    if (f.Address + static_cast<int64_t>(f.Length) > size)
        return s_.Fail(Status::Error("SerialOutsideMemory", where, f.Length, MemoryName(m), size));
    auto& buffer = BufferOf(s_, m);
    if (static_cast<int32_t>(buffer.size()) < size) {
        if (flash)
            s_.Bufs.BlankFillFlash();
        else
            s_.Bufs.BlankFillEEPROM();
    }
    const auto from = buffer.begin() + f.Address;
    // Bytes the file gave a value: a serial number there would destroy the firmware's own data.
    for (int32_t i = 0; i < f.Length; ++i) {
        const auto at = static_cast<size_t>(f.Address + i);
        const uint8_t blank = flash ? s_.Bufs.FlashBlank(at) : uint8_t{0xFF};
        if (buffer[at] != blank)
            return s_.Fail(Status::Error("SerialOverlapsData", where, f.Length, MemoryName(m),
                                         HexText(static_cast<uint32_t>(at), 4)));
    }
    saved_.assign(from, from + f.Length);
    savedDefined_.clear();
    for (int32_t i = 0; i < f.Length; ++i)
        savedDefined_.push_back(s_.Bufs.Defined(m, static_cast<size_t>(f.Address + i)));
    std::copy(stamp.Bytes.begin(), stamp.Bytes.end(), from);
    // The number is written even where the file left the memory blank.
    s_.Bufs.MarkDefined(m, static_cast<size_t>(f.Address), static_cast<size_t>(f.Length));
    applied_ = true;
    s_.Say("SerialStamped", std::to_string(stamp.Value), MemoryName(m), where);
    s_.Out.ShowBuffer(m, false);
    return {};
}

SerialStampScope::~SerialStampScope() {
    if (!applied_ || !s_.Serial) return;
    const SerialField& f = s_.Serial->Field;
    auto& buffer = BufferOf(s_, f.Where);
    if (static_cast<size_t>(f.Address) + saved_.size() <= buffer.size())
        std::copy(saved_.begin(), saved_.end(), buffer.begin() + f.Address);
    for (size_t i = 0; i < savedDefined_.size(); ++i)
        if (!savedDefined_[i])
            s_.Bufs.ForgetDefined(f.Where, static_cast<size_t>(f.Address) + i, 1);
    s_.Out.ShowBuffer(f.Where, false);
}

Result<std::string> ProbeSocket(SessionContext& s) {
    OperationScope scope(s, false);
    if (!scope) return OperationScope::Refused();
    s.SetBase();
    std::string first, second;
    {
        ProgrammingMode mode(s);
        first = s.ReadSignature().ValueOr({});
        second = s.ReadSignature().ValueOr({});
    }
    if (auto port = s.TakePortFailure(); !port) return port;
    const std::string signature(Trim(first));
    const bool floating =
        std::all_of(signature.begin(), signature.end(), [](char c) { return c == '0'; }) ||
        std::all_of(signature.begin(), signature.end(), [](char c) { return c == 'F'; }) ||
        (IsPic(s.Chip.CurrentMethodCode) && signature == "3FE0");
    if (floating || Trim(second) != signature) return std::string();
    return signature;
}

}  // namespace tondrel::core
