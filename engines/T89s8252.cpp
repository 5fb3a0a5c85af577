#include "engines/T89s8252.h"

namespace tondrel {

uint8_t T89s8252::FirstByte(int32_t address, uint8_t code) {
    const auto high = static_cast<uint32_t>(address) >> 8;
    return static_cast<uint8_t>(((high << 3) & 0xFFu) | (code & 0x07u));
}

void T89s8252::Send(uint8_t code, int32_t address, size_t answer) {
    TxBytes[0] = FirstByte(address, code);
    TxBytes[1] = static_cast<uint8_t>(address & 0xFF);
    TransferBytes(answer);
}

// The chip cannot be identified: nothing is sent.
void T89s8252::ReadSignature(std::string& text) {
    text.clear();
}

bool T89s8252::EnterProgramming() {
    At89PowerUp(20, 20);
    TxBytes[0] = kEnable1;
    TxBytes[1] = kEnable2;
    TransferBytes(kNoAnswer);
    return true;
}

bool T89s8252::LeaveProgramming() {
    At89Release(20);
    return true;
}

void T89s8252::EraseChip() {
    TxBytes[0] = kEnable1;
    TxBytes[1] = kOldErase2;
    TransferBytes(kNoAnswer);
    EraseWait();
}

bool T89s8252::WriteFlashByte(int32_t address, uint8_t value) {
    // An erased location already holds 0xFF: reading it is cheaper than a write and a poll.
    if (!WriteBlank && value == 0xFF && ReadFlashByte(address) == 0xFF) return true;
    TxBytes[2] = value;
    Send(kWriteCode, address, kNoAnswer);
    return FinishWrite(value, Chip().FlashWriteDelayUs, Chip().FlashReadback, kFlashFallbackMs,
                       [&] { return ReadFlashByte(address) == value; });
}

uint8_t T89s8252::ReadFlashByte(int32_t address) {
    Send(kReadCode, address, LastByte());
    return RxBytes[2];
}

bool T89s8252::WriteEepromByte(int32_t address, uint8_t value) {
    // Every EEPROM byte is sent, 0xFF included: the EEPROM is not cleared by a skipped write.
    TxBytes[2] = value;
    Send(kWriteData, address, kNoAnswer);
    return FinishWrite(value, Chip().EepromWriteDelayUs, Chip().EepromReadback, kEepromFallbackMs,
                       [&] { return ReadEepromByte(address) == value; });
}

uint8_t T89s8252::ReadEepromByte(int32_t address) {
    Send(kReadData, address, LastByte());
    return RxBytes[2];
}

uint16_t T89s8252::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    (void)b4;
    const uint8_t answer = Command(b1, b2, b3);
    Sleep(20);
    return answer;
}

}  // namespace tondrel
