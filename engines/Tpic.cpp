#include "engines/Tpic.h"

#include "adapter/Wiring.h"
#include "common/PicConfig.h"
#include "common/Text.h"

namespace tondrel {

namespace {

// The extra countdowns after a command and before a data word only look at the low 8 or 16 bits
// of BitDelay + 1, a zero meaning a full turn of the counter.
int64_t WrappedCount(int32_t bitDelay, int64_t modulus) {
    const int64_t n = (int64_t{bitDelay} + 1) % modulus;
    if (n < 0) return n + modulus;  // BitDelay below -1: still within one turn
    return n == 0 ? modulus : n;
}

}  // namespace

// ---- line primitives ----

void PicEngine::SetSck(bool level) {
    SetPin(static_cast<uint8_t>(SckPin), level);
    BitDelayCountdown(BitDelay);
}

void PicEngine::SendCommand(uint8_t code) {
    for (int i = 0; i < 6; ++i) {
        SetSck(true);
        SetMosi((code & 1) != 0);
        SetSck(false);
        code = static_cast<uint8_t>(code >> 1);
    }
    SetSck(false);
    Clk().Spin(WrappedCount(BitDelay, 256));
}

void PicEngine::TransferWord() {
    Clk().Spin(WrappedCount(BitDelay, 65536));
    uint16_t frame = static_cast<uint16_t>((SendWord * 2) & 0x7FFE);
    uint16_t mask = 1;
    for (int i = 0; i < 16; ++i) {
        SetSck(true);
        SetMosi((frame & 1) != 0);
        frame = static_cast<uint16_t>(frame >> 1);
        SetSck(false);
        if (GetMiso())
            RecvWord = static_cast<uint16_t>(RecvWord | mask);
        else
            RecvWord = static_cast<uint16_t>(RecvWord & ~mask);
        mask = static_cast<uint16_t>(mask << 1);
    }
    SetSck(false);
    RecvWord = static_cast<uint16_t>((RecvWord & 0x7FFE) >> 1);
}

void PicEngine::LoadWord(uint8_t command, uint16_t word) {
    SendCommand(command);
    SendWord = word;
    TransferWord();
}

void PicEngine::StepTo(int index) {
    for (int i = 0; i < index; ++i) SendCommand(kIncrementAddress);
}

int32_t PicEngine::ProgramWords() const {
    const int32_t bytes = Chip().FlashSize;
    return bytes > 0 ? bytes / 2 : 0;
}

// ---- engine interface ----

void PicEngine::InitPinMap() {
    AutoVerify = 1;
    WriteBlank = 0;
    BitDelay = 1;
    adapter::LoadPinFields(adapter::kPicWiring, *this);
}

void PicEngine::PowerUp() {
    WriteControlPort(0);
    SetPin(static_cast<uint8_t>(EnablePin), (EnableActiveLevel & 0xFF) != 0);
    Sleep(20);
    SetRst(false);
    SetMode(false);
    SetSck(false);
    SetMosi(false);
    Sleep(1);
    // Supply first, then the programming voltage, with clock and data held low: the chip enters
    // program/verify mode with its counter at 0.
    SetMode(true);
    Sleep(1);
    SetRst(true);
    Sleep(20);
}

void PicEngine::PowerDown() {
    SetMode(false);
    SetRst(false);
    Sleep(1);
    SetRst(true);
    Sleep(20);
    SetPin(static_cast<uint8_t>(EnablePin), (EnableIdleLevel & 0xFF) != 0);
}

Status PicEngine::EnterProgramming() {
    PowerUp();
    return Outcome();
}

Status PicEngine::LeaveProgramming() {
    PowerDown();
    return Outcome();
}

Result<std::string> PicEngine::ReadSignature() {
    LoadConfiguration(kBlankWord);
    StepTo(6);  // 0x2006: device ID
    SendCommand(kReadProgram);
    TransferWord();
    return Outcome(HexText(RecvWord & 0xFFE0u, 4));
}

Status PicEngine::WriteFlashByte(int32_t address, uint8_t value) {
    if (address % 2 == 0) {
        SendWord = value;  // the word goes out with its high byte
        return Outcome();
    }
    // A PIC word has 14 bits: the two above them (set in the 0xFFFF gaps of a buffer blank-filled
    // with 0xFF) go nowhere, so they are dropped before the word is sent or compared.
    SendWord = static_cast<uint16_t>((SendWord | (value << 8)) & kBlankWord);
    const uint16_t word = SendWord;
    const int32_t w = address / 2;

    if (w < kConfigStart) {
        const int32_t limit = ProgramWords();
        const bool beyond = limit > 0 && w >= limit;
        if (word == kBlankWord && (WriteBlank == 0 || beyond)) {
            // Nothing to program; a blank word past the chip's end is never written even with
            // WriteBlank on, since the counter has wrapped and it would land on real code.
            SendCommand(kIncrementAddress);
            return Outcome();
        }
        // It would wrap onto word 0 and overwrite the program.
        if (beyond) return Outcome(Status::Error("EngineOutsideMemory", HexText(w, 4)));
    } else if (w <= kConfigWord) {
        if (w == 0x2005 || w == 0x2006) return Outcome();  // reserved and device ID: read-only
        // Configuration memory is only reachable from a fresh Load Configuration.
        PowerUp();
        LoadConfiguration(word);
        StepTo(w == kConfigWord ? 7 : w - kConfigStart);
    }

    SendCommand(kLoadProgram);
    TransferWord();
    if (w < kConfigStart)
        ProgramLoadedWord();
    else
        EraseProgramCycle();
    if (AutoVerify == 0) {
        SendCommand(kIncrementAddress);
        return Outcome();
    }
    // The configuration word's unimplemented bits read back as 1 whatever was written.
    const PicConfigFacts* facts = FindPicConfig(Chip().CurrentChipName);
    const uint16_t mask = w == kConfigWord && facts ? facts->Implemented : kBlankWord;
    const bool ok = PollReadBack([this, mask] {
        SendCommand(kReadProgram);
        TransferWord();
        return (RecvWord & mask) == (SendWord & mask);
    });
    if (!ok) return Outcome(WriteNeverReadBack(HexText(w, 4), RecvWord & kBlankWord, SendWord));
    SendCommand(kIncrementAddress);
    return Outcome();
}

void PicEngine::EraseProgramCycle() {
    SendCommand(kBeginProgramming);
    const int32_t us = Chip().FlashWriteDelayUs;
    Sleep(us > 0 ? static_cast<uint32_t>((us + 999) / 1000) : fallbackCycleMs_);
}

void PicEngine::ProgramLoadedWord() {
    EraseProgramCycle();
}

Result<uint8_t> PicEngine::ReadFlashByte(int32_t address) {
    SendCommand(kReadProgram);
    TransferWord();
    if (address % 2 != 0) {
        SendCommand(kIncrementAddress);
        return Outcome(static_cast<uint8_t>(RecvWord >> 8));
    }
    return Outcome(static_cast<uint8_t>(RecvWord & 0xFF));
}

Status PicEngine::WriteEepromByte(int32_t address, uint8_t value) {
    LoadWord(kLoadData, value);
    EraseProgramCycle();
    if (AutoVerify == 0) {
        SendCommand(kIncrementAddress);
        return Outcome();
    }
    const bool ok = PollReadBack([this, value] {
        SendCommand(kReadData);
        TransferWord();
        return (RecvWord & 0xFF) == value;
    });
    // The chip's counter decides where the byte goes; the address only names a failure.
    if (!ok) return Outcome(Status::Error("EngineWriteTimeout", HexText(address)));
    SendCommand(kIncrementAddress);
    return Outcome();
}

Result<uint8_t> PicEngine::ReadEepromByte(int32_t) {
    SendCommand(kReadData);
    TransferWord();
    SendCommand(kIncrementAddress);
    return Outcome(static_cast<uint8_t>(RecvWord & 0xFF));
}

Result<uint16_t> PicEngine::ReadConfigWord(int index) {
    if (!IsConfigIndex(index)) return NotSupported();
    PowerUp();
    LoadConfiguration(kBlankWord);
    StepTo(index);
    SendCommand(kReadProgram);
    TransferWord();
    const uint16_t word = RecvWord;
    PowerDown();
    return Outcome(word);
}

Status PicEngine::WriteConfigWord(int index, uint16_t word) {
    if (!IsConfigIndex(index)) return NotSupported();
    PowerUp();
    LoadConfiguration(kBlankWord);
    StepTo(index);
    LoadWord(kLoadProgram, word);
    EraseProgramCycle();
    PowerDown();
    return Outcome();
}

Status PicEngine::EraseEverything() {
    PowerUp();
    ForcedErase();
    PowerDown();
    return Outcome();
}

Result<uint16_t> PicEngine::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t) {
    auto none = [](Status s) -> Result<uint16_t> {
        if (!s) return s;
        return uint16_t{0};
    };
    if (b1 <= 3 || b1 == 7) return ReadConfigWord(b1);
    if ((b1 >= 10 && b1 <= 13) || b1 == 17)
        return none(WriteConfigWord(b1 - 10, static_cast<uint16_t>(b2 * 256 + b3)));
    if (b1 == 20) return none(EraseEverything());
    PowerDown();
    return Outcome(NotSupported());
}

