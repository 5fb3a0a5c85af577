#pragma once
// Simulated PIC16 chips of the classic family (16F84A, 16F627/628, 16F870 to 16F877) and the
// 16F87xA family, as their programming sheets describe them: program/verify mode entered by the
// supply line and then VPP with clock and data low, 6-bit commands and 16-bit data frames taken
// on the falling clock edge, read data driven from the rising edge, the chip's own address
// counter, code protection that hides the memories until the chip is erased, and each family's
// own command set and cycle times. While a cycle runs the chip takes no command: whatever the
// host clocks in meanwhile is lost, and the data line is not driven. The 16F87xA writes program
// memory through eight latches, one 8-word block at a time.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/TargetChip.h"

namespace tondrel::sim {

enum class PicFamily {
    F84A,   // 16F84A (DS30262): erase by the 1/7 sequence or bulk erase 9/11
    F62x,   // 16F627/628 (DS30034): same commands as the 16F84A
    F87x,   // 16F870..877 (DS39025): erase only by the 1/7 sequences, no 9/11
    F87xA,  // 16F873A..877A (DS39589): bulk erase 9/11, chip erase 0x1F, End Programming 0x17,
            // no 1/7
};

// Cycle times of a family, worst case as the programming sheets give them.
struct PicTiming {
    uint64_t EraseProgramNs;  // Begin Erase/Programming Cycle (0x08): erase, then program
    uint64_t ProgramOnlyNs;   // Begin Programming Only (0x18); on the 87xA the least time it
                              // must run before End Programming (externally timed)
    uint64_t EraseNs;         // bulk erase, chip erase and the 1/7 sequences
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
    const PicTiming& Timing() const { return TimingOf(facts_.Family); }
    bool InProgramMode() const { return inProgram_; }
    uint16_t Counter() const { return pc_; }

    static const PicTiming& TimingOf(PicFamily family);
    // Whether the family knows the command; any other code is ignored, with no data frame.
    static bool Accepts(PicFamily family, uint8_t command);

    static constexpr int kLatches = 8;                 // 87xA program-memory write latches
    static constexpr uint64_t kDischargeNs = 100'000;  // after End Programming

  private:
    enum class Phase { Command, DataIn, DataOut };
    enum class LoadKind { Program, Data };
    enum class Work {
        None,
        Program,
        Block,  // the 87xA's eight latches into one 8-word block
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
    void BeginProgramming(uint64_t nowNs, bool eraseFirst);
    void EndProgramming(uint64_t nowNs);
    void Commit();
    void Increment();
    uint16_t ReadProgramAtCounter() const;
    uint16_t ReadDataAtCounter() const;
    bool CodeProtected() const;
    bool DataProtected() const;
    bool Busy(uint64_t nowNs) const {
        return (work_ != Work::None && (externallyTimed_ || nowNs < workDone_)) ||
               nowNs < quietUntil_;
    }

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
    uint16_t blockLatch_[kLatches];
    uint8_t dataLatch_ = 0xFF;
    LoadKind lastLoad_ = LoadKind::Program;
    uint8_t previousCommand_ = 0xFF;
    bool eraseSetup_ = false;  // toggled by command 1 followed by command 7
    uint8_t bulkArmed_ = 0;    // 9 or 11 waiting for Begin Programming

    Work work_ = Work::None;
    bool workErases_ = true;        // erase before programming (0x08) or program only (0x18)
    bool externallyTimed_ = false;  // 87xA 0x18: runs until End Programming
    uint64_t workStart_ = 0;
    uint64_t workDone_ = 0;
    uint64_t quietUntil_ = 0;
    uint32_t workIndex_ = 0;
    uint16_t workValue_ = 0;
    uint16_t workBlock_[kLatches];
};

// Builds a model by upper-case catalogue name ("PIC16F877A"); nullptr for other names.
std::unique_ptr<TargetChip> CreatePicChip(const std::string& upperName);

}  // namespace tondrel::sim
