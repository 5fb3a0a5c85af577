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
    heldRead_ = -1;
    for (int i = 0; i < 6; ++i) {
        SetSck(true);
        SetMosi((code & 1) != 0);
        SetSck(false);
        code = static_cast<uint8_t>(code >> 1);
    }
    SetSck(false);
    Clk().Spin(WrappedCount(BitDelay, 256));
}

void PicEngine::TransferWord(bool answer) {
    Clk().Spin(WrappedCount(BitDelay, 65536));
    uint16_t frame = static_cast<uint16_t>((SendWord * 2) & 0x7FFE);
    uint16_t mask = 1;
    for (int i = 0; i < 16; ++i) {
        SetSck(true);
        SetMosi((frame & 1) != 0);
        frame = static_cast<uint16_t>(frame >> 1);
        SetSck(false);
        if (!answer) continue;
        if (GetMiso())
            RecvWord = static_cast<uint16_t>(RecvWord | mask);
        else
            RecvWord = static_cast<uint16_t>(RecvWord & ~mask);
        mask = static_cast<uint16_t>(mask << 1);
    }
    SetSck(false);
    if (answer) RecvWord = static_cast<uint16_t>((RecvWord & 0x7FFE) >> 1);
}

void PicEngine::LoadWord(uint8_t command, uint16_t word) {
    SendCommand(command);
    SendWord = word;
    TransferWord(false);  // the chip only listens during a load
}

void PicEngine::StepTo(int index) {
    for (int i = 0; i < index; ++i) SendCommand(kIncrementAddress);
}

int32_t PicEngine::ProgramWords() const {
    const int32_t bytes = Chip().FlashSize;
    return bytes > 0 ? bytes / 2 : 0;
}

// ---- engine interface ----

uint32_t PicEngine::ProgramOnlyUs() const {
    const PicConfigFacts* facts = FindPicConfig(Chip().CurrentChipName);
    return facts ? facts->ProgramOnlyUs : 0;
}

void PicEngine::InitPinMap() {
    AutoVerify = 1;
    WriteBlank = 0;
    BitDelay = 1;
    // Another chip may sit in the socket now: nothing is known to be erased.
    blankFrom_ = blankDataFrom_ = kNotErased;
    adapter::LoadPinFields(adapter::kPicWiring, *this);
}

Status PicEngine::PowerUp() {
    Status row = FinishRow();
    RaiseLines();
    return row;
}

Status PicEngine::PowerDown() {
    Status row = FinishRow();
    DropLines();
    return row;
}

void PicEngine::RaiseLines() {
    heldRead_ = -1;
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

void PicEngine::DropLines() {
    heldRead_ = -1;
    SetMode(false);
    SetRst(false);
    Sleep(1);
    SetRst(true);
    Sleep(20);
    SetPin(static_cast<uint8_t>(EnablePin), (EnableIdleLevel & 0xFF) != 0);
}

Status PicEngine::EnterProgramming() {
    return Outcome(PowerUp());
}

Status PicEngine::LeaveProgramming() {
    return Outcome(PowerDown());
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
            if (Status row = beyond ? Status() : SkipWord(w); !row) return Outcome(row);
            SendCommand(kIncrementAddress);
            return Outcome();
        }
        // It would wrap onto word 0 and overwrite the program.
        if (beyond) return Outcome(Status::Error("EngineOutsideMemory", HexText(w, 4)));
        LoadWord(kLoadProgram, word);
        if (Status programmed = ProgramWord(w, word); !programmed) return Outcome(programmed);
        SendCommand(kIncrementAddress);
        return Outcome();
    }
    // Above 0x2007 nothing is positioned: the word goes to wherever the counter stands.
    if (w <= kConfigWord) {
        if (w == 0x2005 || w == 0x2006) return Outcome();  // reserved and device ID: read-only
        // Configuration memory is only reachable from a fresh Load Configuration.
        if (Status row = PowerUp(); !row) return Outcome(row);
        LoadConfiguration(word);
        StepTo(w == kConfigWord ? 7 : w - kConfigStart);
    }
    LoadWord(kLoadProgram, word);
    EraseProgramCycle();
    if (AutoVerify != 0) {
        if (Status ok = PollProgramWord(w, word); !ok) return Outcome(ok);
    }
    SendCommand(kIncrementAddress);
    return Outcome();
}

