#include "ftdi/FtdiLink.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <utility>

namespace tondrel::ftdi {

namespace {

// Buffers as the data sheets give them: to the pins (the chip's receive buffer, filled from the
// OUT endpoint) and from the pins (its transmit buffer, emptied by the IN endpoint).
constexpr ChipKind kAm{"FT8U232AM", 128, 128, 3000000, false};
constexpr ChipKind kBm{"FT232BM", 384, 128, 3000000, false};
constexpr ChipKind k2232C{"FT2232C", 384, 128, 3000000, false};
constexpr ChipKind kR{"FT232R", 256, 128, 3000000, false};
constexpr ChipKind k2232H{"FT2232H", 4096, 4096, 12000000, true};
constexpr ChipKind k4232H{"FT4232H", 2048, 2048, 12000000, true};
constexpr ChipKind k232H{"FT232H", 1024, 1024, 12000000, true};
constexpr ChipKind k230X{"FT-X", 512, 512, 3000000, false};

// States of one command byte: two per bit.
constexpr size_t kStatesPerByte = 16;

// Whether the device the context was opened on is still on the bus.
bool StillThere(ftdi_context& context) {
    if (context.usb_dev == nullptr) return false;
    libusb_device* self = libusb_get_device(context.usb_dev);
    const uint8_t bus = libusb_get_bus_number(self);
    const uint8_t address = libusb_get_device_address(self);
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(context.usb_ctx, &list);
    bool found = false;
    for (ssize_t i = 0; i < n && !found; ++i)
        found =
            libusb_get_bus_number(list[i]) == bus && libusb_get_device_address(list[i]) == address;
    if (n >= 0) libusb_free_device_list(list, 1);
    return found;
}

}  // namespace

const ChipKind& KindOfType(int type) {
    switch (type) {
        case TYPE_AM:
            return kAm;
        case TYPE_BM:
            return kBm;
        case TYPE_2232C:
            return k2232C;
        case TYPE_2232H:
            return k2232H;
        case TYPE_4232H:
            return k4232H;
        case TYPE_232H:
            return k232H;
        case TYPE_230X:
            return k230X;
        default:
            return kR;
    }
}

Rate RateFor(const ChipKind& kind, uint64_t wanted) {
    const uint64_t base = kind.BaseClock;
    wanted = std::max<uint64_t>(wanted, 1);
    // The divisor in eighths, rounded up so that the rate is never above the one wanted; 1 and
    // 1.5 are the only divisors below 2, and the divisor has 17 bits of eighths.
    uint64_t eighths = (8 * base + wanted - 1) / wanted;
    uint64_t rate = 0;
    if (eighths <= 8)
        rate = base;
    else if (eighths <= 12)
        rate = base * 2 / 3;
    else if (eighths < 16)
        rate = base / 2;
    else
        rate = 8 * base / std::min<uint64_t>(eighths, 0x1FFFF);
    return {static_cast<uint32_t>(rate), static_cast<int>((rate + 2) / 4)};
}

FtdiLink::FtdiLink(ftdi_context& context, const ChipKind& kind, PinMap pins, std::string device)
    : context_(context), kind_(kind), pins_(pins), device_(std::move(device)) {}

Status FtdiLink::Start() {
    const auto check = [this](int r) {
        if (r < 0) Fail(r, "");
        return r >= 0;
    };
    // The latency timer sends a short read back after 1 ms instead of 16.
    if (!check(ftdi_set_bitmode(&context_, 0, BITMODE_RESET)) ||
        !check(ftdi_set_latency_timer(&context_, 1)) || !check(ftdi_tcioflush(&context_)) ||
        !check(ftdi_set_bitmode(&context_, pins_.Outputs(), BITMODE_SYNCBB)))
        return TakeError();
    // Some rate before the engine asks for its own: a microsecond a phase.
    SetPhaseNs(1000);
    state_ = 0;
    if (pins_.Buffer >= 0) SetPin(pins_.Buffer, pins_.BufferActiveLow);
    Put(state_);
    Flush();
    return TakeError();
}

void FtdiLink::Stop() {
    out_.clear();
    answerAt_.clear();
    if (!failed_) (void)ftdi_set_bitmode(&context_, 0, BITMODE_RESET);
}

void FtdiLink::SetPin(int pin, bool level) {
    const auto bit = static_cast<uint8_t>(1u << pin);
    state_ = static_cast<uint8_t>(level ? state_ | bit : state_ & ~bit);
}

void FtdiLink::SetLine(IspLine line, bool level) {
    switch (line) {
        case IspLine::Reset:
            SetPin(pins_.Reset, level);
            break;
        case IspLine::Clock:
            SetPin(pins_.Sck, level);
            break;
        case IspLine::DataOut:
            SetPin(pins_.Mosi, level);
            break;
        case IspLine::Enable:
            // Without a buffer enable the pins drive the target whenever they are outputs.
            if (pins_.Buffer < 0) return;
            SetPin(pins_.Buffer, level != pins_.BufferActiveLow);
            break;
    }
    Put(state_);
}

void FtdiLink::Queue(std::span<const uint8_t> command, size_t answer) {
    for (size_t i = 0; i < command.size(); ++i) {
        if (i == answer) answerAt_.push_back(out_.size());
        for (int bit = 7; bit >= 0; --bit) {
            SetPin(pins_.Sck, false);
            SetPin(pins_.Mosi, ((command[i] >> bit) & 1u) != 0);
            Put(state_);
            SetPin(pins_.Sck, true);
            Put(state_);
        }
    }
    // The clock rests low; this state's sample is the last bit's answer.
    SetPin(pins_.Sck, false);
    Put(state_);
}

std::vector<uint8_t> FtdiLink::Collect() {
    Run();
    return std::exchange(answers_, {});
}

void FtdiLink::Flush() {
    Run();
}

size_t FtdiLink::PollSize() const {
    // As many four-byte reads as the chip's buffers hold at once.
    return std::max<size_t>(1, (kind_.ToPins + kind_.FromPins) / (4 * kStatesPerByte + 1));
}

void FtdiLink::SetPhaseNs(uint64_t ns) {
    const Rate rate = RateFor(kind_, 1000000000ull / std::max<uint64_t>(ns, 1));
    if (rate.StatesPerSecond == rate_.StatesPerSecond) return;
    Run();  // what is held goes at the rate it was queued for
    if (failed_) return;
    if (const int r = ftdi_set_baudrate(&context_, rate.Request); r < 0) {
        Fail(r, "");
        return;
    }
    rate_ = rate;
}

Status FtdiLink::TakeError() {
    return std::exchange(error_, {});
}

void FtdiLink::Fail(int code, const char* why) {
    if (!failed_) {
        failed_ = true;
        if (StillThere(context_))
            error_ = Status::Error("PortFtdiFailed", device_,
                                   code < 0 ? ftdi_get_error_string(&context_) : why);
        else
            error_ = Status::Error("PortFtdiGone", device_);
        last_ = error_;
    } else if (error_.Ok()) {
        error_ = last_;
    }
}

void FtdiLink::Run() {
    if (out_.empty()) return;
    const size_t total = out_.size();
    if (failed_) {
        // Every operation on a device that went away fails, naming it again.
        Fail(0, "");
    } else {
        in_.assign(total, 0);
        const size_t room = kind_.ToPins + kind_.FromPins;
        size_t sent = 0;
        size_t got = 0;
        int empty = 0;
        while (got < total && !failed_) {
            if (sent < total && sent - got < room) {
                const size_t n = std::min(total - sent, room - (sent - got));
                const int w = ftdi_write_data(&context_, out_.data() + sent, static_cast<int>(n));
                if (w < 0) {
                    Fail(w, "");
                    break;
                }
                sent += static_cast<size_t>(w);
            }
            const int r = ftdi_read_data(&context_, in_.data() + got, static_cast<int>(sent - got));
            if (r < 0) {
                Fail(r, "");
                break;
            }
            got += static_cast<size_t>(r);
            empty = r == 0 ? empty + 1 : 0;
            if (empty > kEmptyReadLimit) Fail(0, "no answer from the chip");
        }
    }
    // Bit b of an answer byte starting at state s was sampled before state s + 2b + 2 was set:
    // with the clock high, after its rising edge.
    const uint8_t miso = static_cast<uint8_t>(1u << pins_.Miso);
    for (size_t at : answerAt_) {
        uint8_t byte = 0;
        for (size_t b = 0; b < 8; ++b) {
            const size_t sample = at + 2 * b + 2;
            const bool high = !failed_ && sample < in_.size() && (in_[sample] & miso) != 0;
            byte = static_cast<uint8_t>(byte << 1 | (high ? 1 : 0));
        }
        answers_.push_back(byte);
    }
    out_.clear();
    answerAt_.clear();
}

}  // namespace tondrel::ftdi
