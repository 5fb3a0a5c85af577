#pragma once
// T89s53: the AT89S53 engine (programming-method code 2). Three-byte serial commands; the first
// byte of a program-memory command carries address bits 13..8 and the operation. The chip has no
// identification command, so the signature is always the empty text.
#include <cstdint>
#include <string>

#include "engines/SerialIsp.h"

namespace tondrel {

class T89s53 : public SerialIsp {
  public:
    explicit T89s53(EngineEnv& env) : SerialIsp(env, 3) {}

    void ReadSignature(std::string& text) override;
    bool EnterProgramming() override;
    bool LeaveProgramming() override;
    void EraseChip() override;
    bool WriteFlashByte(int32_t address, uint8_t value) override;
    uint8_t ReadFlashByte(int32_t address) override;
    // Sends b1 b2 b3 only: the chip takes three-byte commands, b4 is ignored.
    uint16_t RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override;
    const char* ClassName() const override { return "T89s53"; }

    // First command byte: bits 7..3 = address bits 12..8, bit 2 = address bit 13, then 10 for a
    // write or 01 for a read.
    static uint8_t FirstByte(int32_t address, bool write);
};

}  // namespace tondrel
