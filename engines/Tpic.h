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
    // Time the 16F87xA's programming voltage needs after End Programming.
    static constexpr uint64_t kDischargeNs = 100'000;

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
    // Programs the word just loaded at program word `w` (below 0x2000) and, with AutoVerify,
    // checks it; the counter stays on `w`. A family with write latches may only latch it here.
    virtual Status ProgramWord(int32_t w, uint16_t word);
    // A blank program word that is not written at `w`, the counter on it.
    virtual Status SkipWord(int32_t) { return {}; }
    // Whatever the write latches still hold goes into the chip before the supply drops, the
    // counter moves to configuration memory or the caller reads.
    virtual Status FinishRow() { return {}; }
    // Begin Erase/Programming and its full cycle, the chip record's (its Flash write time):
    // no command may go out before it ends, or the chip loses it.
    void EraseProgramCycle();
    // Begin Programming Only for `us`: an erased cell needs no erase first. The 16F87xA runs it
    // until End Programming, and its high voltage must discharge before the next command.
    void ProgramOnlyCycle(uint32_t us, bool endCommand);
    // The program-only time of the chip's family; 0 when every cycle must erase first.
    uint32_t ProgramOnlyUs() const;
    // The read-back of the word under the counter against `word`, as long as the chip may take.
    Status PollProgramWord(int32_t w, uint16_t word);
    // Bulk erase leaves program and data memory blank from word and byte 0 up: a cell there
    // that nothing programmed since takes a program-only cycle.
    void MarkErased() { blankFrom_ = blankDataFrom_ = 0; }
    bool ProgramBlank(int32_t w) const { return w >= blankFrom_; }
    bool DataBlank(int32_t a) const { return a >= blankDataFrom_; }

    void SetSck(bool level);
    void SetMosi(bool level) { SetPin(static_cast<uint8_t>(MosiPin), level); }
    void SetRst(bool level) { SetPin(static_cast<uint8_t>(RstPin), level); }
    void SetMode(bool level) { SetPin(static_cast<uint8_t>(ModePin), level); }
    bool GetMiso() { return GetPin(static_cast<uint8_t>(MisoPin)); }
    void SendCommand(uint8_t code);
    // One data frame; `answer`: the chip's bits are sampled into RecvWord (it drives the line
    // only for a read).
    void TransferWord(bool answer = true);
    // A load command and its data word.
    void LoadWord(uint8_t command, uint16_t word);
    // Load Configuration with `word`: the counter jumps to 0x2000.
    void LoadConfiguration(uint16_t word) { LoadWord(kLoadConfiguration, word); }
    // The counter from 0x2000 onto configuration word `index`.
    void StepTo(int index);

    // Words and bytes below these were (or may have been) programmed since the last erase.
    static constexpr int32_t kNotErased = 0x7FFFFFFF;
    int32_t blankFrom_ = kNotErased;
    int32_t blankDataFrom_ = kNotErased;

  private:
    // The lines of EnterProgramming and LeaveProgramming, for the operations that run a whole
    // programming session themselves; a row still in the latches is written first.
    Status PowerUp();
    Status PowerDown();
    // The supply and VPP lines alone.
    void RaiseLines();
    void DropLines();
    // A configuration word the named operations reach: the user IDs and the configuration word.
    static bool IsConfigIndex(int index) { return (index >= 0 && index <= 3) || index == 7; }
    // Program words the current chip holds; 0 when the chip record does not say.
    int32_t ProgramWords() const;

    uint32_t fallbackCycleMs_;
    // The byte address whose word the last read left in RecvWord; -1 after any other command.
    int32_t heldRead_ = -1;
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
