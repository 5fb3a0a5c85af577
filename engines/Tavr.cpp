#include "engines/Tavr.h"

#include <cctype>
#include <cstdio>

namespace tondrel {

namespace {
constexpr int32_t kAt90s1200ChipId = 4;
// Waits of a page commit where the chip's data gives none.
constexpr uint32_t kPageFallbackMs = 15;

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

bool Tavr::ChipEchoesEnable() const {
    const CurrentChip& chip = Chip();
    if (chip.CurrentChipId == kAt90s1200ChipId) return false;
    std::string upper = chip.CurrentChipName;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper != "AT90S1200";
}

void Tavr::InitPinMap() {
    SerialIsp::InitPinMap();
    PendingAddress = -1;
}

bool Tavr::SendEnable() {
    TxBytes[0] = kEnable1;
    TxBytes[1] = kEnable2;
    TransferBytes(2);  // the echo comes in the third byte
    return !ChipEchoesEnable() || RxBytes[2] == kEnable2;
}

void Tavr::ResetPulse() {
    SetRst(true);
    Sleep(1);
    SetRst(false);
    Sleep(25);
    extendedAddress_ = -1;
}

bool Tavr::EnterProgramming() {
    SetEnable(true);
    Sleep(20);
    SetRst(true);
    SetMosi(false);
    SetSck(false);
    Sleep(1);
    SetRst(false);
    Sleep(25);
    extendedAddress_ = -1;
    // The chip echoes 0x53 only when it read the command right: in step with our framing and
    // on a clock it can follow (a chip fresh from the factory runs at 1 MHz).
    echoChecked_ = ChipEchoesEnable();
    const bool entered = SearchSpeed([this] { return SendEnable(); }, [this] { ResetPulse(); });
    Sleep(25);
    return entered;
}

bool Tavr::LeaveProgramming() {
    SetRst(true);
    SetMosi(true);
    SetSck(true);
    Sleep(25);
    SetEnable(false);
    return true;
}

void Tavr::EraseChip() {
    TxBytes[0] = kEnable1;
    TxBytes[1] = kAvrErase2;
    TransferBytes(kNoAnswer);
    EraseWait();
}

void Tavr::ReadSignature(std::string& text) {
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
            SendEnable();
        });
    text.clear();
    for (uint8_t b : sig) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += digits;
    }
    LastSignature = text;
}

uint8_t Tavr::ReadFlashByte(int32_t address) {
    SendCode((address & 1) != 0 ? kReadCodeHigh : kReadCode, address / 2, LastByte());
    return RxBytes[3];
}

bool Tavr::WriteFlashByte(int32_t address, uint8_t value) {
    if (value != 0xFF) {
        PendingAddress = address;
        PendingValue = value;
    }
    const int32_t word = address / 2;
    TxBytes[3] = value;
    SendCode((address & 1) != 0 ? kWriteCodeHigh : kWriteCode, word, kNoAnswer);

    const CurrentChip& chip = Chip();
    const int32_t pageSize = chip.CurrentPageSize;
    if (pageSize <= 0) {
        return FinishWrite(value, chip.FlashWriteDelayUs, chip.FlashReadback, kFlashFallbackMs,
                           [&] { return ReadFlashByte(address) == value; });
    }

    const bool pageFull = PendingAddress != -1 && (address + 1) % pageSize == 0;
    if (!pageFull && address != chip.FlashDataEnd) return true;

    // Byte 4 is kept: the value just loaded, which the chip ignores.
    SendCode(kWritePage, word, kNoAnswer);
    if (PendingAddress < 0) {
        SleepUs(chip.FlashWriteDelayUs, kPageFallbackMs);
        return true;
    }
    // The poll is the only wait for the page write, so it runs even with AutoVerify off.
    const int32_t pollAddress = PendingAddress;
    const auto pollValue = static_cast<uint8_t>(PendingValue);
    if (LooksBusy(pollValue, chip.FlashReadback)) SleepUs(chip.FlashWriteDelayUs, kPageFallbackMs);
    const bool ok = PollReadBack([&] { return ReadFlashByte(pollAddress) == pollValue; });
    PendingAddress = -1;
    return ok;
}

bool Tavr::WriteEepromByte(int32_t address, uint8_t value) {
    TxBytes[3] = value;
    SendAddressed(kWriteEeprom, address, kNoAnswer);
    return FinishWrite(value, Chip().EepromWriteDelayUs, Chip().EepromReadback, kEepromFallbackMs,
                       [&] { return ReadEepromByte(address) == value; });
}

uint8_t Tavr::ReadEepromByte(int32_t address) {
    SendAddressed(kReadEeprom, address, LastByte());
    return RxBytes[3];
}

uint16_t Tavr::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    const uint8_t answer = Command(b1, b2, b3, b4);
    Sleep(20);
    return answer;
}

}  // namespace tondrel
