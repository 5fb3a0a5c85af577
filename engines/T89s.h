#pragma once
// T89s: the AT89S51/AT89S52 engine (method code 1). Four-byte serial commands on the chip's
// in-system programming interface: reset, SCK, MOSI, MISO and the adapter's driver enable.
#include <cstdint>
#include <string>

#include "engines/SerialIsp.h"

namespace tondrel {

class T89s : public SerialIsp {
  public:
    explicit T89s(EngineEnv& env) : SerialIsp(env, 4) {}

    void ReadSignature(std::string& text) override;
    bool EnterProgramming() override;
    bool LeaveProgramming() override;
    void EraseChip() override;
    bool WriteFlashByte(int32_t address, uint8_t value) override;
    uint8_t ReadFlashByte(int32_t address) override;
    uint16_t RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override;
    const char* ClassName() const override { return "T89s"; }

    // The chip's answer in the fourth byte of programming enable when it has entered serial
    // programming.
    static constexpr uint8_t kEnableEcho = kAt89EnableEcho;
};

}  // namespace tondrel
