#pragma once
// T89s8252: the AT89S8252 engine (programming-method code 3). Three-byte serial commands whose
// first byte carries address bits 12..8 and a three-bit operation code; the chip has 2 KiB of
// data EEPROM. It cannot be identified, so the signature is always the empty text.
#include <array>
#include <cstdint>
#include <string>

#include "engines/Tpro.h"

namespace tondrel {

class T89s8252 : public Tpro {
  public:
    using Tpro::Tpro;

    // Operation codes in the low three bits of the first command byte.
    enum : uint8_t { kReadCode = 1, kWriteCode = 2, kReadData = 5, kWriteData = 6 };

    void ReadSignature(std::string& text) override;
    bool EnterProgramming() override;
    bool LeaveProgramming() override;
    void EraseChip() override;
    void InitPinMap() override;
    bool WriteFlashByte(int32_t address, uint8_t value) override;
    uint8_t ReadFlashByte(int32_t address) override;
    bool WriteEepromByte(int32_t address, uint8_t value) override;
    uint8_t ReadEepromByte(int32_t address) override;
    // Sends b1 b2 b3 only: the chip takes three-byte commands, b4 is ignored.
    uint16_t RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override;
    void SetAutoVerify(bool on) override { AutoVerify = on ? 1 : 0; }
    void SetWriteBlank(bool on) override { WriteBlank = on ? 1 : 0; }
    void SetBitDelay(int32_t count) override { BitDelay = count; }
    const char* ClassName() const override { return "T89s8252"; }

    // First command byte: address shifted right by 8 and left by 3 (kept to a byte), or'ed with
    // the operation code.
    static uint8_t FirstByte(int32_t address, uint8_t code);

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
    std::array<uint8_t, 3> RxBytes{};
    std::array<uint8_t, 3> TxBytes{};

  private:
    void SetRst(bool level) { SetPin(static_cast<uint8_t>(RstPin), level); }
    void SetMosi(bool level) { SetPin(static_cast<uint8_t>(MosiPin), level); }
    void SetSck(bool level);
    bool GetMiso() { return GetPin(static_cast<uint8_t>(MisoPin)); }
    void TransferBytes(int n);
};

}  // namespace tondrel
