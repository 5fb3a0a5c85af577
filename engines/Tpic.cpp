#include "engines/Tpic.h"

#include <cstdio>

#include "adapter/Wiring.h"

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

void PicEngine::LoadConfiguration(uint16_t word) {
    SendCommand(kLoadConfiguration);
    SendWord = word;
    TransferWord();
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

bool PicEngine::EnterProgramming() {
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
    return true;
}

bool PicEngine::LeaveProgramming() {
    SetMode(false);
    SetRst(false);
    Sleep(1);
    SetRst(true);
    Sleep(20);
    SetPin(static_cast<uint8_t>(EnablePin), (EnableIdleLevel & 0xFF) != 0);
    return true;
}

void PicEngine::ReadSignature(std::string& text) {
    LoadConfiguration(kBlankWord);
    for (int i = 0; i < 6; ++i) SendCommand(kIncrementAddress);  // 0x2006: device ID
    SendCommand(kReadProgram);
    TransferWord();
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(RecvWord & 0xFFE0));
    text = buf;
}

bool PicEngine::WriteFlashByte(int32_t address, uint8_t value) {
    if (address % 2 == 0) {
        SendWord = value;  // the word goes out with its high byte
        return true;
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
            return true;
        }
        if (beyond) return false;  // would wrap onto word 0 and overwrite the program
    } else if (w <= kConfigWord) {
        if (w == 0x2005 || w == 0x2006) return true;  // reserved and device ID: read-only
        // Configuration memory is only reachable from a fresh Load Configuration.
        EnterProgramming();
        SendCommand(kLoadConfiguration);
        TransferWord();
        const int steps = (w == kConfigWord) ? 7 : w - kConfigStart;
        for (int i = 0; i < steps; ++i) SendCommand(kIncrementAddress);
    }

    SendCommand(kLoadProgram);
    TransferWord();
    if (w < kConfigStart)
        ProgramLoadedWord();
    else
        EraseProgramCycle();
    if (AutoVerify == 0) {
        SendCommand(kIncrementAddress);
        return true;
    }
    const bool ok = PollReadBack([this] {
        SendCommand(kReadProgram);
        TransferWord();
        return RecvWord == SendWord;
    });
    if (ok) SendCommand(kIncrementAddress);
    return ok;
}

void PicEngine::EraseProgramCycle() {
    SendCommand(kBeginProgramming);
    Sleep(EraseProgramMs());
}

void PicEngine::ProgramLoadedWord() {
    EraseProgramCycle();
}

uint8_t PicEngine::ReadFlashByte(int32_t address) {
    SendCommand(kReadProgram);
    TransferWord();
    if (address % 2 != 0) {
        SendCommand(kIncrementAddress);
        return static_cast<uint8_t>(RecvWord >> 8);
    }
    return static_cast<uint8_t>(RecvWord & 0xFF);
}

bool PicEngine::WriteEepromByte(int32_t address, uint8_t value) {
    (void)address;  // the chip's counter decides
    SendCommand(kLoadData);
    SendWord = value;
    TransferWord();
    EraseProgramCycle();
    if (AutoVerify == 0) {
        SendCommand(kIncrementAddress);
        return true;
    }
    const bool ok = PollReadBack([this, value] {
        SendCommand(kReadData);
        TransferWord();
        return (RecvWord & 0xFF) == value;
    });
    if (ok) SendCommand(kIncrementAddress);
    return ok;
}

uint8_t PicEngine::ReadEepromByte(int32_t address) {
    (void)address;
    SendCommand(kReadData);
    TransferWord();
    SendCommand(kIncrementAddress);
    return static_cast<uint8_t>(RecvWord & 0xFF);
}

uint16_t PicEngine::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    (void)b4;
    uint16_t result = 0;
    if (b1 <= 3 || b1 == 7) {
        EnterProgramming();
        LoadConfiguration(kBlankWord);
        for (int i = 0; i < b1; ++i) SendCommand(kIncrementAddress);
        SendCommand(kReadProgram);
        TransferWord();
        result = RecvWord;
    } else if ((b1 >= 10 && b1 <= 13) || b1 == 17) {
        EnterProgramming();
        LoadConfiguration(kBlankWord);
        const int steps = (b1 == 17) ? 7 : b1 - 10;
        for (int i = 0; i < steps; ++i) SendCommand(kIncrementAddress);
        SendCommand(kLoadProgram);
        SendWord = static_cast<uint16_t>(b2 * 256 + b3);
        TransferWord();
        EraseProgramCycle();
    } else if (b1 == 20) {
        EnterProgramming();
        ForcedErase();
    }
    LeaveProgramming();
    return result;
}

// ---- Tpic: the older chips' command 1/7 sequences ----

uint32_t Tpic::EraseProgramMs() const {
    // Erase then program, as the programming sheets quote them: 16F84A 10 ms, 16F87x 4 + 4 ms,
    // 16F627/628 5 + 8 ms, which is also the wait for a chip not named here.
    const std::string& name = Chip().CurrentChipName;
    if (name.find("16F84") != std::string::npos) return 10;
    if (name.find("16F87") != std::string::npos) return 8;
    return 13;
}

void Tpic::EraseChip() {
    SendCommand(kLoadData);
    SendWord = kBlankWord;
    TransferWord();
    SendCommand(kEraseSetup1);
    SendCommand(kEraseSetup2);
    SendCommand(kBeginProgramming);
    Sleep(10);
    SendCommand(kEraseSetup1);
    SendCommand(kEraseSetup2);
    Sleep(10);

    SendCommand(kLoadProgram);
    SendWord = kBlankWord;
    TransferWord();
    SendCommand(kEraseSetup1);
    SendCommand(kEraseSetup2);
    SendCommand(kBeginProgramming);
    Sleep(10);
    SendCommand(kEraseSetup1);
    SendCommand(kEraseSetup2);
    Sleep(10);
}

void Tpic::ForcedErase() {
    // Code-protect disable: the erase sequence run with the counter on the configuration word
    // wipes program memory, data memory and configuration together.
    LoadConfiguration(kBlankWord);
    for (int i = 0; i < 7; ++i) SendCommand(kIncrementAddress);
    SendCommand(kEraseSetup1);
    SendCommand(kEraseSetup2);
    SendCommand(kBeginProgramming);
    Sleep(10);
    SendCommand(kEraseSetup1);
    SendCommand(kEraseSetup2);
}

}  // namespace tondrel
