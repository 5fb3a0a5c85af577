#pragma once
// The PIC engines: 14-bit-core PIC16 chips over the serial programming interface. Commands are 6
// bits, data words travel in 16-bit frames (start bit, 14 data bits, stop bit), everything least
// significant bit first. The chip keeps the address counter: the engine never sends an address,
// so callers go through program memory from word 0 upwards, both bytes of every word in turn.
#include <cstdint>
#include <string>

#include "engines/Tpro.h"

namespace tondrel {

// What Tpic and TpicA share; they differ only in the chip erase and raw operation 20.
class PicEngine : public Tpro {
  public:
    using Tpro::Tpro;

    void ReadSignature(std::string& text) override;
    bool EnterProgramming() override;
    bool LeaveProgramming() override;
    void InitPinMap() override;
    bool WriteFlashByte(int32_t address, uint8_t value) override;
    uint8_t ReadFlashByte(int32_t address) override;
    bool WriteEepromByte(int32_t address, uint8_t value) override;
    uint8_t ReadEepromByte(int32_t address) override;
    uint16_t RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override;
    void SetAutoVerify(bool on) override { AutoVerify = on ? 1 : 0; }
    void SetWriteBlank(bool on) override { WriteBlank = on ? 1 : 0; }
    void SetBitDelay(int32_t count) override { BitDelay = count; }

    // Command codes of the serial programming interface.
    static constexpr uint8_t kLoadConfiguration = 0;
    static constexpr uint8_t kEraseSetup1 = 1;
    static constexpr uint8_t kLoadProgram = 2;
    static constexpr uint8_t kLoadData = 3;
    static constexpr uint8_t kReadProgram = 4;
    static constexpr uint8_t kReadData = 5;
    static constexpr uint8_t kIncrementAddress = 6;
    static constexpr uint8_t kEraseSetup2 = 7;
    static constexpr uint8_t kBeginProgramming = 8;
    static constexpr uint8_t kBulkEraseProgram = 9;
    static constexpr uint8_t kBulkEraseData = 11;
    static constexpr uint8_t kEndProgramming = 0x17;
    static constexpr uint8_t kBeginProgrammingOnly = 0x18;
    static constexpr uint8_t kChipErase = 31;

    static constexpr uint16_t kBlankWord = 0x3FFF;   // also the mask of a word's 14 bits
    static constexpr int32_t kConfigStart = 0x2000;  // word address of the first user ID
    static constexpr int32_t kConfigWord = 0x2007;

    int32_t BitDelay = 0;
    uint8_t WriteBlank = 0;
    uint8_t AutoVerify = 0;
    uint16_t RecvWord = 0;
    uint16_t SendWord = 0;
    uint16_t ModePin = 0;
    uint16_t RstPin = 0;
    uint16_t MisoPin = 0;
    uint16_t MosiPin = 0;
    uint16_t SckPin = 0;
    uint16_t EnablePin = 0;
    uint16_t EnableActiveLevel = 0;
    uint16_t EnableIdleLevel = 0;

  protected:
    // Raw operation 20: the family's way to wipe a chip whatever its code protection.
    virtual void ForcedErase() = 0;
    // The whole of an internally timed Begin Erase/Programming cycle on the current chip: no
    // command may go out before it ends, or the chip loses it.
    virtual uint32_t EraseProgramMs() const = 0;
    // Programs the word just loaded into program memory (below 0x2000) and waits for the end.
    virtual void ProgramLoadedWord();
    // Begin Erase/Programming and its full cycle.
    void EraseProgramCycle();

    void SetSck(bool level);
    void SetMosi(bool level) { SetPin(static_cast<uint8_t>(MosiPin), level); }
    void SetRst(bool level) { SetPin(static_cast<uint8_t>(RstPin), level); }
    void SetMode(bool level) { SetPin(static_cast<uint8_t>(ModePin), level); }
    bool GetMiso() { return GetPin(static_cast<uint8_t>(MisoPin)); }
    void SendCommand(uint8_t code);
    void TransferWord();
    // Load Configuration with `word`: the counter jumps to 0x2000.
    void LoadConfiguration(uint16_t word);

  private:
    // Program words the current chip holds; 0 when the chip record does not say.
    int32_t ProgramWords() const;
};

class Tpic final : public PicEngine {
  public:
    using PicEngine::PicEngine;
    void EraseChip() override;
    const char* ClassName() const override { return "Tpic"; }

  protected:
    void ForcedErase() override;
    uint32_t EraseProgramMs() const override;
};

}  // namespace tondrel
