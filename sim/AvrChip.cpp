#include "sim/AvrChip.h"

#include <algorithm>
#include <istream>
#include <optional>
#include <ostream>
#include <sstream>

#include "common/AvrClock.h"
#include "common/Text.h"
#include "sim/HexBytes.h"

namespace tondrel::sim {

namespace {

constexpr const char* kStateTag = "tondrel-avr-state";

// Reads "<tag> <count> <hex>" from one line.
bool ReadMemoryLine(std::istream& in, const char* tag, size_t size, std::vector<uint8_t>& out) {
    std::string line, word, hex;
    size_t count = 0;
    if (!std::getline(in, line)) return false;
    std::istringstream ls(line);
    if (!(ls >> word) || word != tag || !(ls >> count) || count != size) return false;
    if (size == 0) return true;
    return (ls >> hex) && ParseHexBytes(hex, size, out);
}

}  // namespace

AvrChip::AvrChip(const AvrFacts& facts)
    : facts_(facts),
      flash_(static_cast<size_t>(facts.FlashSize), 0xFF),
      eeprom_(static_cast<size_t>(facts.EepromSize), 0xFF),
      pageBuffer_(static_cast<size_t>(std::max(facts.PageSize, 0)), 0xFF),
      eepromPage_(static_cast<size_t>(std::max(facts.EepromPageSize, 0))),
      fuseLow_(facts.FuseLow),
      fuseHigh_(facts.FuseHigh),
      fuseExt_(facts.FuseExt),
      lock_(0xFF) {
    ApplyConfiguration();
}

// ---- serial interface ----

void AvrChip::SetLines(const TargetLines& lines, uint64_t nowNs) {
    // With the adapter's drivers off, /RESET is pulled up: the chip runs its program. With
    // RSTDISBL or DWEN programmed, or without a clock, pulling it low starts nothing.
    const bool resetLow = lines.Connected && !lines.Rst && !SerialProgrammingOff();
    const bool prevSck = lines_.Connected && lines_.Sck;
    if (!resetLow) {
        // Leaving reset, the chip starts on what its fuses now say.
        if (inReset_) ApplyConfiguration();
        inReset_ = false;
        enabled_ = false;
    } else if (!inReset_) {
        inReset_ = true;
        EnterReset();
        spi_.Reset(prevSck, nowNs);  // the clock phase under way counts from the reset
    }
    if (inReset_) {
        const bool sck = lines.Connected && lines.Sck;
        if (const auto byte = spi_.Step(sck, lines.Mosi, nowNs, MinPhaseNs()))
            ByteDone(*byte, nowNs);
    }
    lines_ = lines;
}

std::optional<uint32_t> AvrChip::RunningHz() const {
    if (Faults.ClockHz > 0) return Faults.ClockHz;
    return runningHz_;
}

bool AvrChip::SerialProgrammingOff() const {
    return resetPinOff_ || !RunningHz();
}

bool AvrChip::FuseProgrammed(const char* name) const {
    if (!facts_.Part) return false;
    const std::pair<const std::array<const char*, 8>*, uint8_t> bytes[] = {
        {&facts_.Part->LowBits, fuseLow_},
        {&facts_.Part->HighBits, fuseHigh_},
        {&facts_.Part->ExtBits, fuseExt_}};
    for (const auto& [bits, value] : bytes)
        for (int i = 0; i < 8; ++i) {
            const char* n = (*bits)[static_cast<size_t>(i)];
            if (n && std::string_view(n) == name) return ((value >> i) & 1u) == 0;
        }
    return false;
}

void AvrChip::ApplyConfiguration() {
    if (!facts_.Part) {
        runningHz_ = facts_.FactoryClockHz;
    } else {
        const BoardClock board =
            Faults.BoardHz > 0 ? BoardClock{Faults.BoardHz, HasCrystalOscillator(*facts_.Part)}
                               : FactoryBoard(*facts_.Part);
        runningHz_ = RunningClock(*facts_.Part, fuseLow_, fuseHigh_, board);
    }
    // RSTDISBL makes /RESET an I/O pin and DWEN hands it to debugWIRE: either way only a
    // high-voltage programmer reaches the chip again.
    resetPinOff_ =
        FuseProgrammed("RSTDISBL") || FuseProgrammed("RSTDSBL") || FuseProgrammed("DWEN");
}

void AvrChip::FitToBoard() {
    if (facts_.Part && Faults.BoardHz > 0)
        FitFusesToBoard(*facts_.Part, {Faults.BoardHz, HasCrystalOscillator(*facts_.Part)},
                        fuseLow_, fuseHigh_);
    ApplyConfiguration();
}

uint64_t AvrChip::MinPhaseNs() const {
    // SCK high and low must each last more than 2 CPU cycles, 3 from 12 MHz up (serial
    // programming characteristics of the ATmega datasheets).
    const uint64_t hz = RunningHz().value_or(0);
    uint64_t chip = 0;
    if (hz > 0) chip = ((hz >= 12'000'000 ? 3u : 2u) * 1'000'000'000ull + hz - 1) / hz;
    return std::max(Faults.MinPhaseNs, chip);
}

bool AvrChip::DataOut(uint64_t) {
    if (!inReset_) return true;  // MISO is a port pin of the running program, pulled up
    return spi_.Out();
}

void AvrChip::EnterReset() {
    enabled_ = false;
    extAddress_ = 0;
    byteInFrame_ = 0;
    frame_ = {};
    std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);  // the page buffer is volatile
    std::fill(eepromPage_.begin(), eepromPage_.end(), std::nullopt);
}

void AvrChip::ByteDone(uint8_t byte, uint64_t nowNs) {
    const size_t index = byteInFrame_;
    frame_[index] = byte;
    // Once enabled, the output shift register hands back the byte just received, unless a read
    // has put its answer there. Before that the chip drives MISO only to echo 0x53, and only
    // when its own framing saw 0xAC 0x53: that is how a programmer knows it is in step.
    uint8_t out = byte;
    if (!enabled_) {
        const bool inStep = index == 1 && frame_[0] == 0xAC && frame_[1] == 0x53;
        out = inStep && facts_.EchoesEnable ? 0x53 : 0xFF;
    }
    if (index == 2 && enabled_) {
        if (const auto answer = ReadAnswerFor(nowNs)) out = *answer;
    }
    spi_.QueueOut(out);
    if (index == 3) {
        Execute(nowNs);
        byteInFrame_ = 0;
    } else {
        ++byteInFrame_;
    }
}

// ---- reads ----

std::optional<uint8_t> AvrChip::ReadAnswerFor(uint64_t nowNs) const {
    const uint8_t op = frame_[0], b1 = frame_[1], b2 = frame_[2];
    switch (op) {
        case 0x30: {
            const uint8_t byte = (b2 & 3) < 3 ? facts_.Signature[b2 & 3] : uint8_t{0xFF};
            if (Faults.GarbledSignatureReads == 0) return byte;
            --Faults.GarbledSignatureReads;
            return static_cast<uint8_t>(byte ^ 1);
        }
        case 0x20:
        case 0x28: {
            if (ReadProtected()) return std::nullopt;  // verify disabled: nothing is loaded
            if (IsBusy(Busy::Flash, nowNs)) return BusyValue(nowNs);
            const int32_t word = FlashWord(b1, b2);
            return flash_[static_cast<size_t>(word * 2 + (op == 0x28 ? 1 : 0))];
        }
        case 0xA0: {
            if (eeprom_.empty() || ReadProtected()) return std::nullopt;
            if (IsBusy(Busy::Eeprom, nowNs)) return BusyValue(nowNs);
            return eeprom_[static_cast<size_t>(((b1 << 8) | b2) & (facts_.EepromSize - 1))];
        }
        default:
            break;
    }

    const uint8_t lockRead = static_cast<uint8_t>(lock_ | ~facts_.LockUsed);
    switch (facts_.Style) {
        case AvrConfigStyle::LockWriteOnly:
            return std::nullopt;
        case AvrConfigStyle::CombinedStatus:
            if (op != 0x58) return std::nullopt;
            return static_cast<uint8_t>(((lock_ >> 1) & 1) << 7 | ((lock_ >> 2) & 1) << 6 |
                                        (fuseLow_ & 0x21) | 0x1E);
        case AvrConfigStyle::FuseInByte2:
        case AvrConfigStyle::Tiny12:
            if (op == 0x50) return ReadFuse(fuseLow_, facts_.LowUsed);
            if (op == 0x58) return lockRead;
            break;
        case AvrConfigStyle::Modern:
            if (op == 0x58 && b1 == 0x00) return lockRead;
            if (op == 0x58 && b1 == 0x08) return ReadFuse(fuseHigh_, facts_.HighUsed);
            if (op == 0x50 && b1 == 0x00) return ReadFuse(fuseLow_, facts_.LowUsed);
            if (op == 0x50 && b1 == 0x08) return ReadFuse(fuseExt_, facts_.ExtUsed);
            break;
    }
    if (op == 0x38 && facts_.CalCount > 0) return facts_.Cal[b2 & (facts_.CalCount - 1)];
    return std::nullopt;
}

// ---- commands ----

void AvrChip::Execute(uint64_t nowNs) {
    const uint8_t op = frame_[0], b1 = frame_[1], b2 = frame_[2], b3 = frame_[3];
    if (!enabled_) {
        if (op == 0xAC && b1 == 0x53) enabled_ = true;
        return;  // nothing else is obeyed before programming enable
    }
    // While a self-timed write or erase runs the chip takes no further instruction: the
    // datasheets ask the programmer to poll or wait tWD before the next one, and a write sent
    // earlier is lost. Reads (answered above) still work; that is how polling is done.
    if (IsBusy(nowNs)) return;
    const int32_t word = FlashWord(b1, b2);
    switch (op) {
        case 0xAC:
            ExecuteAc(nowNs);
            break;
        case 0x4D:
            // Word address bits 23..16 for the chips beyond 64 K words; kept until reissued.
            if (HasExtendedAddress() && b1 == 0x00) extAddress_ = b2;
            break;
        case 0x40:
        case 0x48: {
            const int32_t byteAddress = word * 2 + (op == 0x48 ? 1 : 0);
            if (facts_.PageSize > 0) {
                pageBuffer_[static_cast<size_t>(byteAddress % facts_.PageSize)] = b3;
            } else if (!WriteProtected()) {
                ProgramFlashByte(byteAddress, b3);
                StartBusy(Busy::Flash, nowNs, NextWriteNs(false));
            }
            break;
        }
        case 0x4C: {
            if (facts_.PageSize <= 0 || WriteProtected()) break;
            const int32_t pageStart = (word * 2) / facts_.PageSize * facts_.PageSize;
            for (int32_t i = 0; i < facts_.PageSize; ++i)
                ProgramFlashByte(pageStart + i, pageBuffer_[static_cast<size_t>(i)]);
            std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
            StartBusy(Busy::Flash, nowNs, NextWriteNs(false));
            break;
        }
        case 0xC0: {
            if (eeprom_.empty() || WriteProtected()) break;
            // The self-timed EEPROM write erases the byte first, so any value can be written.
            eeprom_[static_cast<size_t>(((b1 << 8) | b2) & (facts_.EepromSize - 1))] = b3;
            StartBusy(Busy::Eeprom, nowNs, NextWriteNs(true));
            break;
        }
        case 0xC1:
            if (!eepromPage_.empty()) eepromPage_[b2 % eepromPage_.size()] = b3;
            break;
        case 0xC2: {
            if (eepromPage_.empty() || eeprom_.empty() || WriteProtected()) break;
            // Only the bytes loaded are written, each erased first, in one write cycle.
            const auto size = static_cast<int32_t>(eepromPage_.size());
            const int32_t pageStart = (((b1 << 8) | b2) & (facts_.EepromSize - 1)) / size * size;
            for (int32_t i = 0; i < size; ++i) {
                auto& loaded = eepromPage_[static_cast<size_t>(i)];
                if (loaded) eeprom_[static_cast<size_t>(pageStart + i)] = *loaded;
                loaded.reset();
            }
            StartBusy(Busy::Eeprom, nowNs, NextWriteNs(true));
            break;
        }
        default:
            break;
    }
}

void AvrChip::ExecuteAc(uint64_t nowNs) {
    const uint8_t b1 = frame_[1], b3 = frame_[3];
    if (b1 == 0x53) return;
    if ((b1 & 0xE0) == 0x80) {
        ChipErase(nowNs);
        return;
    }
    switch (facts_.Style) {
        case AvrConfigStyle::LockWriteOnly:
            if ((b1 & 0xF9) == 0xF9) WriteLockFromByte2(b1);
            break;
        case AvrConfigStyle::CombinedStatus:
            if ((b1 & 0xF9) == 0xF9) {
                WriteLockFromByte2(b1);
            } else if ((b1 & 0xFE) == 0xBE && facts_.CombinedFuseWritable) {
                fuseLow_ = static_cast<uint8_t>((fuseLow_ & ~1) | (b1 & 1));
            }
            break;
        case AvrConfigStyle::FuseInByte2:
            if ((b1 & 0xF9) == 0xF9) {
                WriteLockFromByte2(b1);
            } else if ((b1 & 0xE0) == 0xA0) {
                WriteFuse(fuseLow_, b1, static_cast<uint8_t>(~facts_.LowUsed | facts_.LowFixed));
            }
            break;
        case AvrConfigStyle::Tiny12:
            if ((b1 & 0xF9) == 0xF9) {
                WriteLockFromByte2(b1);
            } else if ((b1 & 0xE0) == 0xA0) {
                WriteFuse(fuseLow_, b3, facts_.LowFixed);
            }
            break;
        case AvrConfigStyle::Modern:
            if ((b1 & 0xE0) == 0xE0) {
                // A lock bit can only be programmed; only chip erase returns it to 1. A chip
                // that takes the bits in the second byte (1111 11ii) ignores the fourth.
                uint8_t bits = b3;
                if (facts_.LockInByte2) bits = (b1 & 0xFC) == 0xFC ? b1 : uint8_t{0xFF};
                lock_ &= static_cast<uint8_t>(bits | ~facts_.LockUsed);
            } else if (WriteProtected()) {
                // Lock mode 2 and 3 also freeze the fuses.
            } else if (b1 == 0xA0) {
                WriteFuse(fuseLow_, b3, facts_.LowFixed);
            } else if (b1 == 0xA8 && facts_.HighUsed != 0) {
                WriteFuse(fuseHigh_, b3, facts_.HighFixed);
            } else if (b1 == 0xA4 && facts_.ExtUsed != 0) {
                WriteFuse(fuseExt_, b3, 0x00);
            }
            break;
    }
}

void AvrChip::ChipErase(uint64_t nowNs) {
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    if (!EesaveProgrammed()) std::fill(eeprom_.begin(), eeprom_.end(), 0xFF);
    lock_ = 0xFF;
    StartBusy(Busy::Erase, nowNs, EraseNs());
}

void AvrChip::WriteLockFromByte2(uint8_t v) {
    lock_ &= static_cast<uint8_t>(v | ~facts_.LockUsed);
}

void AvrChip::WriteFuse(uint8_t& fuse, uint8_t v, uint8_t fixed) {
    fuse = static_cast<uint8_t>((fuse & fixed) | (v & ~fixed));
}

void AvrChip::ProgramFlashByte(int32_t byteAddress, uint8_t value) {
    if (byteAddress == Faults.StuckAddress) return;
    // Programming only clears bits; erased cells are 1.
    flash_[static_cast<size_t>(byteAddress)] &= value;
}

void AvrChip::StartBusy(Busy kind, uint64_t nowNs, uint64_t durationNs) {
    busy_ = kind;
    busyStart_ = nowNs;
    busyUntil_ = nowNs + durationNs;
}

uint64_t AvrChip::NextWriteNs(bool eeprom) {
    const uint32_t minUs = eeprom ? facts_.EepromWriteMinUs : facts_.FlashWriteMinUs;
    const uint32_t maxUs =
        std::max(minUs, eeprom ? facts_.EepromWriteMaxUs : facts_.FlashWriteMaxUs);
    if (maxUs == 0) {
        if (eeprom) return kEepromWriteNs;
        return facts_.PageSize > 0 ? kPageWriteNs : kByteWriteNs;
    }
    // SplitMix64 over the chip's name and the number of cycles so far: varied, yet repeatable.
    uint64_t seed = 1469598103934665603ull;
    for (const char* c = facts_.Name; *c != '\0'; ++c)
        seed = (seed ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    uint64_t z = seed + ++draws_ * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    const uint64_t spanNs = uint64_t{maxUs - minUs} * 1000;
    return uint64_t{minUs} * 1000 + (spanNs == 0 ? 0 : z % (spanNs + 1));
}

uint64_t AvrChip::EraseNs() const {
    return facts_.ChipEraseUs > 0 ? uint64_t{facts_.ChipEraseUs} * 1000 : kChipEraseNs;
}

uint8_t AvrChip::BusyValue(uint64_t nowNs) const {
    // Erased cells read 0xFF while an erase runs. During a write the datasheets' data polling
    // applies: the Flash shows P1 for the whole cycle; an EEPROM byte shows P1 while its
    // auto-erase runs (the first half of the cycle) and P2 from then until it is written.
    // A chip without such values reads 0xFF, as the ATmega datasheets state.
    const int32_t pair = busy_ == Busy::Flash    ? facts_.FlashReadback
                         : busy_ == Busy::Eeprom ? facts_.EepromReadback
                                                 : -1;
    if (pair < 0) return 0xFF;
    const bool erasing =
        busy_ == Busy::Eeprom && nowNs - busyStart_ < (busyUntil_ - busyStart_) / 2;
    if (busy_ == Busy::Flash || erasing) return static_cast<uint8_t>(pair >> 8);
    return static_cast<uint8_t>(pair & 0xFF);
}

bool AvrChip::IsBusy(Busy kind, uint64_t nowNs) const {
    return nowNs < busyUntil_ && (busy_ == kind || busy_ == Busy::Erase);
}

uint8_t AvrChip::Lb1Mask() const {
    return facts_.Style == AvrConfigStyle::Modern ? 0x01 : 0x02;
}
uint8_t AvrChip::Lb2Mask() const {
    return facts_.Style == AvrConfigStyle::Modern ? 0x02 : 0x04;
}

bool AvrChip::WriteProtected() const {
    return (lock_ & Lb1Mask()) == 0;
}

bool AvrChip::ReadProtected() const {
    return (lock_ & (Lb1Mask() | Lb2Mask())) == 0;
}

bool AvrChip::EesaveProgrammed() const {
    switch (facts_.EesaveByte) {
        case AvrFuseByte::Low:
            return ((fuseLow_ >> facts_.EesaveBit) & 1) == 0;
        case AvrFuseByte::High:
            return ((fuseHigh_ >> facts_.EesaveBit) & 1) == 0;
        case AvrFuseByte::Ext:
            return ((fuseExt_ >> facts_.EesaveBit) & 1) == 0;
        case AvrFuseByte::None:
            break;
    }
    return false;
}

// ---- state file ----

void AvrChip::SaveState(std::ostream& out) const {
    out << kStateTag << ' ' << facts_.Name << '\n';
    out << "flash " << flash_.size() << ' ' << HexBytes(flash_) << '\n';
    out << "eeprom " << eeprom_.size() << ' ' << HexBytes(eeprom_) << '\n';
    out << "config " << HexText(fuseLow_) << ' ' << HexText(fuseHigh_) << ' ' << HexText(fuseExt_)
        << ' ' << HexText(lock_) << '\n';
}

bool AvrChip::LoadState(std::istream& in) {
    std::string line, tag, name;
    if (!std::getline(in, line)) return false;
    std::istringstream header(line);
    if (!(header >> tag >> name) || tag != kStateTag || name != facts_.Name) return false;

    std::vector<uint8_t> flash, eeprom;
    if (!ReadMemoryLine(in, "flash", flash_.size(), flash)) return false;
    if (!ReadMemoryLine(in, "eeprom", eeprom_.size(), eeprom)) return false;
    if (!std::getline(in, line)) return false;
    std::istringstream cs(line);
    std::string word, hex[4];
    if (!(cs >> word >> hex[0] >> hex[1] >> hex[2] >> hex[3]) || word != "config") return false;
    std::vector<uint8_t> config(4);
    for (size_t i = 0; i < 4; ++i) {
        std::vector<uint8_t> one;
        if (!ParseHexBytes(hex[i], 1, one)) return false;
        config[i] = one[0];
    }

    flash_ = std::move(flash);
    eeprom_ = std::move(eeprom);
    fuseLow_ = config[0];
    fuseHigh_ = config[1];
    fuseExt_ = config[2];
    lock_ = config[3];
    ApplyConfiguration();  // the chip powers up on the configuration it kept
    return true;
}

std::unique_ptr<TargetChip> CreateAvrChip(const std::string& upperName) {
    const AvrFacts* facts = FindAvrFacts(upperName);
    if (facts == nullptr) return nullptr;
    return std::make_unique<AvrChip>(*facts);
}

}  // namespace tondrel::sim
