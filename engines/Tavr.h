#pragma once
// Tavr: the AVR serial programming engine (AT90S, ATmega, ATtiny, AT90CAN). Word-addressed
// program memory with a low/high byte selector, page-mode Flash writes driven by the current
// chip's page size and FlashDataEnd, byte mode for chips without pages, data EEPROM.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engines/SerialIsp.h"

namespace tondrel {

class Tavr : public SerialIsp {
  public:
    explicit Tavr(EngineEnv& env) : SerialIsp(env, 4) {}

    Result<std::string> ReadSignature() override;
    Status EnterProgramming() override;
    Status LeaveProgramming() override;
    Status EraseChip() override;
    void InitPinMap() override;
    Status WriteFlashByte(int32_t address, uint8_t value) override;
    Result<uint8_t> ReadFlashByte(int32_t address) override;
    Status WriteEepromByte(int32_t address, uint8_t value) override;
    Result<uint8_t> ReadEepromByte(int32_t address) override;
    const char* ClassName() const override { return "Tavr"; }

    // Flash above this size is addressed with an extended address byte (0x4D).
    static constexpr int32_t kPlainFlashLimit = 128 * 1024;

    int32_t PendingValue = 0;
    // -1 until a byte other than 0xFF is loaded, so a write before InitPinMap cannot poll a
    // byte that was never loaded.
    int32_t PendingAddress = -1;

  private:
    // Sets the first three command bytes and sends all four; the fourth is whatever the caller
    // left in TxBytes[3] (the previous command's byte when the command does not set it).
    void SendAddressed(uint8_t op, int32_t address, size_t answer);
    // A command on program memory: selects the 64 K-word bank first where the chip has more.
    void SendCode(uint8_t op, int32_t word, size_t answer);
    uint8_t ReadCode(int32_t address);
    uint8_t ReadData(int32_t address);
    // Programming enable; true when the chip echoed 0x53, or when it never echoes (the chip
    // record says which).
    bool EnableAccepted();
    // Leaves programming mode and enters it again: a positive pulse on /RESET restarts the
    // chip's serial framing without executing anything (datasheets' programming algorithm).
    void ResetPulse();
    // Commits the page just loaded and waits for it: the poll of its last byte with data, or the
    // chip's write time for a page that held none.
    Status CommitPage(int32_t word);
    // EEPROM page mode: loads the byte into the chip's page buffer, and writes the page once
    // its last byte (or the last of the run) is in.
    Status LoadEepromPage(int32_t address, uint8_t value, int32_t pageSize);

    // The last byte other than 0xFF loaded into the EEPROM page being filled; -1: none.
    int32_t eepromPendingAddress_ = -1;
    uint8_t eepromPendingValue_ = 0xFF;
    int32_t extendedAddress_ = -1;  // bank last selected by 0x4D; -1 = not since reset
    bool echoChecked_ = false;      // the last EnterProgramming went by the echo (seen or not)
};

}  // namespace tondrel
