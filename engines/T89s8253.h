#pragma once
// T89s8253: the AT89S8253 engine (programming-method code 4). Four-byte serial commands with the
// program-memory address in bytes 2 and 3, as on the AT89S51/52. The engine has no EEPROM
// operations and cannot identify the chip, so the signature is always the empty text.
#include <cstdint>
#include <string>

#include "engines/SerialIsp.h"

namespace tondrel {

class T89s8253 : public SerialIsp {
  public:
    explicit T89s8253(EngineEnv& env) : SerialIsp(env, 4) {}

    void ReadSignature(std::string& text) override;
    bool EnterProgramming() override;
    bool LeaveProgramming() override;
    void EraseChip() override;
    bool WriteFlashByte(int32_t address, uint8_t value) override;
    uint8_t ReadFlashByte(int32_t address) override;
    uint16_t RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override;
    const char* ClassName() const override { return "T89s8253"; }
};

}  // namespace tondrel
