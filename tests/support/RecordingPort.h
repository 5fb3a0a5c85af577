#pragma once
// RecordingPort: a PortIo for engine tests. It keeps the registers, logs every operation, lets a
// test script the status input, and decodes the serial traffic on the data pins back into the
// bytes an engine clocked out, so a test can state the commands it expects:
//
//     RecordingPort port;                         // base 0x378, SCK pin 2, MOSI pin 8, MISO 11
//     port.QueueAnswers({{0, 0, 0, 0x1E}});       // what the chip shifts out, per command
//     ... run the engine ...
//     EXPECT_EQ(port.Commands()[0], (Bytes{0x28, 0x00, 0x00, 0x00}));
//
// The decoder works from physical pin levels: the data pins are not inverted by the port, so
// SCK and MOSI are data-register bits. MOSI is sampled at every rising edge of SCK. The
// answer side models an SPI mode-0 slave: the bit for rising edge k is on MISO from the falling
// edge before it until the falling edge after it, most significant bit first.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "adapter/Pins.h"
#include "adapter/Wiring.h"
#include "port/Clock.h"
#include "port/PortIo.h"

namespace tondrel::testsupport {

using Bytes = std::vector<uint8_t>;

enum class PortOp { In, Out, SetBit, ClrBit, GetBit };

struct PortEvent {
    PortOp Op;
    uint16_t Address;
    uint8_t Arg;      // Out: value written; SetBit/ClrBit/GetBit: bit number; In: 0
    uint8_t Result;   // In: value read; GetBit: 0 or 1; writes: the register afterwards
    uint64_t TimeNs;  // attached clock's time just after the access (0 without a clock)
};

class RecordingPort : public PortIo {
  public:
    // Answer byte for byte `index` of the current command; `command` holds the bytes of this
    // command already received (exactly `index` of them), so a fake chip can answer a read.
    using Responder = std::function<uint8_t(const Bytes& command, size_t index)>;
    // Overrides everything else for the MISO level (physical, true = high) on each read.
    using MisoSource = std::function<bool(const RecordingPort&)>;

    explicit RecordingPort(uint16_t base = 0x378) : Base(base) {}
    RecordingPort(const RecordingPort&) = delete;
    RecordingPort& operator=(const RecordingPort&) = delete;

    // ---- wiring of the decoder (DB-25 pin numbers): the serial-ISP adapter's ----
    uint16_t Base;
    uint8_t SckPin = adapter::kSerialIspWiring.Sck;    // a data pin
    uint8_t MosiPin = adapter::kSerialIspWiring.Mosi;  // a data pin
    uint8_t MisoPin = adapter::kSerialIspWiring.Miso;  // a status pin
    size_t BytesPerCommand = 4;
    bool KeepLog = true;  // turn off for long polls when only the decoded traffic matters

    // Each access advances this clock by one port access and stamps the log entry.
    void AttachClock(VirtualClock* clock) { clock_ = clock; }

    // ---- scripting the status register ----
    // Raw status register value (as the port reads it: bit 7 is the inverted BUSY line).
    void SetStatusRaw(uint8_t raw) { statusRaw_ = raw; }
    // Each status read takes the next value; once empty, SetStatusRaw's value is read.
    void QueueStatusRaw(const Bytes& raws) {
        statusQueue_.insert(statusQueue_.end(), raws.begin(), raws.end());
    }
    // Answers per command, in order; a command without a queued answer gets MisoIdle bytes.
    void QueueAnswers(const std::vector<Bytes>& answers) {
        answerQueue_.insert(answerQueue_.end(), answers.begin(), answers.end());
        if (!responder_)
            responder_ = [this](const Bytes&, size_t index) { return FromQueue(index); };
    }
    void SetResponder(Responder r) { responder_ = std::move(r); }
    void SetMisoSource(MisoSource s) { misoSource_ = std::move(s); }
    // MISO level presented when a responder is active but has nothing queued.
    bool MisoIdle = true;

