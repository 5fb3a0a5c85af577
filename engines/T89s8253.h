#pragma once
// T89s8253: the AT89S8253 engine (programming-method code 4). Four-byte serial commands with the
// program-memory address in bytes 2 and 3, as on the AT89S51/52. The engine has no EEPROM
// operations and cannot identify the chip, so the signature is always the empty text.
#include <array>
#include <cstdint>
#include <string>

#include "engines/Tpro.h"

namespace tondrel {

class T89s8253 : public Tpro {
  public:
    using Tpro::Tpro;

    void ReadSignature(std::string& text) override;
    bool EnterProgramming() override;
    bool LeaveProgramming() override;
    void EraseChip() override;
    void InitPinMap() override;
    bool WriteFlashByte(int32_t address, uint8_t value) override;
    uint8_t ReadFlashByte(int32_t address) override;
    uint16_t RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override;
    void SetAutoVerify(bool on) override { AutoVerify = on ? 1 : 0; }
    void SetWriteBlank(bool on) override { WriteBlank = on ? 1 : 0; }
    void SetBitDelay(int32_t count) override { BitDelay = count; }
    const char* ClassName() const override { return "T89s8253"; }

    uint16_t RstPin = 0;
    uint16_t MosiPin = 0;
    uint16_t MisoPin = 0;
    uint16_t SckPin = 0;
    uint16_t EnablePin = 0;
    uint16_t EnableActiveLevel = 0;
    uint16_t EnableIdleLevel = 0;
    int32_t BitDelay = 0;
    uint8_t WriteBlank = 0;
    uint8_t AutoVerify = 0;
    std::array<uint8_t, 4> RxBytes{};
    std::array<uint8_t, 4> TxBytes{};

  private:
    void SetRst(bool level) { SetPin(static_cast<uint8_t>(RstPin), level); }
    void SetMosi(bool level) { SetPin(static_cast<uint8_t>(MosiPin), level); }
    void SetSck(bool level);
    bool GetMiso() { return GetPin(static_cast<uint8_t>(MisoPin)); }
    void TransferBytes(int n);
};

}  // namespace tondrel
