#pragma once
// Tavr: the AVR serial programming engine (AT90S, ATmega, ATtiny, AT90CAN). Word-addressed
// program memory with a low/high byte selector, page-mode Flash writes driven by the current
// chip's page size and FlashDataEnd, byte mode for chips without pages, data EEPROM.
#include <cstdint>
#include <string>

#include "engines/Tpro.h"

namespace tondrel {

class Tavr : public Tpro {
  public:
    explicit Tavr(EngineEnv& env) : Tpro(env) {}

    void ReadSignature(std::string& text) override;
    bool EnterProgramming() override;
    bool LeaveProgramming() override;
    void EraseChip() override;
    void InitPinMap() override;
    bool WriteFlashByte(int32_t address, uint8_t value) override;
    uint8_t ReadFlashByte(int32_t address) override;
    bool WriteEepromByte(int32_t address, uint8_t value) override;
    uint8_t ReadEepromByte(int32_t address) override;
    uint16_t RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override;
    void SetAutoVerify(bool on) override { AutoVerify = on ? 1 : 0; }
    void SetWriteBlank(bool on) override { WriteBlank = on ? 1 : 0; }
    void SetBitDelay(int32_t count) override { BitDelay = count; }
    const char* ClassName() const override { return "Tavr"; }

    // How many programming-enable commands are sent before giving up on the 0x53 echo.
    static constexpr int kEnableAttempts = 32;

    uint16_t RstPin = 0;
    uint16_t MosiPin = 0;
    uint16_t MisoPin = 0;
    uint16_t SckPin = 0;
    uint16_t EnablePin = 0;
    uint16_t EnableActiveLevel = 0;
    uint16_t EnableIdleLevel = 0;
    int32_t PendingValue = 0;
    // -1 until a byte other than 0xFF is loaded, so a write before InitPinMap cannot poll a
    // byte that was never loaded.
    int32_t PendingAddress = -1;
    int32_t BitDelay = 0;
    uint8_t AutoVerify = 0;
    uint8_t WriteBlank = 0;  // stored only; this engine always sends 0xFF bytes
    uint8_t RxBytes[4] = {};
    uint8_t TxBytes[4] = {};

  private:
    void SetRst(bool level) { SetPin(static_cast<uint8_t>(RstPin), level); }
    void SetMosi(bool level) { SetPin(static_cast<uint8_t>(MosiPin), level); }
    void SetSck(bool level);
    bool GetMiso() { return GetPin(static_cast<uint8_t>(MisoPin)); }
    void TransferBytes(int n);
    // Sets the first three command bytes and sends all four; the fourth is whatever the caller
    // left in TxBytes[3] (the previous command's byte when the command does not set it).
    void Send3(uint8_t b1, uint8_t b2, uint8_t b3);
    void SendAddressed(uint8_t op, int32_t address);
    // The AT90S1200 is the one AVR of the catalogue that does not echo programming enable.
    bool ChipEchoesEnable() const;
};

}  // namespace tondrel
