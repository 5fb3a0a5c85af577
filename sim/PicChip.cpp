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

}  // namespace

PicChip::PicChip(const PicChipFacts& facts)
    : facts_(facts),
      program_(facts.ProgramWords, kBlank),
      data_(facts.EepromBytes, 0xFF),
      userId_{kBlank, kBlank, kBlank, kBlank},
      config_(kBlank) {}

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
    const bool pairCompleted = command == 7 && previousCommand_ == 1;
    previousCommand_ = command;
    const bool classic = facts_.Family != PicFamily::F87xA;
    const bool hasBulkCommands = facts_.Family != PicFamily::F87x;

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
            if (classic && pairCompleted) eraseSetup_ = !eraseSetup_;
            break;
        case 8:
            BeginProgramming(nowNs);
            break;
        case 9:   // Bulk Erase Program Memory
        case 11:  // Bulk Erase Data Memory
            if (hasBulkCommands) bulkArmed_ = command;
            break;
        case 31:  // Chip Erase: everything, protected or not
            if (!classic && !Busy(nowNs)) {
                work_ = Work::EraseAll;
                workDone_ = nowNs + kEraseCycleNs;
            }
            break;
        default:
            break;  // commands 1 and unknown codes have no effect of their own
    }
}

void PicChip::BeginProgramming(uint64_t nowNs) {
    if (Busy(nowNs)) return;
    Work work = Work::None;
    uint64_t cycle = kProgramCycleNs;

    if (eraseSetup_) {
        cycle = kEraseCycleNs;
        if (pc_ == kConfigStart + 7)
            work = Work::EraseAll;  // the code-protect disable sequence
        else if (lastLoad_ == LoadKind::Data)
            work = DataProtected() ? Work::None : Work::EraseData;
        else if (pc_ < kConfigStart)
            work = CodeProtected() ? Work::None : Work::EraseProgram;
    } else if (bulkArmed_ != 0) {
        cycle = kEraseCycleNs;
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
        if (!CodeProtected() && static_cast<int64_t>(index) != Faults.StuckAddress) {
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
    workDone_ = nowNs + cycle;
}

void PicChip::FinishPending(uint64_t nowNs) {
    if (work_ == Work::None || nowNs < workDone_) return;
    switch (work_) {
        case Work::Program:
            program_[workIndex_] = workValue_ & 0x3FFF;
            break;
        case Work::Config:
            if (workIndex_ < 4) {
                userId_[workIndex_] = workValue_ & 0x3FFF;
            } else {
                // Protection bits go from 1 to 0 only; the erase sequences set them back.
                const uint16_t guard = facts_.CodeProtectBits | facts_.DataProtectBit;
                uint16_t next = static_cast<uint16_t>((workValue_ & facts_.ConfigMask) |
                                                      (~facts_.ConfigMask & 0x3FFF));
                next = static_cast<uint16_t>((next & ~guard) | (next & config_ & guard));
                config_ = next;
            }
            break;
        case Work::Data:
            data_[workIndex_] = static_cast<uint8_t>(workValue_);
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
    work_ = Work::None;
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
