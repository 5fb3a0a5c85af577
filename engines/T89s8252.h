#pragma once
// T89s8252: the AT89S8252 engine (programming-method code 3). Three-byte serial commands whose
// first byte carries address bits 12..8 and a three-bit operation code; the chip has 2 KiB of
// data EEPROM. It cannot be identified, so the signature is always the empty text.
#include <cstdint>
#include <string>

#include "engines/SerialIsp.h"

namespace tondrel {

class T89s8252 : public SerialIsp {
  public:
    explicit T89s8252(EngineEnv& env) : SerialIsp(env, 3) {}

    // Operation codes in the low three bits of the first command byte.
    enum : uint8_t { kReadCode = 1, kWriteCode = 2, kReadData = 5, kWriteData = 6 };

    void ReadSignature(std::string& text) override;
    bool EnterProgramming() override;
    bool LeaveProgramming() override;
    void EraseChip() override;
    bool WriteFlashByte(int32_t address, uint8_t value) override;
    uint8_t ReadFlashByte(int32_t address) override;
    bool WriteEepromByte(int32_t address, uint8_t value) override;
    uint8_t ReadEepromByte(int32_t address) override;
    // Sends b1 b2 b3 only: the chip takes three-byte commands, b4 is ignored.
    uint16_t RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override;
    const char* ClassName() const override { return "T89s8252"; }

    // First command byte: address shifted right by 8 and left by 3 (kept to a byte), or'ed with
    // the operation code.
    static uint8_t FirstByte(int32_t address, uint8_t code);

  private:
    void Send(uint8_t code, int32_t address, size_t answer);
};

}  // namespace tondrel
