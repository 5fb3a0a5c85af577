#include "engines/T89s8253.h"

namespace tondrel {

// The chip is not identified by this engine: nothing is sent.
void T89s8253::ReadSignature(std::string& text) {
    text.clear();
}

bool T89s8253::EnterProgramming() {
    At89PowerUp(20, 20);
    TxBytes[0] = kEnable1;
    TxBytes[1] = kEnable2;
    TransferBytes(kNoAnswer);
    return true;
}

bool T89s8253::LeaveProgramming() {
    At89Release(20);
    return true;
}

void T89s8253::EraseChip() {
    TxBytes[0] = kEnable1;
    TxBytes[1] = kAvrErase2;
    TransferBytes(kNoAnswer);
    EraseWait();
}

bool T89s8253::WriteFlashByte(int32_t address, uint8_t value) {
    // An erased location already holds 0xFF: reading it is cheaper than a write and a poll.
    if (!WriteBlank && value == 0xFF && ReadFlashByte(address) == 0xFF) return true;
    TxBytes[0] = kWriteCode;
    TxBytes[1] = static_cast<uint8_t>((address >> 8) & 0xFF);
    TxBytes[2] = static_cast<uint8_t>(address & 0xFF);
    TxBytes[3] = value;
    TransferBytes(kNoAnswer);
    return FinishWrite(value, Chip().FlashWriteDelayUs, Chip().FlashReadback, kFlashFallbackMs,
                       [&] { return ReadFlashByte(address) == value; });
}

uint8_t T89s8253::ReadFlashByte(int32_t address) {
    return Command(kReadCode, static_cast<uint8_t>((address >> 8) & 0xFF),
                   static_cast<uint8_t>(address & 0xFF));
}

uint16_t T89s8253::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    const uint8_t answer = Command(b1, b2, b3, b4);
    Sleep(20);
    return answer;
}

}  // namespace tondrel
