#include "engines/T89s53.h"

namespace tondrel {

uint8_t T89s53::FirstByte(int32_t address, bool write) {
    const auto high = static_cast<uint32_t>(address) >> 8;
    const uint32_t a12to8 = (high & 0x1Fu) << 3;
    const uint32_t a13 = ((high >> 5) & 1u) << 2;
    return static_cast<uint8_t>(a12to8 | a13 | (write ? 0x02u : 0x01u));
}

// The chip cannot be identified: nothing is sent.
void T89s53::ReadSignature(std::string& text) {
    text.clear();
}

bool T89s53::EnterProgramming() {
    At89PowerUp(20, 20);
    TxBytes[0] = kEnable1;
    TxBytes[1] = kEnable2;
    TransferBytes(kNoAnswer);
    return true;
}

bool T89s53::LeaveProgramming() {
    At89Release(20);
    return true;
}

void T89s53::EraseChip() {
    TxBytes[0] = kEnable1;
    TxBytes[1] = kOldErase2;
    TransferBytes(kNoAnswer);
    EraseWait();
}

bool T89s53::WriteFlashByte(int32_t address, uint8_t value) {
    // An erased location already holds 0xFF: reading it is cheaper than a write and a poll.
    if (!WriteBlank && value == 0xFF && ReadFlashByte(address) == 0xFF) return true;
    TxBytes[0] = FirstByte(address, true);
    TxBytes[1] = static_cast<uint8_t>(address & 0xFF);
    TxBytes[2] = value;
    TransferBytes(kNoAnswer);
    return FinishWrite(value, Chip().FlashWriteDelayUs, Chip().FlashReadback, kFlashFallbackMs,
                       [&] { return ReadFlashByte(address) == value; });
}

uint8_t T89s53::ReadFlashByte(int32_t address) {
    TxBytes[0] = FirstByte(address, false);
    TxBytes[1] = static_cast<uint8_t>(address & 0xFF);
    TransferBytes(LastByte());
    return RxBytes[2];
}

uint16_t T89s53::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    (void)b4;
    const uint8_t answer = Command(b1, b2, b3);
    Sleep(20);
    return answer;
}

}  // namespace tondrel
