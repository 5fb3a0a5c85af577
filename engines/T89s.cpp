#include "engines/T89s.h"

#include <cstdio>

namespace tondrel {

namespace {
// Pin numbers are 16-bit fields; only values that fit a DB-25 pin can name one.
uint8_t PinNumber(uint16_t pin) {
    return pin > 0xFF ? 0 : static_cast<uint8_t>(pin);
}
}  // namespace

void T89s::SetRst(bool level) {
    SetPin(PinNumber(RstPin), level);
}

void T89s::SetMosi(bool level) {
    SetPin(PinNumber(MosiPin), level);
}

void T89s::SetSck(bool level) {
    SetPin(PinNumber(SckPin), level);
    BitDelayCountdown(BitDelay);
}

bool T89s::GetMiso() {
    return GetPin(PinNumber(MisoPin));
}

void T89s::TransferBytes(int n) {
    if (n > 4) n = 4;
    for (int i = 0; i < n; ++i) {
        uint8_t rx = 0;
        for (int bit = 7; bit >= 0; --bit) {
            SetSck(false);
            SetMosi(((TxBytes[i] >> bit) & 1u) != 0);
            SetSck(true);
            if (GetMiso()) rx = static_cast<uint8_t>(rx | (1u << bit));
        }
        RxBytes[i] = rx;
        SetSck(false);
    }
}

void T89s::InitPinMap() {
    AutoVerify = 1;
    WriteBlank = 0;
    RstPin = 3;
    MosiPin = 8;
    MisoPin = 11;
    SckPin = 2;
    EnablePin = 14;
    EnableActiveLevel = 0;
    EnableIdleLevel = 1;
}

bool T89s::EnterProgramming() {
    WriteControlPort(0);
    SetPin(PinNumber(EnablePin), (EnableActiveLevel & 0xFF) != 0);
    Sleep(2);
    SetRst(false);
    SetMosi(false);
    SetSck(false);
    Sleep(10);
    SetRst(true);
    Sleep(10);
    TxBytes[0] = 0xAC;
    TxBytes[1] = 0x53;
    TransferBytes(4);
    // A chip that is absent, unpowered or not in reset does not echo; without this check a
    // missing chip would look like a successful start.
    return RxBytes[3] == kEnableEcho;
}

bool T89s::LeaveProgramming() {
    SetRst(false);
    SetPin(PinNumber(EnablePin), (EnableIdleLevel & 0xFF) != 0);
    return true;
}

void T89s::EraseChip() {
    TxBytes[0] = 0xAC;
    TxBytes[1] = 0x80;
    TransferBytes(4);
    Sleep(500);
}

void T89s::ReadSignature(std::string& text) {
    TxBytes[0] = 0x28;
    TxBytes[1] = 0x00;
    TxBytes[2] = 0x00;
    TxBytes[3] = 0x00;
    text.clear();
    for (uint8_t k = 0; k < 3; ++k) {
        TxBytes[1] = k;
        TransferBytes(4);
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", RxBytes[3]);
        text += digits;
    }
}

uint8_t T89s::ReadFlashByte(int32_t address) {
    TxBytes[0] = 0x20;
    TxBytes[1] = static_cast<uint8_t>(address >> 8);
    TxBytes[2] = static_cast<uint8_t>(address);
    TransferBytes(4);
    return RxBytes[3];
}

bool T89s::WriteFlashByte(int32_t address, uint8_t value) {
    // An erased location already holds 0xFF: one read instead of a write and a poll.
    if (!WriteBlank && value == 0xFF && ReadFlashByte(address) == 0xFF) return true;
    TxBytes[0] = 0x40;
    TxBytes[1] = static_cast<uint8_t>(address >> 8);
    TxBytes[2] = static_cast<uint8_t>(address);
    TxBytes[3] = value;
    TransferBytes(4);
    if (!AutoVerify) return true;
    return PollReadBack([&] { return ReadFlashByte(address) == value; });
}

uint16_t T89s::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    TxBytes[0] = b1;
    TxBytes[1] = b2;
    TxBytes[2] = b3;
    TxBytes[3] = b4;
    TransferBytes(4);
    Sleep(20);
    return RxBytes[3];
}

}  // namespace tondrel
