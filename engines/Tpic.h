#pragma once
// The PIC engines: 14-bit-core PIC16 chips over the serial programming interface. Commands are 6
// bits, data words travel in 16-bit frames (start bit, 14 data bits, stop bit), everything least
// significant bit first. The chip keeps the address counter: the engine never sends an address,
// so callers go through program memory from word 0 upwards, both bytes of every word in turn.
#include <cstdint>
#include <string>

#include "engines/Tpro.h"

namespace tondrel {

// What Tpic and TpicA share; they differ in the chip erase, the forced erase and how a program
// word is written.
class PicEngine : public Tpro {
  public:
    // `fallbackCycleMs`: the erase/program cycle of a chip whose record does not give it.
    PicEngine(EngineEnv& env, uint32_t fallbackCycleMs)
        : Tpro(env), fallbackCycleMs_(fallbackCycleMs) {}

    Result<std::string> ReadSignature() override;
    Status EnterProgramming() override;
    Status LeaveProgramming() override;
    void InitPinMap() override;
    Status WriteFlashByte(int32_t address, uint8_t value) override;
    Result<uint8_t> ReadFlashByte(int32_t address) override;
    Status WriteEepromByte(int32_t address, uint8_t value) override;
    Result<uint8_t> ReadEepromByte(int32_t address) override;
    // The configuration dialogs' numbered operations: 0-3 and 7 read that configuration word,
    // 10-13 and 17 write b2 b3 into word b1 - 10, 20 erases everything. Any other number only
    // leaves programming mode. b4 is not used.
    Result<uint16_t> RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override;
    Result<uint16_t> ReadConfigWord(int index) override;
    Status WriteConfigWord(int index, uint16_t word) override;
    Status EraseEverything() override;
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
    // The family's way to wipe a chip whatever its code protection.
    virtual void ForcedErase() = 0;
    // Programs the word just loaded into program memory (below 0x2000) and waits for the end.
    virtual void ProgramLoadedWord();
    // Begin Erase/Programming and its full cycle, the chip record's (its Flash write time):
    // no command may go out before it ends, or the chip loses it.
    void EraseProgramCycle();

    void SetSck(bool level);
    void SetMosi(bool level) { SetPin(static_cast<uint8_t>(MosiPin), level); }
    void SetRst(bool level) { SetPin(static_cast<uint8_t>(RstPin), level); }
    void SetMode(bool level) { SetPin(static_cast<uint8_t>(ModePin), level); }
    bool GetMiso() { return GetPin(static_cast<uint8_t>(MisoPin)); }
    void SendCommand(uint8_t code);
    void TransferWord();
    // A load command and its data word.
    void LoadWord(uint8_t command, uint16_t word);
    // Load Configuration with `word`: the counter jumps to 0x2000.
    void LoadConfiguration(uint16_t word) { LoadWord(kLoadConfiguration, word); }
    // The counter from 0x2000 onto configuration word `index`.
    void StepTo(int index);

  private:
    // The lines of EnterProgramming and LeaveProgramming, for the operations that run a whole
    // programming session themselves.
    void PowerUp();
    void PowerDown();
    // A configuration word the named operations reach: the user IDs and the configuration word.
    static bool IsConfigIndex(int index) { return (index >= 0 && index <= 3) || index == 7; }
    // Program words the current chip holds; 0 when the chip record does not say.
    int32_t ProgramWords() const;

    uint32_t fallbackCycleMs_;
};

class Tpic final : public PicEngine {
  public:
    // A chip whose record gives no cycle waits the family's longest (16F627/628: 5 ms erase
    // + 8 ms program).
    explicit Tpic(EngineEnv& env) : PicEngine(env, 13) {}
    const char* ClassName() const override { return "Tpic"; }
    Status EraseChip() override;

  private:
    void ForcedErase() override;
    // Erase Setup 1 and 2 around Begin Programming: the older chips' erase, acting on what the
    // counter points at.
    void EraseSetupSequence();
};

}  // namespace tondrel
