#include "engines/Tavr.h"

#include <cctype>
#include <cstdio>

namespace tondrel {

namespace {
constexpr int32_t kAt90s1200ChipId = 4;
}

void Tavr::SetSck(bool level) {
    SetPin(static_cast<uint8_t>(SckPin), level);
    BitDelayCountdown(BitDelay);
}

void Tavr::TransferBytes(int n) {
    for (int i = 0; i < n && i < 4; ++i) {
        uint8_t in = 0;
        for (int bit = 7; bit >= 0; --bit) {
            SetSck(false);
            SetMosi(((TxBytes[i] >> bit) & 1) != 0);
            SetSck(true);
            if (GetMiso()) in = static_cast<uint8_t>(in | (1u << bit));
        }
        SetSck(false);
        RxBytes[i] = in;
    }
}

void Tavr::Send3(uint8_t b1, uint8_t b2, uint8_t b3) {
    TxBytes[0] = b1;
    TxBytes[1] = b2;
    TxBytes[2] = b3;
    TransferBytes(4);
}

void Tavr::SendAddressed(uint8_t op, int32_t address) {
    Send3(op, static_cast<uint8_t>((address >> 8) & 0xFF), static_cast<uint8_t>(address & 0xFF));
}

bool Tavr::ChipEchoesEnable() const {
    const CurrentChip& chip = Chip();
    if (chip.CurrentChipId == kAt90s1200ChipId) return false;
    std::string upper = chip.CurrentChipName;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper != "AT90S1200";
}

void Tavr::InitPinMap() {
    AutoVerify = 1;
    WriteBlank = 0;
    PendingAddress = -1;
    RstPin = 3;
    MosiPin = 8;
    MisoPin = 11;
    SckPin = 2;
    EnablePin = 14;
    EnableActiveLevel = 0;
    EnableIdleLevel = 1;
}

bool Tavr::EnterProgramming() {
    SetPin(static_cast<uint8_t>(EnablePin), (EnableActiveLevel & 0xFF) != 0);
    Sleep(20);
    SetRst(true);
    SetMosi(false);
    SetSck(false);
    Sleep(1);
    SetRst(false);
    Sleep(25);

    // The chip echoes 0x53 in the third byte only when its bit counter is in step with ours.
    // Each positive SCK pulse shifts its framing by one bit, so 32 tries cover every offset.
    const bool echoes = ChipEchoesEnable();
    bool entered = false;
    for (int attempt = 0; attempt < kEnableAttempts; ++attempt) {
        if (attempt > 0) {
            SetSck(true);
            SetSck(false);
        }
        TxBytes[0] = 0xAC;
        TxBytes[1] = 0x53;
        TransferBytes(4);
        if (!echoes || RxBytes[2] == 0x53) {
            entered = true;
            break;
        }
    }
    if (!entered) {
        // 31 pulses went out; one more brings a chip that was in step (one that simply does not
        // echo) back to the framing it started with, so later commands still reach it whole.
        SetSck(true);
        SetSck(false);
    }
    Sleep(25);
    return entered;
}

bool Tavr::LeaveProgramming() {
    SetRst(true);
    SetMosi(true);
    SetSck(true);
    Sleep(25);
    SetPin(static_cast<uint8_t>(EnablePin), (EnableIdleLevel & 0xFF) != 0);
    return true;
}

void Tavr::EraseChip() {
    TxBytes[0] = 0xAC;
    TxBytes[1] = 0x80;
    TransferBytes(4);
    Sleep(500);
}

void Tavr::ReadSignature(std::string& text) {
    text.clear();
    for (uint8_t k = 0; k < 3; ++k) {
        TxBytes[3] = 0x00;
        Send3(0x30, 0x00, k);
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", RxBytes[3]);
        text += digits;
    }
    LastSignature = text;
}

uint8_t Tavr::ReadFlashByte(int32_t address) {
    SendAddressed((address & 1) != 0 ? 0x28 : 0x20, address / 2);
    return RxBytes[3];
}

bool Tavr::WriteFlashByte(int32_t address, uint8_t value) {
    if (value != 0xFF) {
        PendingAddress = address;
        PendingValue = value;
    }
    const int32_t word = address / 2;
    TxBytes[3] = value;
    SendAddressed((address & 1) != 0 ? 0x48 : 0x40, word);

    const int32_t pageSize = Chip().CurrentPageSize;
    if (pageSize <= 0) {
        if (AutoVerify == 0) return true;
        if (value == 0xFF) {
            Sleep(5);
            return true;
        }
        return PollReadBack([&] { return ReadFlashByte(address) == value; });
    }

    const bool pageFull = PendingAddress != -1 && (address + 1) % pageSize == 0;
    if (!pageFull && address != Chip().FlashDataEnd) return true;

    // Byte 4 is kept: the value just loaded, which the chip ignores.
    SendAddressed(0x4C, word);
    if (PendingAddress < 0) {
        Sleep(15);
        return true;
    }
    // The poll is the only wait for the page write, so it runs even with AutoVerify off.
    const int32_t pollAddress = PendingAddress;
    const auto pollValue = static_cast<uint8_t>(PendingValue);
    const bool ok = PollReadBack([&] { return ReadFlashByte(pollAddress) == pollValue; });
    PendingAddress = -1;
    return ok;
}

bool Tavr::WriteEepromByte(int32_t address, uint8_t value) {
    TxBytes[3] = value;
    SendAddressed(0xC0, address);
    if (AutoVerify == 0) return true;
    if (value == 0xFF) {
        Sleep(10);
        return true;
    }
    return PollReadBack([&] { return ReadEepromByte(address) == value; });
}

uint8_t Tavr::ReadEepromByte(int32_t address) {
    SendAddressed(0xA0, address);
    return RxBytes[3];
}

uint16_t Tavr::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    TxBytes[0] = b1;
    TxBytes[1] = b2;
    TxBytes[2] = b3;
    TxBytes[3] = b4;
    TransferBytes(4);
    Sleep(20);
    return RxBytes[3];
}

}  // namespace tondrel