Status PicEngine::PollProgramWord(int32_t w, uint16_t word) {
    // The configuration word's unimplemented bits read back as 1 whatever was written.
    const PicConfigFacts* facts = FindPicConfig(Chip().CurrentChipName);
    const uint16_t mask = w == kConfigWord && facts ? facts->Implemented : kBlankWord;
    const bool ok = PollReadBack([this, mask, word] {
        SendCommand(kReadProgram);
        TransferWord();
        return (RecvWord & mask) == (word & mask);
    });
    if (!ok) return WriteNeverReadBack(HexText(w, 4), RecvWord & kBlankWord, word);
    return {};
}

Status PicEngine::ProgramWord(int32_t w, uint16_t word) {
    // Right after an erase a word needs no erase of its own, where the family has the cycle.
    const uint32_t programOnly = ProgramBlank(w) ? ProgramOnlyUs() : 0;
    if (programOnly > 0) {
        ProgramOnlyCycle(programOnly, false);
        blankFrom_ = w + 1;
    } else {
        EraseProgramCycle();
    }
    if (AutoVerify == 0) return {};
    return PollProgramWord(w, word);
}

void PicEngine::EraseProgramCycle() {
    SendCommand(kBeginProgramming);
    const int32_t us = Chip().FlashWriteDelayUs;
    Sleep(us > 0 ? static_cast<uint32_t>((us + 999) / 1000) : fallbackCycleMs_);
}

void PicEngine::ProgramOnlyCycle(uint32_t us, bool endCommand) {
    SendCommand(kBeginProgrammingOnly);
    Sleep((us + 999) / 1000);
    if (!endCommand) return;
    SendCommand(kEndProgramming);
    // The discharge, in port accesses of a microsecond each (what a real port takes) and, on a
    // faster port, in time as well.
    const uint64_t start = Clk().NowNs();
    for (uint64_t ns = 0; ns < kDischargeNs; ns += 1000) (void)ReadStatusPort();
    while (Clk().NowNs() - start < kDischargeNs) Clk().Spin(64);
}

Result<uint8_t> PicEngine::ReadFlashByte(int32_t address) {
    // The high byte right after its low byte comes from the same read: one read per word.
    if (address % 2 == 0 || heldRead_ != address - 1) {
        SendCommand(kReadProgram);
        TransferWord();
    }
    if (address % 2 != 0) {
        const auto high = static_cast<uint8_t>(RecvWord >> 8);
        SendCommand(kIncrementAddress);
        return Outcome(high);
    }
    heldRead_ = address;
    return Outcome(static_cast<uint8_t>(RecvWord & 0xFF));
}

Status PicEngine::WriteEepromByte(int32_t address, uint8_t value) {
    const bool blank = DataBlank(address);
    if (blank) {
        blankDataFrom_ = address + 1;
        // An erased byte already holds it.
        if (value == 0xFF) {
            SendCommand(kIncrementAddress);
            return Outcome();
        }
    }
    LoadWord(kLoadData, value);
    // Data memory takes the program-only cycle where it ends with End Programming (16F87xA).
    const PicConfigFacts* facts = FindPicConfig(Chip().CurrentChipName);
    if (blank && facts && facts->Erase == PicErase::BulkAndChip)
        ProgramOnlyCycle(facts->ProgramOnlyUs, true);
    else
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
    if (Status row = PowerUp(); !row) return Outcome(row);
    LoadConfiguration(kBlankWord);
    StepTo(index);
    SendCommand(kReadProgram);
    TransferWord();
    const uint16_t word = RecvWord;
    DropLines();
    return Outcome(word);
}

Status PicEngine::WriteConfigWord(int index, uint16_t word) {
    if (!IsConfigIndex(index)) return NotSupported();
    if (Status row = PowerUp(); !row) return Outcome(row);
    LoadConfiguration(kBlankWord);
    StepTo(index);
    LoadWord(kLoadProgram, word);
    EraseProgramCycle();
    DropLines();
    return Outcome();
}

Status PicEngine::EraseEverything() {
    if (Status row = PowerUp(); !row) return Outcome(row);
    ForcedErase();
    MarkErased();
    DropLines();
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
    if (Status row = PowerDown(); !row) return Outcome(row);
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
        MarkErased();
        return Outcome();
    }
    LoadWord(kLoadData, kBlankWord);
    EraseSetupSequence();
    Sleep(10);
    LoadWord(kLoadProgram, kBlankWord);
    EraseSetupSequence();
    Sleep(10);
    MarkErased();
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