    // ---- PortIo ----
    uint8_t PortIn(uint16_t address) override {
        const uint8_t v = Read(address);
        Log(PortOp::In, address, 0, v);
        return v;
    }
    void PortOut(uint16_t address, uint8_t value) override {
        Write(address, value);
        Log(PortOp::Out, address, value, value);
    }
    void SetPortBit(uint16_t address, uint8_t bit) override {
        Write(address, static_cast<uint8_t>(Reg(address) | (1u << bit)));
        Log(PortOp::SetBit, address, bit, Reg(address));
    }
    void ClrPortBit(uint16_t address, uint8_t bit) override {
        Write(address, static_cast<uint8_t>(Reg(address) & ~(1u << bit)));
        Log(PortOp::ClrBit, address, bit, Reg(address));
    }
    // One register write, logged as one: the value is the register afterwards.
    void ChangePortBits(uint16_t address, uint8_t mask, uint8_t values) override {
        Write(address, static_cast<uint8_t>((Reg(address) & ~mask) | (values & mask)));
        Log(PortOp::Out, address, Reg(address), Reg(address));
    }
    bool GetPortBit(uint16_t address, uint8_t bit) override {
        const bool v = (Read(address) >> bit) & 1u;
        Log(PortOp::GetBit, address, bit, v ? 1 : 0);
        return v;
    }
    std::string Describe() const override { return "recording"; }

    // ---- registers and pins ----
    uint8_t Reg(uint16_t address) const {
        auto it = regs_.find(address);
        return it == regs_.end() ? 0 : it->second;
    }
    uint8_t Data() const { return Reg(Base); }
    uint8_t Control() const { return Reg(static_cast<uint16_t>(Base + 2)); }
    // Physical level of an output pin (1, 2..9, 14, 16, 17) from the registers as written.
    bool OutputPin(uint8_t pin) const {
        const adapter::Pin* p = adapter::FindPin(pin);
        if (p == nullptr || p->Dir != adapter::Direction::Output) return false;
        return adapter::LevelIn(*p, p->Reg == adapter::Register::Data ? Data() : Control());
    }

    // ---- the log ----
    const std::vector<PortEvent>& Events() const { return events_; }
    size_t Count(PortOp op) const { return counts_[static_cast<size_t>(op)]; }
    size_t Accesses() const {
        size_t n = 0;
        for (size_t c : counts_) n += c;
        return n;
    }
    // Forgets the log and the decoded traffic; registers and scripts stay.
    void ClearLog() {
        events_.clear();
        counts_ = {};
        risingBits_.clear();
        fallingBits_.clear();
        bytes_.clear();
        byteTimes_.clear();
        answers_.clear();
        risingEdges_ = 0;
        shift_ = 0;
    }

    // ---- decoded serial traffic ----
    // MOSI level at each rising / falling edge of SCK.
    const std::vector<bool>& RisingEdgeBits() const { return risingBits_; }
    const std::vector<bool>& FallingEdgeBits() const { return fallingBits_; }
    size_t RisingEdges() const { return risingEdges_; }
    // Completed bytes, most significant bit first.
    const Bytes& SentBytes() const { return bytes_; }
    // Completed bytes grouped into commands of BytesPerCommand.
    std::vector<Bytes> Commands() const {
        std::vector<Bytes> out;
        for (size_t i = 0; i + BytesPerCommand <= bytes_.size(); i += BytesPerCommand)
            out.emplace_back(bytes_.begin() + static_cast<std::ptrdiff_t>(i),
                             bytes_.begin() + static_cast<std::ptrdiff_t>(i + BytesPerCommand));
        return out;
    }
    // Clock time at which command k's last bit was clocked (needs an attached clock).
    uint64_t CommandEndNs(size_t k) const {
        return byteTimes_.at(k * BytesPerCommand + BytesPerCommand - 1);
    }
    // The bytes presented on MISO so far, per byte position (responder answers).
    const Bytes& PresentedBytes() const { return answers_; }

