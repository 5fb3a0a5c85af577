#include "engines/T89s.h"

#include <cstdio>

namespace tondrel {

bool T89s::EnterProgramming() {
    At89PowerUp(2, 10);
    // A chip that is absent, unpowered or not in reset does not echo; without this check a
    // missing chip would look like a successful start. One on a slow crystal does not echo at
    // this speed either: it gets slower clocks, each after a fresh reset.
    return SearchSpeed(
        [this] {
            TxBytes[0] = kEnable1;
            TxBytes[1] = kEnable2;
            TransferBytes(LastByte());
            return RxBytes[3] == kEnableEcho;
        },
        [this] {
            SetRst(false);
            SetRst(true);
            Sleep(10);
        });
}

bool T89s::LeaveProgramming() {
    At89Release(0);
    return true;
}

void T89s::EraseChip() {
    TxBytes[0] = kEnable1;
    TxBytes[1] = kAvrErase2;
    TransferBytes(kNoAnswer);
    EraseWait();
}

void T89s::ReadSignature(std::string& text) {
    text.clear();
    for (uint8_t k = 0; k < 3; ++k) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", Command(kAt89Signature, k, 0x00, 0x00));
        text += digits;
    }
}

uint8_t T89s::ReadFlashByte(int32_t address) {
    return Command(kReadCode, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address));
}

bool T89s::WriteFlashByte(int32_t address, uint8_t value) {
    // An erased location already holds 0xFF: one read instead of a write and a poll.
    if (!WriteBlank && value == 0xFF && ReadFlashByte(address) == 0xFF) return true;
    TxBytes[0] = kWriteCode;
    TxBytes[1] = static_cast<uint8_t>(address >> 8);
    TxBytes[2] = static_cast<uint8_t>(address);
    TxBytes[3] = value;
    TransferBytes(kNoAnswer);
    return FinishWrite(value, Chip().FlashWriteDelayUs, Chip().FlashReadback, kFlashFallbackMs,
                       [&] { return ReadFlashByte(address) == value; });
}

uint16_t T89s::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    const uint8_t answer = Command(b1, b2, b3, b4);
    Sleep(20);
    return answer;
}

}  // namespace tondrel
