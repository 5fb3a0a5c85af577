// Simulated AT89S53, AT89S8252 and AT89S8253, as their serial programming interfaces behave:
// programming mode while RST is held high, a programming-enable command before anything else,
// MOSI taken on the rising SCK edge and MISO changed on the falling edge (SPI mode 0), commands
// of a fixed length counted from the moment RST went high, and self-timed writes during which
// the chip answers with the complement of the written byte's top bit (data polling).
#include <algorithm>
#include <array>
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/HexBytes.h"
#include "sim/SpiSlave.h"
#include "sim/TargetChip.h"

namespace tondrel::sim {
namespace {

constexpr uint64_t kUs = 1000;
constexpr uint64_t kMs = 1000 * kUs;

// Lock bits as kept inside the model: 1 = programmed.
constexpr uint8_t kLb1 = 0x01;  // no further programming of the code memory
constexpr uint8_t kLb2 = 0x02;  // no verify (code memory reads) either
constexpr uint8_t kLb3 = 0x04;  // no external execution; nothing the programmer can see

struct ChipTiming {
    uint64_t CodeWriteNs;  // one program-memory byte
    uint64_t DataWriteNs;  // one data-EEPROM byte
    uint64_t EraseNs;      // chip erase
    bool CodeAutoErase;    // a code byte write erases the byte first (any value can be written)
};

// Self-timed cycles. The AT89S53 and AT89S8252 datasheets: in serial mode each code or data
// byte is erased and written in one self-timed cycle of up to 2.5 ms at 5 V.
constexpr ChipTiming kTiming5x{2500 * kUs, 2500 * kUs, 16 * kMs, true};
// AT89S8253: byte write of about 64 oscillator periods plus 400 us, EEPROM bytes a few
// milliseconds, erase instruction cycle 16 ms.
constexpr ChipTiming kTiming8253{500 * kUs, 2500 * kUs, 16 * kMs, false};

// SCK must stay below 1/40 of the crystal (the AT89S53, AT89S8252 and AT89S8253 datasheets): on
// the bench's 12 MHz crystal each clock phase lasts at least 20 of its cycles.
constexpr uint64_t kBoardCrystalHz = 12'000'000;
constexpr uint64_t kMinSckPhaseNs = (20 * 1'000'000'000ull + kBoardCrystalHz - 1) / kBoardCrystalHz;

class At89SerialChip : public TargetChip {
  public:
    At89SerialChip(std::string name, size_t frameLength, size_t flashSize, size_t eepromSize,
                   const ChipTiming& timing)
        : name_(std::move(name)),
          timing_(timing),
          frameLength_(frameLength),
          flash_(flashSize, 0xFF),
          eeprom_(eepromSize, 0xFF) {}

    std::string Name() const override { return name_; }

    void SetLines(const TargetLines& lines, uint64_t nowNs) override {
        // Without the adapter's drivers the chip's own pull-down holds RST low: it runs.
        const bool rst = lines.Connected && lines.Rst;
        const bool sck = lines.Connected && lines.Sck;
        const bool mosi = lines.Connected && lines.Mosi;
        if (rst && !programming_ && SerialEnabled()) {
            programming_ = true;
            enabled_ = false;
            byteIndex_ = 0;
            // The clock's low phase counts from RST going high.
            spi_.Reset(sck_, nowNs);
        } else if (!rst && programming_) {
            programming_ = false;
            enabled_ = false;
            Restarted();
        }
        if (programming_) {
            if (const auto byte =
                    spi_.Step(sck, mosi, nowNs, std::max(Faults.MinPhaseNs, kMinSckPhaseNs)))
                ByteReceived(*byte, nowNs);
        }
        sck_ = sck;
    }

    bool DataOut(uint64_t) override {
        // Outside programming mode the pin is a port line with its pull-up.
        return programming_ ? spi_.Out() : true;
    }

    void SaveState(std::ostream& out) const override {
        out << "chip " << name_ << '\n';
        out << "flash " << HexBytes(flash_) << '\n';
        out << "eeprom " << HexBytes(eeprom_) << '\n';
        out << "lock " << int(locks_) << '\n';
        out << "fuse " << int(fuses_) << '\n';
    }

    bool LoadState(std::istream& in) override {
        std::string line, word, text;
        if (!std::getline(in, line) || line != "chip " + name_) return false;
        std::vector<uint8_t> flash, eeprom;
        int locks = -1, fuses = -1;
        for (int i = 0; i < 4; ++i) {
            if (!std::getline(in, line)) return false;
            std::istringstream fields(line);
            fields >> word;
            if (word == "flash" && (fields >> text) && ParseHexBytes(text, flash_.size(), flash))
                continue;
            if (word == "eeprom") {
                text.clear();
                fields >> text;  // an empty memory has no digits
                if (ParseHexBytes(text, eeprom_.size(), eeprom)) continue;
            }
            if (word == "lock" && (fields >> locks) && locks >= 0 && locks <= 7) continue;
            if (word == "fuse" && (fields >> fuses) && fuses >= 0 && fuses <= 0x0F) continue;
            return false;
        }
        if (flash.size() != flash_.size() || eeprom.size() != eeprom_.size() || locks < 0 ||
            fuses < 0)
            return false;
        flash_ = std::move(flash);
        eeprom_ = std::move(eeprom);
        locks_ = static_cast<uint8_t>(locks);
        fuses_ = static_cast<uint8_t>(fuses);
        Restarted();
        return true;
    }

  protected:
    using Frame = std::array<uint8_t, 4>;

    // The byte the chip shifts out while command byte `index` comes in; bytes 0..index-1 of
    // `frame` are known. Only called once programming is enabled.
    virtual uint8_t Answer(const Frame& frame, size_t index, uint64_t nowNs) = 0;
    // A complete command after programming was enabled.
    virtual void Execute(const Frame& frame, uint64_t nowNs) = 0;
    // The answer while the enable command itself comes in (the AT89S8253 echoes a byte).
    virtual uint8_t EnableAnswer(const Frame&, size_t) { return 0xFF; }
    // Whether RST high starts serial programming, as the configuration in effect says.
    virtual bool SerialEnabled() const { return true; }
    // The chip came out of reset (or was powered up): its configuration takes effect.
    virtual void Restarted() {}

    bool Busy(uint64_t nowNs) const { return nowNs < busyUntilNs_; }

    // What a read shows while a self-timed cycle runs: the written byte with its top bit
    // inverted (data polling), or nothing useful during an erase.
    uint8_t BusyAnswer() const { return busyErase_ ? 0x00 : DataPolling(busyValue_); }

    uint8_t ReadCode(uint32_t address, uint64_t nowNs) const {
        if (Busy(nowNs)) return BusyAnswer();
        if (locks_ & kLb2) return 0xFF;  // verify disabled
        return address < flash_.size() ? flash_[address] : 0xFF;
    }

    void WriteCode(uint32_t address, uint8_t value, uint64_t nowNs) {
        if (Busy(nowNs)) return;  // the chip ignores commands during a write cycle
        StartCycle(value, timing_.CodeWriteNs, nowNs);
        if (locks_ & kLb1) return;
        if (address >= flash_.size()) return;
        if (Faults.StuckAddress >= 0 && uint64_t(Faults.StuckAddress) == address) return;
        // Without an auto-erase, programming only clears bits: the code memory needs a chip
        // erase before new data.
        flash_[address] = timing_.CodeAutoErase ? value : uint8_t(flash_[address] & value);
    }

    uint8_t ReadData(uint32_t address, uint64_t nowNs) const {
        if (Busy(nowNs)) return BusyAnswer();
        return address < eeprom_.size() ? eeprom_[address] : 0xFF;
    }

    void WriteData(uint32_t address, uint8_t value, uint64_t nowNs) {
        if (Busy(nowNs)) return;
        StartCycle(value, timing_.DataWriteNs, nowNs);
        // EEPROM bytes erase themselves as part of the write cycle.
        if (address < eeprom_.size()) eeprom_[address] = value;
    }

    void Erase(uint64_t nowNs) {
        if (Busy(nowNs)) return;
        std::fill(flash_.begin(), flash_.end(), 0xFF);
        std::fill(eeprom_.begin(), eeprom_.end(), 0xFF);
        locks_ = 0;
        busyErase_ = true;
        busyUntilNs_ = nowNs + timing_.EraseNs;
    }

    // Lock bits can only be programmed; a chip erase clears them.
    void ProgramLocks(uint8_t programmed, uint64_t nowNs) {
        if (Busy(nowNs)) return;
        StartCycle(0xFF, timing_.CodeWriteNs, nowNs);
        locks_ = static_cast<uint8_t>(locks_ | (programmed & 0x07));
    }

    // The 0xAC group of the two three-byte chips: erase (xxxx x100) and lock write
    // (LB1 LB2 LB3 x x 1 1 1, a 0 programs the bit).
    void ThreeByteControl(uint8_t b2, uint64_t nowNs) {
        if ((b2 & 0x07) == 0x04) {
            Erase(nowNs);
        } else if ((b2 & 0x07) == 0x07) {
            uint8_t programmed = 0;
            if (!(b2 & 0x80)) programmed |= kLb1;
            if (!(b2 & 0x40)) programmed |= kLb2;
            if (!(b2 & 0x20)) programmed |= kLb3;
            ProgramLocks(programmed, nowNs);
        }
    }

    uint8_t locks_ = 0;     // kLb1 | kLb2 | kLb3 when programmed
    uint8_t fuses_ = 0x0F;  // AT89S8253 user fuses, as read (0 = programmed)

  private:
    void StartCycle(uint8_t value, uint64_t lengthNs, uint64_t nowNs) {
        busyErase_ = false;
        busyValue_ = value;
        busyUntilNs_ = nowNs + lengthNs;
    }

    void ByteReceived(uint8_t byte, uint64_t nowNs) {
        frame_[byteIndex_++] = byte;
        if (byteIndex_ == frameLength_) {
            byteIndex_ = 0;
            Complete(nowNs);
        }
        spi_.QueueOut(NextAnswer(nowNs));
    }

    bool IsEnable(const Frame& f, size_t known) const {
        return known >= 2 && f[0] == 0xAC && f[1] == 0x53;
    }

    uint8_t NextAnswer(uint64_t nowNs) {
        if (byteIndex_ == 0) return 0xFF;
        if (IsEnable(frame_, byteIndex_)) return EnableAnswer(frame_, byteIndex_);
        return enabled_ ? Answer(frame_, byteIndex_, nowNs) : 0xFF;
    }

    void Complete(uint64_t nowNs) {
        if (IsEnable(frame_, frameLength_)) {
            enabled_ = true;
            return;
        }
        // Until programming is enabled the chip ignores every other command.
        if (enabled_) Execute(frame_, nowNs);
    }

    std::string name_;
    ChipTiming timing_;
    size_t frameLength_;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> eeprom_;

    bool programming_ = false;
    bool enabled_ = false;
    bool sck_ = false;
    SpiSlave spi_;
    Frame frame_{};
    size_t byteIndex_ = 0;

    uint64_t busyUntilNs_ = 0;
    uint8_t busyValue_ = 0xFF;
    bool busyErase_ = false;
};

// AT89S53: 12 KiB; first byte A12..A8 in bits 7..3, A13 in bit 2, 01 read / 10 write.
class At89s53Chip final : public At89SerialChip {
  public:
    At89s53Chip() : At89SerialChip("AT89S53", 3, 12 * 1024, 0, kTiming5x) {}

  private:
    static uint32_t Address(const Frame& f) {
        return uint32_t(f[0] >> 3) << 8 | uint32_t((f[0] >> 2) & 1u) << 13 | f[1];
    }

    uint8_t Answer(const Frame& f, size_t index, uint64_t nowNs) override {
        if (index == 2 && f[0] != 0xAC && (f[0] & 0x03) == 0x01) return ReadCode(Address(f), nowNs);
        return 0xFF;
    }

    void Execute(const Frame& f, uint64_t nowNs) override {
        if (f[0] == 0xAC) {
            ThreeByteControl(f[1], nowNs);
        } else if ((f[0] & 0x03) == 0x02) {
            WriteCode(Address(f), f[2], nowNs);
        }
    }
};

// AT89S8252: 8 KiB code, 2 KiB EEPROM; first byte address bits in 7..3, operation in 2..0.
class At89s8252Chip final : public At89SerialChip {
  public:
    At89s8252Chip() : At89SerialChip("AT89S8252", 3, 8 * 1024, 2 * 1024, kTiming5x) {}

  private:
    static uint32_t CodeAddress(const Frame& f) { return uint32_t(f[0] >> 3) << 8 | f[1]; }
    static uint32_t DataAddress(const Frame& f) { return uint32_t((f[0] >> 3) & 0x07) << 8 | f[1]; }

    uint8_t Answer(const Frame& f, size_t index, uint64_t nowNs) override {
        if (index != 2 || f[0] == 0xAC) return 0xFF;
        switch (f[0] & 0x07) {
            case 1:
                return ReadCode(CodeAddress(f), nowNs);
            case 5:
                return ReadData(DataAddress(f), nowNs);
            default:
                return 0xFF;
        }
    }

    void Execute(const Frame& f, uint64_t nowNs) override {
        if (f[0] == 0xAC) {
            ThreeByteControl(f[1], nowNs);
            return;
        }
        switch (f[0] & 0x07) {
            case 2:
                WriteCode(CodeAddress(f), f[2], nowNs);
                break;
            case 6:
                WriteData(DataAddress(f), f[2], nowNs);
                break;
            default:
                break;
        }
    }
};

// AT89S8253: 12 KiB code, 2 KiB EEPROM, four-byte commands as on the AT89S51/52 plus data
// memory (0xA0 / 0xC0), user fuses (read 0x21, write 0xAC 0001ffff) and lock bits (read 0x24,
// write 0xAC 11100LLL; in both a 0 is a programmed bit). Fuse bit 0, Serial Programming Enable,
// cleared: from the next reset on the chip ignores the serial interface.
class At89s8253Chip final : public At89SerialChip {
  public:
    At89s8253Chip() : At89SerialChip("AT89S8253", 4, 12 * 1024, 2 * 1024, kTiming8253) {}

  private:
    static uint32_t CodeAddress(const Frame& f) { return uint32_t(f[1] & 0x3F) << 8 | f[2]; }
    static uint32_t DataAddress(const Frame& f) { return uint32_t(f[1] & 0x07) << 8 | f[2]; }

    uint8_t EnableAnswer(const Frame&, size_t index) override { return index == 3 ? 0x69 : 0xFF; }
    bool SerialEnabled() const override { return serialOn_; }
    void Restarted() override { serialOn_ = (fuses_ & kSerialPrg) != 0; }

    static constexpr uint8_t kSerialPrg = 0x01;
    bool serialOn_ = true;

    uint8_t Answer(const Frame& f, size_t index, uint64_t nowNs) override {
        if (index != 3) return 0xFF;
        switch (f[0]) {
            case 0x20:
                return ReadCode(CodeAddress(f), nowNs);
            case 0xA0:
                return ReadData(DataAddress(f), nowNs);
            case 0x21:
                return static_cast<uint8_t>(0xF0 | fuses_);
            case 0x24:
                return static_cast<uint8_t>(0xF8 | (~locks_ & 0x07));
            case 0x28: {
                // Identification bytes at 0x30 and 0x31 (manufacturer, device).
                const uint32_t a = uint32_t(f[1]) << 8 | f[2];
                return a == 0x30 ? 0x1E : a == 0x31 ? 0x73 : 0xFF;
            }
            default:
                return 0xFF;
        }
    }

    void Execute(const Frame& f, uint64_t nowNs) override {
        switch (f[0]) {
            case 0x40:
                WriteCode(CodeAddress(f), f[3], nowNs);
                break;
            case 0xC0:
                WriteData(DataAddress(f), f[3], nowNs);
                break;
            case 0xAC:
                if ((f[1] & 0xE0) == 0x80) {
                    Erase(nowNs);
                } else if ((f[1] & 0xF8) == 0xE0) {
                    ProgramLocks(static_cast<uint8_t>(~f[1] & 0x07), nowNs);
                } else if ((f[1] & 0xF0) == 0x10 && !Busy(nowNs)) {
                    fuses_ = f[1] & 0x0F;  // user fuses can be set and cleared freely
                }
                break;
            default:
                break;
        }
    }
};

}  // namespace

std::unique_ptr<TargetChip> CreateAt89OtherChip(const std::string& upperName) {
    if (upperName == "AT89S53") return std::make_unique<At89s53Chip>();
    if (upperName == "AT89S8252") return std::make_unique<At89s8252Chip>();
    if (upperName == "AT89S8253") return std::make_unique<At89s8253Chip>();
    return nullptr;
}

}  // namespace tondrel::sim
