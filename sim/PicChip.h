#pragma once
// Simulated PIC16 chips of the classic family (16F84A, 16F627/628, 16F870 to 16F877) and the
// 16F87xA family, as their programming sheets describe them: program/verify mode entered by the
// supply line and then VPP with clock and data low, 6-bit commands and 16-bit data frames taken
// on the falling clock edge, read data driven from the rising edge, the chip's own address
// counter, self-timed program and erase cycles, and code protection that hides the memories until
// the chip is erased.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/TargetChip.h"

namespace tondrel::sim {

enum class PicFamily {
    F84A,   // 16F84A: erase by the 1/7 sequence or bulk erase 9/11
    F62x,   // 16F627/628: same commands as the 16F84A
    F87x,   // 16F870..877: erase only by the 1/7 sequences
    F87xA,  // 16F873A..877A: bulk erase 9/11 and chip erase 0x1F, no 1/7
};

struct PicChipFacts {
    const char* Name;
    PicFamily Family;
    uint32_t ProgramWords;
    uint32_t EepromBytes;
    uint16_t DeviceId;         // word at 0x2006, revision bits included
    uint16_t ConfigMask;       // implemented bits of the configuration word
    uint16_t CodeProtectBits;  // all 1 = program memory readable
    uint16_t DataProtectBit;   // CPD; 0 = data memory never protected
};

class PicChip final : public TargetChip {
  public:
    explicit PicChip(const PicChipFacts& facts);

    std::string Name() const override { return facts_.Name; }
    void SetLines(const TargetLines& lines, uint64_t nowNs) override;
    bool DataOut(uint64_t nowNs) override;
    void SaveState(std::ostream& out) const override;
    bool LoadState(std::istream& in) override;

    // The cells as they are, past any protection, for tests and state checks.
    uint16_t ProgramCell(uint32_t word) const { return program_.at(word); }
    uint16_t ConfigCell(uint32_t offset) const;  // offset 0..7 from 0x2000
    uint8_t DataCell(uint32_t address) const { return data_.at(address); }
    const PicChipFacts& Facts() const { return facts_; }
    bool InProgramMode() const { return inProgram_; }
    uint16_t Counter() const { return pc_; }

    static constexpr uint64_t kProgramCycleNs = 4'000'000;
    static constexpr uint64_t kEraseCycleNs = 8'000'000;

  private:
    enum class Phase { Command, DataIn, DataOut };
    enum class LoadKind { Program, Data };
    enum class Work {
        None,
        Program,
        Config,
        Data,
        EraseProgram,
        EraseProgramConfig,
        EraseData,
        EraseAll
    };

    void FinishPending(uint64_t nowNs);
    void Enter();
    void Leave();
    void ClockFalling(bool bit, uint64_t nowNs);
    void ClockRising();
    void Execute(uint8_t command, uint64_t nowNs);
    void BeginProgramming(uint64_t nowNs);
    void Increment();
    uint16_t ReadProgramAtCounter() const;
    uint16_t ReadDataAtCounter() const;
    bool CodeProtected() const;
    bool DataProtected() const;
    uint16_t ConfigWordRead() const;
    bool Busy(uint64_t nowNs) const { return work_ != Work::None && nowNs < workDone_; }

    PicChipFacts facts_;
    std::vector<uint16_t> program_;
    std::vector<uint8_t> data_;
    uint16_t userId_[4];
    uint16_t config_;

    TargetLines lines_;
    uint64_t lastRiseNs_ = 0;
    uint64_t lastFallNs_ = 0;
    bool shortLowPhase_ = false;

    bool inProgram_ = false;
    uint16_t pc_ = 0;
    Phase phase_ = Phase::Command;
    int bitCount_ = 0;
    uint32_t shift_ = 0;
    uint8_t dataCommand_ = 0;  // the command whose data frame is in progress
    uint16_t outFrame_ = 0;
    bool driving_ = false;
    bool outBit_ = false;

    uint16_t programLatch_ = 0x3FFF;
    uint8_t dataLatch_ = 0xFF;
    LoadKind lastLoad_ = LoadKind::Program;
    uint8_t previousCommand_ = 0xFF;
    bool eraseSetup_ = false;  // toggled by command 1 followed by command 7
    uint8_t bulkArmed_ = 0;    // 9 or 11 waiting for Begin Programming

    Work work_ = Work::None;
    uint64_t workDone_ = 0;
    uint32_t workIndex_ = 0;
    uint16_t workValue_ = 0;
};

// Builds a model by upper-case catalogue name ("PIC16F877A"); nullptr for other names.
std::unique_ptr<TargetChip> CreatePicChip(const std::string& upperName);

}  // namespace tondrel::sim
