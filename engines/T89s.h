#pragma once
// T89s: the AT89S51/AT89S52 engine (method code 1). Four-byte serial commands on the chip's
// in-system programming interface: reset, SCK, MOSI, MISO and the adapter's driver enable.
#include <cstdint>
#include <string>

#include "engines/Tpro.h"

namespace tondrel {

class T89s : public Tpro {
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
    const char* ClassName() const override { return "T89s"; }

    // The chip's answer in the fourth byte of programming enable when it has entered serial
    // programming.
    static constexpr uint8_t kEnableEcho = 0x69;

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
    uint8_t RxBytes[4] = {};
    uint8_t TxBytes[4] = {};

  private:
    void SetRst(bool level);
    void SetMosi(bool level);
    void SetSck(bool level);
    bool GetMiso();
    void TransferBytes(int n);
};

}  // namespace tondrel
