#include "engines/Tavr.h"

#include <utility>

#include "common/Text.h"

namespace tondrel {

namespace {

// From RESET low to the programming enable: the AVR datasheets' 20 ms.
constexpr uint32_t kResetToEnableMs = 20;

bool AllSame(const uint8_t (&bytes)[3], uint8_t v) {
    return bytes[0] == v && bytes[1] == v && bytes[2] == v;
}
}  // namespace

void Tavr::SendAddressed(uint8_t op, int32_t address, size_t answer) {
    TxBytes[0] = op;
    TxBytes[1] = static_cast<uint8_t>((address >> 8) & 0xFF);
    TxBytes[2] = static_cast<uint8_t>(address & 0xFF);
    TransferBytes(answer);
}

void Tavr::SendCode(uint8_t op, int32_t word, size_t answer) {
    if (Chip().FlashSize > kPlainFlashLimit) {
        const int32_t bank = (word >> 16) & 0xFF;
        if (bank != extendedAddress_) {
            const uint8_t kept = TxBytes[3];
            Command(kExtendedAddress, 0x00, static_cast<uint8_t>(bank), 0x00);
            TxBytes[3] = kept;
            extendedAddress_ = bank;
        }
    }
    SendAddressed(op, word, answer);
}

void Tavr::InitPinMap() {
    SerialIsp::InitPinMap();
    PendingAddress = -1;
    eepromPendingAddress_ = -1;
}

uint8_t Tavr::ReadCode(int32_t address) {
    SendCode((address & 1) != 0 ? kReadCodeHigh : kReadCode, address / 2, LastByte());
    return RxBytes[3];
}

uint8_t Tavr::ReadData(int32_t address) {
    SendAddressed(kReadEeprom, address, LastByte());
    return RxBytes[3];
}

bool Tavr::EnableAccepted() {
    SendEnable(2);  // the echo comes in the third byte
    return !Chip().EchoesEnable || RxBytes[2] == kEnable2;
}

void Tavr::ResetPulse() {
    SetRst(true);
    Sleep(1);
    SetRst(false);
    Sleep(kResetToEnableMs);
    extendedAddress_ = -1;
}

Status Tavr::EnterProgramming() {
    SetEnable(true);
    // The line drivers follow within nanoseconds: a millisecond is margin enough.
    Sleep(1);
    SetRst(true);
    SetMosi(false);
    SetSck(false);
    Sleep(1);
    SetRst(false);
    Sleep(kResetToEnableMs);
    extendedAddress_ = -1;
    // The chip echoes 0x53 only when it read the command right: in step with our framing and
    // on a clock it can follow (a chip fresh from the factory runs at 1 MHz).
    echoChecked_ = Chip().EchoesEnable;
    // The enable takes effect with its last bit: the next command may follow at once.
    const bool entered = SearchSpeed([this] { return EnableAccepted(); }, [this] { ResetPulse(); });
    return Outcome(entered ? Status() : Status::Error("EngineNoEcho"));
}

Status Tavr::LeaveProgramming() {
    SetRst(true);
    SetMosi(true);
    SetSck(true);
    // The chip runs as soon as RESET is released; nothing needs to wait for it here.
    SetEnable(false);
    return Settled();
}

Status Tavr::EraseChip() {
    return SendErase(kAvrErase2);
}

Result<std::string> Tavr::ReadSignature() {
    uint8_t sig[3] = {};
    auto read = [&] {
        for (uint8_t k = 0; k < 3; ++k) sig[k] = Command(kAvrSignature, 0x00, k, 0x00);
        return !AllSame(sig, 0x00) && !AllSame(sig, 0xFF);
    };
    // Without an echo to go by, the signature tells whether the chip follows this clock.
    if (echoChecked_)
        read();
    else
        SearchSpeed(read, [this] {
            ResetPulse();
            SendEnable(2);
        });
    std::string text;
    for (uint8_t b : sig) text += HexText(b);
    LastSignature = text;
    return Outcome(std::move(text));
}

Result<uint8_t> Tavr::ReadFlashByte(int32_t address) {
    if (Batching())
        return Outcome(ReadAhead(Memory::Flash, address, Chip().FlashSize,
                                 [this](int32_t a) { ReadCode(a); }));
    return Outcome(ReadCode(address));
}

Status Tavr::WriteFlashByte(int32_t address, uint8_t value) {
    if (value != 0xFF) {
        PendingAddress = address;
        PendingValue = value;
    }
    const int32_t word = address / 2;
    TxBytes[3] = value;
    SendCode((address & 1) != 0 ? kWriteCodeHigh : kWriteCode, word, kNoAnswer);

    const CurrentChip& chip = Chip();
    const int32_t pageSize = chip.CurrentPageSize;
    if (pageSize <= 0)
        return FinishWrite(Memory::Flash, address, value, [&] { ReadCode(address); });

    const bool pageFull = PendingAddress != -1 && (address + 1) % pageSize == 0;
    if (!pageFull && address != chip.FlashDataEnd) return Outcome();
    return CommitPage(word);
}

Status Tavr::CommitPage(int32_t word) {
    // Waits of a page commit where the chip's data gives none.
    constexpr uint32_t kPageFallbackMs = 15;
    const CurrentChip& chip = Chip();
    // Byte 4 is kept: the value just loaded, which the chip ignores.
    SendCode(kWritePage, word, kNoAnswer);
    if (PendingAddress < 0) {
        SleepUs(chip.FlashWriteDelayUs, kPageFallbackMs);
        return Outcome();
    }
    // The poll is the only wait for the page write, so it runs even with AutoVerify off.
    const int32_t pollAddress = PendingAddress;
    const auto pollValue = static_cast<uint8_t>(PendingValue);
    if (LooksBusy(pollValue, chip.FlashReadback)) SleepUs(chip.FlashWriteDelayUs, kPageFallbackMs);
    uint8_t last = pollValue;
    const bool ok = PollFor(
        pollValue, [&] { ReadCode(pollAddress); }, &last);
    PendingAddress = -1;
    return Outcome(
        ok ? Status()
           : WriteNeverReadBack(HexText(static_cast<uint32_t>(pollAddress)), last, pollValue));
}

Status Tavr::WriteEepromByte(int32_t address, uint8_t value) {
    if (const int32_t page = Chip().EEPROMPageSize; page > 0)
        return LoadEepromPage(address, value, page);
    TxBytes[3] = value;
    SendAddressed(kWriteEeprom, address, kNoAnswer);
    return FinishWrite(Memory::EEPROM, address, value, [&] { ReadData(address); });
}

Status Tavr::LoadEepromPage(int32_t address, uint8_t value, int32_t pageSize) {
    constexpr uint8_t kLoadEepromPage = 0xC1;
    constexpr uint8_t kWriteEepromPage = 0xC2;
    TxBytes[3] = value;
    SendAddressed(kLoadEepromPage, address % pageSize, kNoAnswer);
    if (value != 0xFF) {
        eepromPendingAddress_ = address;
        eepromPendingValue_ = value;
    }
    // Unlike Flash, a page of 0xFF bytes is written too: EEPROM keeps its old data otherwise.
    if ((address + 1) % pageSize != 0 && address != Chip().EEPROMDataEnd) return Outcome();
    SendAddressed(kWriteEepromPage, address / pageSize * pageSize, kNoAnswer);
    const bool anyValue = eepromPendingAddress_ >= 0;
    const int32_t pollAddress = anyValue ? eepromPendingAddress_ : address;
    const uint8_t pollValue = anyValue ? eepromPendingValue_ : uint8_t{0xFF};
    eepromPendingAddress_ = -1;
    // The poll is the only wait for the page write, as for a Flash page.
    return FinishWrite(
        Memory::EEPROM, pollAddress, pollValue, [this, pollAddress] { ReadData(pollAddress); },
        true);
}

Result<uint8_t> Tavr::ReadEepromByte(int32_t address) {
    if (Batching())
        return Outcome(ReadAhead(Memory::EEPROM, address, Chip().EEPROMSize,
                                 [this](int32_t a) { ReadData(a); }));
    return Outcome(ReadData(address));
}

}  // namespace tondrel
