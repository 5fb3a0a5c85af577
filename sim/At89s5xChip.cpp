// AT89S51 / AT89S52 in serial programming mode, modelled on the chip's datasheet:
// - RST high puts the chip into programming mode; nothing is accepted until the programming
//   enable instruction (AC 53 xx xx), which the chip answers with 0x69 in the fourth byte.
// - Every instruction is four bytes, SPI mode 0, MSB first.
// - A byte write is self-timed: tSWC = 64 oscillator periods + 400 us. Until the cycle ends a
//   read of the byte being written shows the complement of its top bit (data polling in serial
//   mode) and further writes are not taken. Programming only clears bits (the array must be
//   erased first), as on the real Flash.
// - Chip erase is self-timed, tERASE = 500 ms; the chip does not listen while it runs. It also
//   clears the lock bits.
// - Lock bits: AC E0..E3 select mode 1..4. LB1 (mode 2) stops further programming, LB2 (mode
//   3) also stops verification: program-memory reads answer 0x00, not the memory.
//   Lock bits read with 24 xx xx xx: bits 4..2 = LB3..LB1, a programmed bit reads 1.
// - Signature (28, A12..A8, A7xxxxxx0): 0x000 = 1E, 0x100 = 51/52, 0x200 = 06; in lock modes 3
//   and 4 (LB2 programmed) the signature is not readable either.
// - While the third byte of an instruction comes in, MISO shifts out the second one (the chip's
//   output register echoes it); programmers use that to check they are in step.
// The page-mode instructions (30h/50h) are not modelled; the chip ignores them.
#include <algorithm>
#include <istream>
#include <optional>
#include <ostream>
#include <vector>

#include "common/Text.h"
#include "sim/HexBytes.h"
#include "sim/SpiSlave.h"
#include "sim/TargetChip.h"

