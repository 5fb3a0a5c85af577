#include "sim/PicChip.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <sstream>

namespace tondrel::sim {

namespace {

constexpr uint16_t kConfigStart = 0x2000;
constexpr uint16_t kBlank = 0x3FFF;
constexpr const char* kStateTag = "tondrel-pic";

// Sizes and IDs from the programming sheets (DS30262, DS30034, DS39025, DS39589). Revision bits
// are set to show that callers must mask them: five on the classic parts, four on the A parts.
constexpr PicChipFacts kFacts[] = {
    {"PIC16F84A", PicFamily::F84A, 1024, 64, 0x0567, 0x3FFF, 0x3FF0, 0x0000},
    {"PIC16F627", PicFamily::F62x, 1024, 128, 0x07A3, 0x3DFF, 0x3C00, 0x0100},
    {"PIC16F628", PicFamily::F62x, 2048, 128, 0x07C3, 0x3DFF, 0x3C00, 0x0100},
    {"PIC16F870", PicFamily::F87x, 2048, 64, 0x0D02, 0x3BFF, 0x3030, 0x0100},
    {"PIC16F871", PicFamily::F87x, 2048, 64, 0x0D22, 0x3BFF, 0x3030, 0x0100},
    {"PIC16F872", PicFamily::F87x, 2048, 64, 0x08E2, 0x3BFF, 0x3030, 0x0100},
    {"PIC16F873", PicFamily::F87x, 4096, 128, 0x0962, 0x3BFF, 0x3030, 0x0100},
    {"PIC16F874", PicFamily::F87x, 4096, 128, 0x0922, 0x3BFF, 0x3030, 0x0100},
    {"PIC16F876", PicFamily::F87x, 8192, 256, 0x09E2, 0x3BFF, 0x3030, 0x0100},
    {"PIC16F877", PicFamily::F87x, 8192, 256, 0x09A2, 0x3BFF, 0x3030, 0x0100},
    {"PIC16F873A", PicFamily::F87xA, 4096, 128, 0x0E43, 0x2FCF, 0x2000, 0x0100},
    {"PIC16F874A", PicFamily::F87xA, 4096, 128, 0x0E63, 0x2FCF, 0x2000, 0x0100},
    {"PIC16F876A", PicFamily::F87xA, 8192, 256, 0x0E03, 0x2FCF, 0x2000, 0x0100},
    {"PIC16F877A", PicFamily::F87xA, 8192, 256, 0x0E23, 0x2FCF, 0x2000, 0x0100},
};

// Cycle times from the programming sheets, the longest each one quotes: the 16F84A's
// erase/program cycle is quoted at 10 ms (4 + 4 ms typical), the 16F87x erases and programs in
// 4 + 4 ms, the 16F627/628 in 5 + 8 ms. The 87xA's Begin Programming Only runs until End
// Programming and must last at least TPROG1, 1 ms; its erase/program cycle (TPROG2) and its erases
// are internally timed.
constexpr PicTiming kTiming[] = {
    {10'000'000, 4'000'000, 10'000'000},  // F84A
    {13'000'000, 8'000'000, 5'000'000},   // F62x
    {8'000'000, 4'000'000, 8'000'000},    // F87x
    {10'000'000, 1'000'000, 8'000'000},   // F87xA
};

}  // namespace

const PicTiming& PicChip::TimingOf(PicFamily family) {
    return kTiming[static_cast<int>(family)];
}

bool PicChip::Accepts(PicFamily family, uint8_t command) {
    switch (command) {
        case 0:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 8:
        case 0x18:
            return true;
        case 1:
        case 7:  // the bulk-erase setup pair of the older sheets
            return family != PicFamily::F87xA;
        case 9:
        case 0x0B:
            return family != PicFamily::F87x;
        case 0x17:
        case 0x1F:
            return family == PicFamily::F87xA;
        default:
            return false;
    }
}

PicChip::PicChip(const PicChipFacts& facts)
    : facts_(facts),
      program_(facts.ProgramWords, kBlank),
      data_(facts.EepromBytes, 0xFF),
      userId_{kBlank, kBlank, kBlank, kBlank},
      config_(kBlank) {
    std::fill(std::begin(blockLatch_), std::end(blockLatch_), kBlank);
    std::fill(std::begin(workBlock_), std::end(workBlock_), kBlank);
}

// ---- lines ----

void PicChip::SetLines(const TargetLines& lines, uint64_t nowNs) {
    FinishPending(nowNs);
    // With the adapter's drivers off the chip has neither supply nor VPP.
    const TargetLines now = lines.Connected ? lines : TargetLines{};
    const TargetLines before = lines_;
    lines_ = now;

    const bool powered = now.Mode && now.Rst;
    if (inProgram_ && !powered) {
        Leave();
        return;
    }
    if (!inProgram_) {
        // Supply first, then VPP, with clock and data low; any other order leaves the chip running.
        if (powered && before.Mode && !before.Rst && !now.Sck && !now.Mosi) Enter();
        return;
    }

    // Inside a cycle the chip listens for nothing: the clocks are lost. Only the 87xA's externally
    // timed programming goes on decoding, waiting for End Programming.
    if (Busy(nowNs) && !externallyTimed_) return;

    const uint64_t minPhase = Faults.MinPhaseNs;
    if (now.Sck && !before.Sck) {
        shortLowPhase_ = minPhase > 0 && nowNs - lastFallNs_ < minPhase;
        lastRiseNs_ = nowNs;
        ClockRising();
    } else if (!now.Sck && before.Sck) {
        const bool tooFast = minPhase > 0 && (nowNs - lastRiseNs_ < minPhase || shortLowPhase_);
        lastFallNs_ = nowNs;
        ClockFalling(now.Mosi != tooFast, nowNs);
    }
}

bool PicChip::DataOut(uint64_t nowNs) {
    FinishPending(nowNs);
    // One data pin: while the chip is not driving it, it follows the adapter's data line.
    return driving_ ? outBit_ : lines_.Mosi;
}

void PicChip::Enter() {
    inProgram_ = true;
    pc_ = 0;
    phase_ = Phase::Command;
    bitCount_ = 0;
    shift_ = 0;
    driving_ = false;
    programLatch_ = kBlank;
    std::fill(std::begin(blockLatch_), std::end(blockLatch_), kBlank);
    dataLatch_ = 0xFF;
    lastLoad_ = LoadKind::Program;
    previousCommand_ = 0xFF;
    eraseSetup_ = false;
    bulkArmed_ = 0;
}

void PicChip::Leave() {
    inProgram_ = false;
    driving_ = false;
    work_ = Work::None;  // a cycle cut short by losing the supply never completes
    externallyTimed_ = false;
    quietUntil_ = 0;
}

void PicChip::ClockRising() {
    if (phase_ != Phase::DataOut) return;
    outBit_ = ((outFrame_ >> bitCount_) & 1) != 0;
    driving_ = true;
}

void PicChip::ClockFalling(bool bit, uint64_t nowNs) {
    switch (phase_) {
        case Phase::Command:
            shift_ |= (bit ? 1u : 0u) << bitCount_;
            if (++bitCount_ == 6) {
                const auto command = static_cast<uint8_t>(shift_);
                bitCount_ = 0;
                shift_ = 0;
                Execute(command, nowNs);
            }
            break;
        case Phase::DataIn:
            shift_ |= (bit ? 1u : 0u) << bitCount_;
            if (++bitCount_ == 16) {
                const auto word = static_cast<uint16_t>((shift_ >> 1) & 0x3FFF);
                if (dataCommand_ == 3) {
                    dataLatch_ = static_cast<uint8_t>(word & 0xFF);
                    lastLoad_ = LoadKind::Data;
                } else {
                    programLatch_ = word;
                    lastLoad_ = LoadKind::Program;
                    // The 87xA latches program words by the counter's low three bits.
                    if (facts_.Family == PicFamily::F87xA && dataCommand_ == 2 &&
                        pc_ < kConfigStart)
                        blockLatch_[pc_ % kLatches] = word;
                }
                phase_ = Phase::Command;
                bitCount_ = 0;
                shift_ = 0;
            }
            break;
        case Phase::DataOut:
            if (++bitCount_ == 16) {
                phase_ = Phase::Command;
                bitCount_ = 0;
                driving_ = false;
            }
            break;
    }
}

// ---- commands ----

void PicChip::Execute(uint8_t command, uint64_t nowNs) {
    if (externallyTimed_) {
        // Programming runs until End Programming; any other command is lost.
        if (command == 0x17) EndProgramming(nowNs);
        return;
    }
    if (!Accepts(facts_.Family, command)) {
        previousCommand_ = command;
        return;
    }
    const bool pairCompleted = command == 7 && previousCommand_ == 1;
    previousCommand_ = command;

    switch (command) {
        case 0:  // Load Configuration
            pc_ = kConfigStart;
            phase_ = Phase::DataIn;
            dataCommand_ = command;
            break;
        case 2:  // Load Data for Program Memory
        case 3:  // Load Data for Data Memory
            phase_ = Phase::DataIn;
            dataCommand_ = command;
            break;
        case 4:  // Read Data from Program Memory
            outFrame_ = static_cast<uint16_t>((ReadProgramAtCounter() << 1) & 0x7FFE);
            phase_ = Phase::DataOut;
            break;
        case 5:  // Read Data from Data Memory
            outFrame_ = static_cast<uint16_t>(ReadDataAtCounter() << 1);
            phase_ = Phase::DataOut;
            break;
        case 6:
            Increment();
            break;
        case 7:
            if (pairCompleted) eraseSetup_ = !eraseSetup_;
            break;
        case 8:  // Begin Erase/Programming Cycle
            BeginProgramming(nowNs, true);
            break;
        case 0x18:  // Begin Programming Only Cycle
            BeginProgramming(nowNs, false);
            break;
        case 9:   // Bulk Erase Program Memory
        case 11:  // Bulk Erase Data Memory
            bulkArmed_ = command;
            break;
        case 0x1F:  // Chip Erase: everything, protected or not, from configuration memory only
            if (pc_ < kConfigStart) break;
            work_ = Work::EraseAll;
            workErases_ = true;
            workStart_ = nowNs;
            workDone_ = nowNs + Timing().EraseNs;
            break;
        default:
            break;  // command 1 and End Programming outside a cycle have no effect of their own
    }
}

void PicChip::BeginProgramming(uint64_t nowNs, bool eraseFirst) {
    const PicTiming& timing = Timing();
    const bool aFamily = facts_.Family == PicFamily::F87xA;
    Work work = Work::None;
    uint64_t cycle = eraseFirst ? timing.EraseProgramNs : timing.ProgramOnlyNs;

    if (eraseFirst && eraseSetup_) {
        cycle = timing.EraseNs;
        if (pc_ == kConfigStart + 7)
            work = Work::EraseAll;  // the code-protect disable sequence
        else if (lastLoad_ == LoadKind::Data)
            work = DataProtected() ? Work::None : Work::EraseData;
        else if (pc_ < kConfigStart)
            work = CodeProtected() ? Work::None : Work::EraseProgram;
    } else if (eraseFirst && bulkArmed_ != 0) {
        cycle = timing.EraseNs;
        const uint8_t which = bulkArmed_;
        bulkArmed_ = 0;
        if (which == 9 && !CodeProtected())
            work = pc_ >= kConfigStart ? Work::EraseProgramConfig : Work::EraseProgram;
        else if (which == 11 && !DataProtected())
            work = Work::EraseData;
    } else if (lastLoad_ == LoadKind::Data) {
        if (!data_.empty() && !DataProtected()) {
            work = Work::Data;
            workIndex_ = pc_ % data_.size();
            workValue_ = dataLatch_;
        }
    } else if (pc_ < kConfigStart) {
        const uint32_t index = pc_ % facts_.ProgramWords;
        if (CodeProtected()) {
            work = Work::None;
        } else if (aFamily) {
            // The whole block the counter is in gets all eight latches, loaded or not; the
            // latches go back to blank for the next block.
            work = Work::Block;
            workIndex_ = index - index % kLatches;
            std::copy(std::begin(blockLatch_), std::end(blockLatch_), std::begin(workBlock_));
            std::fill(std::begin(blockLatch_), std::end(blockLatch_), kBlank);
        } else if (static_cast<int64_t>(index) != Faults.StuckAddress) {
            work = Work::Program;
            workIndex_ = index;
            workValue_ = programLatch_;
        }
    } else {
        const uint32_t offset = pc_ - kConfigStart;
        if (offset < 4 || offset == 7) {
            work = Work::Config;
            workIndex_ = offset;
            workValue_ = programLatch_;
        }
    }
    if (work == Work::None) return;
    work_ = work;
    workErases_ = eraseFirst || work == Work::EraseAll || work == Work::EraseProgram ||
                  work == Work::EraseProgramConfig || work == Work::EraseData;
    workStart_ = nowNs;
    externallyTimed_ = aFamily && !eraseFirst;
    workDone_ = nowNs + cycle;
}

void PicChip::EndProgramming(uint64_t nowNs) {
    // Ended before TPROG1 the cells have not taken the charge: nothing is written.
    if (nowNs - workStart_ >= Timing().ProgramOnlyNs) Commit();
    work_ = Work::None;
    externallyTimed_ = false;
    quietUntil_ = nowNs + kDischargeNs;
}

void PicChip::FinishPending(uint64_t nowNs) {
    if (work_ == Work::None || externallyTimed_ || nowNs < workDone_) return;
    Commit();
    work_ = Work::None;
}

void PicChip::Commit() {
    // Programming alone only clears bits; an erase/program cycle first sets the cells blank.
    auto program = [this](uint16_t old, uint16_t value) {
        return static_cast<uint16_t>((workErases_ ? value : (old & value)) & 0x3FFF);
    };
    switch (work_) {
        case Work::Program:
            program_[workIndex_] = program(program_[workIndex_], workValue_);
            break;
        case Work::Block:
            for (uint32_t i = 0; i < kLatches; ++i) {
                const uint32_t word = workIndex_ + i;
                if (word >= program_.size() || static_cast<int64_t>(word) == Faults.StuckAddress)
                    continue;
                program_[word] = program(program_[word], workBlock_[i]);
            }
            break;
        case Work::Config:
            if (workIndex_ < 4) {
                userId_[workIndex_] = program(userId_[workIndex_], workValue_);
            } else {
                // Protection bits go from 1 to 0 only; the erase sequences set them back.
                const uint16_t guard = facts_.CodeProtectBits | facts_.DataProtectBit;
                uint16_t next = static_cast<uint16_t>((workValue_ & facts_.ConfigMask) |
                                                      (~facts_.ConfigMask & 0x3FFF));
                if (!workErases_) next &= config_;
                next = static_cast<uint16_t>((next & ~guard) | (next & config_ & guard));
                config_ = next;
            }
            break;
        case Work::Data:
            data_[workIndex_] =
                static_cast<uint8_t>(workErases_ ? workValue_ : (data_[workIndex_] & workValue_));
            break;
        case Work::EraseAll:
            std::fill(data_.begin(), data_.end(), 0xFF);
            [[fallthrough]];
        case Work::EraseProgramConfig:
            std::fill(std::begin(userId_), std::end(userId_), kBlank);
            config_ = kBlank;
            [[fallthrough]];
        case Work::EraseProgram:
            std::fill(program_.begin(), program_.end(), kBlank);
            break;
        case Work::EraseData:
            std::fill(data_.begin(), data_.end(), 0xFF);
            break;
        case Work::None:
            break;
    }
}

void PicChip::Increment() {
    if (pc_ < kConfigStart)
        pc_ = static_cast<uint16_t>((pc_ + 1u) % facts_.ProgramWords);  // wraps onto word 0
    else
        pc_ = pc_ == 0x3FFF ? kConfigStart : static_cast<uint16_t>(pc_ + 1u);
}

bool PicChip::CodeProtected() const {
    return (config_ & facts_.CodeProtectBits) != facts_.CodeProtectBits;
}

bool PicChip::DataProtected() const {
    return facts_.DataProtectBit != 0 && (config_ & facts_.DataProtectBit) == 0;
}

uint16_t PicChip::ReadProgramAtCounter() const {
    if (pc_ < kConfigStart) return CodeProtected() ? 0 : program_[pc_ % facts_.ProgramWords];
    return ConfigCell(pc_ - kConfigStart);
}

uint16_t PicChip::ReadDataAtCounter() const {
    if (data_.empty() || DataProtected()) return 0;
    return data_[pc_ % data_.size()];
}

uint16_t PicChip::ConfigCell(uint32_t offset) const {
    if (offset < 4) return userId_[offset];
    if (offset == 6) return facts_.DeviceId;
    if (offset == 7) return config_;
    return kBlank;
}

// ---- state file ----

void PicChip::SaveState(std::ostream& out) const {
    out << kStateTag << ' ' << facts_.Name << '\n' << std::hex;
    out << "program " << program_.size();
    for (uint16_t w : program_) out << ' ' << w;
    out << "\nids";
    for (uint16_t w : userId_) out << ' ' << w;
    out << "\nconfig " << config_ << "\ndata " << data_.size();
    for (uint8_t b : data_) out << ' ' << unsigned{b};
    out << '\n' << std::dec;
}

bool PicChip::LoadState(std::istream& in) {
    std::string tag, name;
    if (!(in >> tag >> name) || tag != kStateTag || name != facts_.Name) return false;
    std::string key;
    size_t count = 0;
    in >> std::hex;
    auto readCount = [&](const char* expectedKey, size_t expected) {
        return (in >> key >> count) && key == expectedKey && count == expected;
    };
    std::vector<uint16_t> program(program_.size());
    std::vector<uint8_t> data(data_.size());
    uint16_t ids[4];
    uint16_t config = 0;
    bool ok = readCount("program", program.size());
    for (size_t i = 0; ok && i < program.size(); ++i) ok = static_cast<bool>(in >> program[i]);
    ok = ok && (in >> key) && key == "ids";
    for (uint16_t& w : ids) ok = ok && static_cast<bool>(in >> w);
    ok = ok && (in >> key >> config) && key == "config";
    ok = ok && readCount("data", data.size());
    for (size_t i = 0; ok && i < data.size(); ++i) {
        unsigned b = 0;
        ok = static_cast<bool>(in >> b) && b <= 0xFF;
        data[i] = static_cast<uint8_t>(b);
    }
    in >> std::dec;
    if (!ok) return false;
    for (uint16_t& w : program) w &= 0x3FFF;
    program_ = std::move(program);
    data_ = std::move(data);
    for (int i = 0; i < 4; ++i) userId_[i] = ids[i] & 0x3FFF;
    config_ = static_cast<uint16_t>((config & facts_.ConfigMask) | (~facts_.ConfigMask & 0x3FFF));
    return true;
}

std::unique_ptr<TargetChip> CreatePicChip(const std::string& upperName) {
    for (const auto& facts : kFacts) {
        if (upperName == facts.Name) return std::make_unique<PicChip>(facts);
    }
    return nullptr;
}

}  // namespace tondrel::sim
