#include "engines/T89s8252.h"

namespace tondrel {

uint8_t T89s8252::FirstByte(int32_t address, uint8_t code) {
    const auto high = static_cast<uint32_t>(address) >> 8;
    return static_cast<uint8_t>(((high << 3) & 0xFFu) | (code & 0x07u));
}

void T89s8252::SetSck(bool level) {
    SetPin(static_cast<uint8_t>(SckPin), level);
    BitDelayCountdown(BitDelay);
}

void T89s8252::TransferBytes(int n) {
    for (int i = 0; i < n && i < static_cast<int>(TxBytes.size()); ++i) {
        uint8_t in = 0;
        for (int bit = 7; bit >= 0; --bit) {
            SetSck(false);
            SetMosi(((TxBytes[i] >> bit) & 1u) != 0);
            SetSck(true);
            if (GetMiso()) in = static_cast<uint8_t>(in | (1u << bit));
        }
        SetSck(false);
        RxBytes[i] = in;
    }
}

void T89s8252::InitPinMap() {
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

// The chip cannot be identified: nothing is sent.
void T89s8252::ReadSignature(std::string& text) {
    text.clear();
}

bool T89s8252::EnterProgramming() {
    WriteControlPort(0);
    SetPin(static_cast<uint8_t>(EnablePin), (EnableActiveLevel & 0xFF) != 0);
    Sleep(20);
    SetRst(false);
    SetMosi(false);
    SetSck(false);
    Sleep(10);
    SetRst(true);
    Sleep(20);
    TxBytes[0] = 0xAC;
    TxBytes[1] = 0x53;
    TransferBytes(3);
    return true;
}

bool T89s8252::LeaveProgramming() {
    SetRst(false);
    SetPin(static_cast<uint8_t>(EnablePin), (EnableIdleLevel & 0xFF) != 0);
    Sleep(20);
    return true;
}

void T89s8252::EraseChip() {
    TxBytes[0] = 0xAC;
    TxBytes[1] = 0x04;
    TransferBytes(3);
    Sleep(500);
}

bool T89s8252::WriteFlashByte(int32_t address, uint8_t value) {
    // An erased location already holds 0xFF: reading it is cheaper than a write and a poll.
    if (!WriteBlank && value == 0xFF && ReadFlashByte(address) == 0xFF) return true;
    TxBytes[0] = FirstByte(address, kWriteCode);
    TxBytes[1] = static_cast<uint8_t>(address & 0xFF);
    TxBytes[2] = value;
    TransferBytes(3);
    if (!AutoVerify) return true;
    return PollReadBack([&] { return ReadFlashByte(address) == value; });
}

uint8_t T89s8252::ReadFlashByte(int32_t address) {
    TxBytes[0] = FirstByte(address, kReadCode);
    TxBytes[1] = static_cast<uint8_t>(address & 0xFF);
    TransferBytes(3);
    return RxBytes[2];
}

bool T89s8252::WriteEepromByte(int32_t address, uint8_t value) {
    // Every EEPROM byte is sent, 0xFF included: the EEPROM is not cleared by a skipped write.
    TxBytes[0] = FirstByte(address, kWriteData);
    TxBytes[1] = static_cast<uint8_t>(address & 0xFF);
    TxBytes[2] = value;
    TransferBytes(3);
    if (!AutoVerify) return true;
    if (value == 0xFF) {
        Sleep(10);
        return true;
    }
    return PollReadBack([&] { return ReadEepromByte(address) == value; });
}

uint8_t T89s8252::ReadEepromByte(int32_t address) {
    TxBytes[0] = FirstByte(address, kReadData);
    TxBytes[1] = static_cast<uint8_t>(address & 0xFF);
    TransferBytes(3);
    return RxBytes[2];
}

uint16_t T89s8252::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    (void)b4;
    TxBytes = {b1, b2, b3};
    TransferBytes(3);
    Sleep(20);
    return RxBytes[2];
}

}  // namespace tondrel
