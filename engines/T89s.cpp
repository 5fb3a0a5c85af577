#include "engines/T89s.h"

#include "common/Text.h"

namespace tondrel {

uint8_t At89Engine::Send(Access access, int32_t address, uint8_t data) {
    const bool write = access == Access::WriteCode || access == Access::WriteData;
    const auto a = static_cast<uint32_t>(address);
    const uint32_t high = a >> 8;
    switch (variant_.Form) {
        case At89AddressForm::HighLow: {
            const bool data = access == Access::ReadData || access == Access::WriteData;
            TxBytes[0] = data ? (write ? variant_.WriteData : variant_.ReadData)
                              : (write ? kWriteCode : kReadCode);
            TxBytes[1] = static_cast<uint8_t>(high);
            TxBytes[2] = static_cast<uint8_t>(a);
            break;
        }
        case At89AddressForm::A13InBit2:
            TxBytes[0] = static_cast<uint8_t>(((high & 0x1Fu) << 3) | (((high >> 5) & 1u) << 2) |
                                              (write ? 0x02u : 0x01u));
            TxBytes[1] = static_cast<uint8_t>(a);
            break;
        case At89AddressForm::OpCodeInBits2to0: {
            static constexpr uint8_t kCodes[] = {1, 2, 5, 6};  // in Access order
            TxBytes[0] =
                static_cast<uint8_t>(((high << 3) & 0xFFu) | kCodes[static_cast<size_t>(access)]);
            TxBytes[1] = static_cast<uint8_t>(a);
            break;
        }
    }
    if (write) {
        TxBytes[DataByte()] = data;
        TransferBytes(kNoAnswer);
        return 0;
    }
    // The data byte of a read is not set: it keeps the previous command's.
    TransferBytes(LastByte());
    return RxBytes[LastByte()];
}

bool At89Engine::Echoed() {
    SendEnable(3);
    return RxBytes[3] == kAt89EnableEcho;
}

Result<std::string> At89Engine::ReadSignature() {
    if (!variant_.Identifies) return Outcome(std::string());
    std::string text;
    for (uint8_t k = 0; k < 3; ++k) text += HexText(Command(kAt89Signature, k, 0x00, 0x00));
    return Outcome(std::move(text));
}

Status At89Engine::EnterProgramming() {
    // The chips are programmed while held in reset: all control lines low, drivers on, lines
    // low, then RST high.
    WriteControlPort(0);
    SetEnable(true);
    Sleep(variant_.SettleMs);
    SetRst(false);
    SetMosi(false);
    SetSck(false);
    // The lines only need to have settled: a millisecond is margin enough.
    Sleep(1);
    SetRst(true);
    Sleep(variant_.ResetMs);
    if (!variant_.Identifies && !variant_.Echoes) {
        SendEnable(kNoAnswer);
        return Outcome();
    }
    // A chip that is absent, unpowered or not in reset does not echo; without this check a
    // missing chip would look like a successful start. One on a slow crystal does not echo at
    // this speed either: it gets slower clocks, each after a fresh reset.
    const bool echoed = SearchSpeed([this] { return Echoed(); },
                                    [this] {
                                        // The oscillator runs already: a fresh reset
                                        // takes two machine cycles, well under 1 ms.
                                        SetRst(false);
                                        SetRst(true);
                                        Sleep(1);
                                    });
    return Outcome(echoed ? Status() : Status::Error("EngineNoEcho"));
}

Status At89Engine::LeaveProgramming() {
    SetRst(false);
    SetEnable(false);
    if (variant_.ReleaseMs > 0) Sleep(variant_.ReleaseMs);
    return Settled();
}

Status At89Engine::EraseChip() {
    return SendErase(variant_.Erase2);
}

Result<uint8_t> At89Engine::ReadFlashByte(int32_t address) {
    if (Batching())
        return Outcome(ReadAhead(Memory::Flash, address, Chip().FlashSize,
                                 [this](int32_t a) { Send(Access::ReadCode, a); }));
    return Outcome(Send(Access::ReadCode, address));
}

Status At89Engine::WriteFlashByte(int32_t address, uint8_t value) {
    // An erased location already holds 0xFF: one read instead of a write and a poll.
    if (!WriteBlank && value == 0xFF && Send(Access::ReadCode, address) == 0xFF) return Outcome();
    Send(Access::WriteCode, address, value);
    // The AT89S51/52 show bit 7 inverted while the write runs (data polling): the poll ends
    // with the write cycle, much sooner than the worst case.
    return FinishWrite(
        Memory::Flash, address, value, [&] { Send(Access::ReadCode, address); }, Silent(),
        variant_.Identifies);
}

Status At89Engine::WriteEepromByte(int32_t address, uint8_t value) {
    if (!variant_.HasEeprom) return NotSupported();
    // Every EEPROM byte is sent, 0xFF included: the EEPROM is not cleared by a skipped write.
    Send(Access::WriteData, address, value);
    // The AT89S8252's EEPROM polls as its Flash does, bit 7 inverted while busy: 0xFF too.
    return FinishWrite(
        Memory::EEPROM, address, value, [&] { Send(Access::ReadData, address); }, Silent(),
        Silent());
}

Result<uint8_t> At89Engine::ReadEepromByte(int32_t address) {
    if (!variant_.HasEeprom) return NotSupported();
    if (Batching())
        return Outcome(ReadAhead(Memory::EEPROM, address, Chip().EEPROMSize,
                                 [this](int32_t a) { Send(Access::ReadData, a); }));
    return Outcome(Send(Access::ReadData, address));
}

}  // namespace tondrel