  private:
    bool IsStatus(uint16_t a) const { return a == static_cast<uint16_t>(Base + 1); }

    uint8_t Read(uint16_t address) {
        Tick();
        if (!IsStatus(address)) return Reg(address);
        uint8_t raw = statusRaw_;
        if (!statusQueue_.empty()) {
            raw = statusQueue_.front();
            statusQueue_.pop_front();
        }
        const adapter::Pin* miso = adapter::FindPin(MisoPin);
        if (miso && miso->Reg == adapter::Register::Status && (misoSource_ || responder_)) {
            const bool physical = misoSource_ ? misoSource_(*this) : AnswerBit();
            const bool rawBit = physical != miso->Inverted;  // BUSY is inverted
            raw = static_cast<uint8_t>((raw & ~miso->Mask()) | (rawBit ? miso->Mask() : 0u));
        }
        return raw;
    }

    void Write(uint16_t address, uint8_t value) {
        Tick();
        const uint8_t old = Reg(address);
        regs_[address] = value;
        if (address != Base) return;
        const uint8_t sck = adapter::PinMask(SckPin);
        const bool mosi = (value & adapter::PinMask(MosiPin)) != 0;
        if (!(old & sck) && (value & sck)) {
            risingBits_.push_back(mosi);
            ++risingEdges_;
            shift_ = static_cast<uint8_t>((shift_ << 1) | (mosi ? 1 : 0));
            if (risingEdges_ % 8 == 0) {
                bytes_.push_back(shift_);
                byteTimes_.push_back(clock_ ? clock_->Peek() : 0);
            }
        } else if ((old & sck) && !(value & sck)) {
            fallingBits_.push_back(mosi);
        }
    }

    // Mode 0: while SCK is high the chip still presents the bit of the last rising edge; while
    // it is low, the bit of the next one.
    bool AnswerBit() {
        const bool sckHigh = (Data() & adapter::PinMask(SckPin)) != 0;
        size_t g = risingEdges_;
        if (sckHigh && g > 0) --g;
        const size_t byte = g / 8;
        while (answers_.size() <= byte) {
            const size_t pos = answers_.size();
            const size_t index = pos % BytesPerCommand;
            const size_t end = std::min(pos, bytes_.size());
            const size_t begin = std::min(pos - index, end);
            const Bytes command(bytes_.begin() + static_cast<std::ptrdiff_t>(begin),
                                bytes_.begin() + static_cast<std::ptrdiff_t>(end));
            answers_.push_back(responder_(command, index));
        }
        return (answers_[byte] >> (7 - g % 8)) & 1u;
    }

    uint8_t FromQueue(size_t index) {
        if (answerQueue_.empty()) return MisoIdle ? 0xFF : 0x00;
        const Bytes& front = answerQueue_.front();
        const uint8_t v = index < front.size() ? front[index] : (MisoIdle ? 0xFF : 0x00);
        if (index + 1 == BytesPerCommand) answerQueue_.pop_front();
        return v;
    }

    void Tick() {
        if (clock_) clock_->PortAccess();
    }

    void Log(PortOp op, uint16_t address, uint8_t arg, uint8_t result) {
        ++counts_[static_cast<size_t>(op)];
        if (KeepLog) events_.push_back({op, address, arg, result, clock_ ? clock_->Peek() : 0});
    }

    std::map<uint16_t, uint8_t> regs_;
    uint8_t statusRaw_ = 0;
    std::deque<uint8_t> statusQueue_;
    std::deque<Bytes> answerQueue_;
    Responder responder_;
    MisoSource misoSource_;
    VirtualClock* clock_ = nullptr;
    std::vector<PortEvent> events_;
    std::array<size_t, 5> counts_{};
    std::vector<bool> risingBits_, fallingBits_;
    size_t risingEdges_ = 0;
    uint8_t shift_ = 0;
    Bytes bytes_;
    std::vector<uint64_t> byteTimes_;
    Bytes answers_;
};

}  // namespace tondrel::testsupport