namespace tondrel::sim {

namespace {

// The bench's board carries the usual 12 MHz crystal.
constexpr uint64_t kCrystalHz = 12'000'000;
constexpr uint64_t kWriteCycleNs = 64 * uint64_t{1'000'000'000} / kCrystalHz + 400'000;  // tSWC
constexpr uint64_t kEraseNs = 500'000'000;                                               // tERASE
constexpr uint8_t kLb1 = 1, kLb2 = 2, kLb3 = 4;
constexpr int kHexBytesPerLine = 32;

class At89s5xChip : public TargetChip {
  public:
    At89s5xChip(std::string name, size_t flashSize, uint8_t signature1)
        : name_(std::move(name)), flash_(flashSize, 0xFF), signature1_(signature1) {}

    std::string Name() const override { return name_; }

    void SetLines(const TargetLines& lines, uint64_t nowNs) override {
        Settle(nowNs);
        const bool rst = lines.Connected && lines.Rst;
        const bool sck = lines.Connected && lines.Sck;
        if (rst != inReset_) {
            inReset_ = rst;
            enabled_ = false;
            byteIndex_ = 0;
            spi_.Reset(sck);
            return;
        }
        if (!inReset_) return;
        const auto byte = spi_.Step(sck, lines.Connected && lines.Mosi, nowNs, Faults.MinPhaseNs);
        if (byte) ByteReceived(*byte, nowNs);
    }

    bool DataOut(uint64_t nowNs) override {
        Settle(nowNs);
        // Outside programming mode MISO is P1.6, an input with its weak pull-up.
        return inReset_ ? spi_.Out() : true;
    }

    void SaveState(std::ostream& out) const override {
        // A write or erase still running is saved as finished: the bench keeps the power on
        // until its self-timed cycle ends.
        std::vector<uint8_t> flash = flash_;
        uint8_t locks = locks_;
        if (busy_) Apply(*busy_, flash, locks);
        out << "at89s5x " << name_ << '\n' << "flash " << flash.size() << '\n';
        for (size_t i = 0; i < flash.size(); ++i) {
            out << HexText(flash[i], 2);
            if ((i + 1) % kHexBytesPerLine == 0 || i + 1 == flash.size()) out << '\n';
        }
        out << "lock " << int{locks} << '\n' << "end\n";
    }

    bool LoadState(std::istream& in) override {
        std::string word, name;
        size_t size = 0;
        if (!(in >> word >> name) || word != "at89s5x" || name != name_) return false;
        if (!(in >> word >> size) || word != "flash" || size != flash_.size()) return false;
        std::vector<uint8_t> flash;
        flash.reserve(size);
        std::string line;
        while (flash.size() < size && in >> line)
            if (!AppendHexBytes(line, flash, size)) return false;
        int locks = -1;
        if (flash.size() != size || !(in >> word >> locks) || word != "lock" || locks < 0 ||
            locks > 7 || !(in >> word) || word != "end")
            return false;
        flash_ = std::move(flash);
        locks_ = static_cast<uint8_t>(locks);
        busy_.reset();
        return true;
    }

  private:
    enum class Op { WriteByte, Erase, WriteLock };
    struct Pending {
        Op Kind;
        uint32_t Address = 0;
        uint8_t Value = 0;
        uint64_t DoneNs = 0;
    };

    static void Apply(const Pending& p, std::vector<uint8_t>& flash, uint8_t& locks) {
        switch (p.Kind) {
            case Op::WriteByte:
                flash[p.Address] &= p.Value;
                break;
            case Op::Erase:
                std::fill(flash.begin(), flash.end(), uint8_t{0xFF});
                locks = 0;
                break;
            case Op::WriteLock:
                locks |= p.Value;
                break;
        }
    }

    void Settle(uint64_t nowNs) {
        if (busy_ && nowNs >= busy_->DoneNs) {
            Apply(*busy_, flash_, locks_);
            busy_.reset();
        }
    }

    uint32_t FlashAddress(uint8_t high, uint8_t low) const {
        return ((uint32_t{high} << 8) | low) & static_cast<uint32_t>(flash_.size() - 1);
    }

    uint8_t ReadFlash(uint32_t address) const {
        if (locks_ & kLb2) return 0x00;  // verification disabled
        return flash_[address];
    }

    // The answer clocked out in the fourth byte, decided once the first three are in.
    std::optional<uint8_t> Answer() const {
        const uint8_t* c = command_;
        if (c[0] == 0xAC && c[1] == 0x53) return 0x69;
        if (!enabled_ || (busy_ && busy_->Kind == Op::Erase)) return std::nullopt;
        switch (c[0]) {
            case 0x20: {
                const uint32_t address = FlashAddress(c[1], c[2]);
                if (busy_ && busy_->Kind == Op::WriteByte && busy_->Address == address)
                    return DataPolling(busy_->Value);
                return ReadFlash(address);
            }
            case 0x24:
                return static_cast<uint8_t>(locks_ << 2);
            case 0x28: {
                if (locks_ & kLb2) return std::nullopt;
                const uint32_t address = (uint32_t{c[1] & 0x1Fu} << 8) | (c[2] & 0x80u);
                if (address == 0x000) return 0x1E;
                if (address == 0x100) return signature1_;
                if (address == 0x200) return 0x06;
                return 0xFF;
            }
            default:
                return std::nullopt;
        }
    }

    void ByteReceived(uint8_t byte, uint64_t nowNs) {
        command_[byteIndex_++] = byte;
        if (byteIndex_ == 2) {
            spi_.QueueOut(command_[1]);
            return;
        }
        if (byteIndex_ == 3) {
            if (const auto answer = Answer()) spi_.QueueOut(*answer);
            return;
        }
        if (byteIndex_ < 4) return;
        byteIndex_ = 0;
        Execute(nowNs);
    }

    void Execute(uint64_t nowNs) {
        const uint8_t* c = command_;
        if (c[0] == 0xAC && c[1] == 0x53) {
            enabled_ = true;
            return;
        }
        if (!enabled_ || busy_) return;  // a self-timed cycle is running: not taken
        if (c[0] == 0x40) {
            const uint32_t address = FlashAddress(c[1], c[2]);
            if ((locks_ & kLb1) || static_cast<int64_t>(address) == Faults.StuckAddress) return;
            busy_ = Pending{Op::WriteByte, address, c[3], nowNs + kWriteCycleNs};
        } else if (c[0] == 0xAC && (c[1] & 0xE0) == 0x80) {
            busy_ = Pending{Op::Erase, 0, 0, nowNs + kEraseNs};
        } else if (c[0] == 0xAC && (c[1] & 0xFC) == 0xE0) {
            static constexpr uint8_t kModeBits[4] = {0, kLb1, kLb1 | kLb2, kLb1 | kLb2 | kLb3};
            busy_ = Pending{Op::WriteLock, 0, kModeBits[c[1] & 3], nowNs + kWriteCycleNs};
        }
    }

    std::string name_;
    std::vector<uint8_t> flash_;
    uint8_t signature1_;
    uint8_t locks_ = 0;
    bool inReset_ = false;
    bool enabled_ = false;
    SpiSlave spi_;
    uint8_t command_[4] = {};
    int byteIndex_ = 0;
    std::optional<Pending> busy_;
};

}  // namespace

std::unique_ptr<TargetChip> CreateAt89s5xChip(const std::string& upperName) {
    if (upperName == "AT89S51") return std::make_unique<At89s5xChip>("AT89S51", 4096, 0x51);
    if (upperName == "AT89S52") return std::make_unique<At89s5xChip>("AT89S52", 8192, 0x52);
    return nullptr;
}

}  // namespace tondrel::sim