// ---- Tpic: the older chips' command 1/7 sequences ----

void Tpic::EraseSetupSequence() {
    SendCommand(kEraseSetup1);
    SendCommand(kEraseSetup2);
    SendCommand(kBeginProgramming);
    Sleep(10);
    SendCommand(kEraseSetup1);
    SendCommand(kEraseSetup2);
}

Status Tpic::EraseChip() {
    const PicConfigFacts* facts = FindPicConfig(Chip().CurrentChipName);
    if (facts && facts->Erase == PicErase::Bulk) {
        // The 16F84A and 16F628 programming specifications: Load Data all 1s, Bulk Erase
        // Program Memory, Begin Programming; then the same for the data memory. Neither touches
        // a code-protected chip.
        LoadWord(kLoadProgram, kBlankWord);
        SendCommand(kBulkEraseProgram);
        SendCommand(kBeginProgramming);
        Sleep(11);
        LoadWord(kLoadData, kBlankWord);
        SendCommand(kBulkEraseData);
        SendCommand(kBeginProgramming);
        Sleep(11);
        return Outcome();
    }
    LoadWord(kLoadData, kBlankWord);
    EraseSetupSequence();
    Sleep(10);
    LoadWord(kLoadProgram, kBlankWord);
    EraseSetupSequence();
    Sleep(10);
    return Outcome();
}

void Tpic::ForcedErase() {
    // Code-protect disable: the erase sequence run with the counter on the configuration word
    // wipes program memory, data memory and configuration together.
    LoadConfiguration(kBlankWord);
    StepTo(7);
    EraseSetupSequence();
}

}  // namespace tondrel
