#include "preload/UsbDevice.h"

#include <libusb.h>

#include <algorithm>

namespace tondrel::preload {

namespace {

// The vendor requests of the FTDI chips.
// Numbered from 0 in this order, apart from the latency, bit-mode and EEPROM requests.
enum Request : uint8_t {
    kReset,
    kModemCtrl,
    kFlowCtrl,
    kBaudRate,
    kSetData,
    kPollModem,
    kEventChar,
    kErrorChar,
    kSetLatency = 0x09,
    kGetLatency,
    kSetBitMode,
    kReadPins,
    kReadEeprom = 0x90
};
constexpr uint8_t kModeAsync = 0x01;
constexpr uint8_t kModeSync = 0x04;
// Modem status as an idle chip reports it: CTS and DSR on, the transmitter empty.
constexpr uint8_t kStatus0 = 0x31;
constexpr uint8_t kStatus1 = 0x60;

// The fraction codes of the baud divisor, in eighths.
constexpr uint32_t kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};

}  // namespace

const std::vector<UsbChipModel>& UsbChipModels() {
    static const std::vector<UsbChipModel> models = {
        {"FT232R USB UART", "TD232R01", 0x0403, 0x6001, 0x0600, 64, 256, 128, 1000000, false},
        {"Single RS232-HS", "TD232H01", 0x0403, 0x6014, 0x0900, 512, 1024, 1024, 125000, true},
    };
    return models;
}

UsbDevice::UsbDevice(const UsbChipModel& model, Clock& clock, sim::Bench& bench, ftdi::PinMap pins)
    : model_(model), clock_(clock), bench_(bench), pins_(pins) {
    Drive(0);
}

void UsbDevice::CountTransfer() {
    ++counts_.Transfers;
    counts_.ModelNs += model_.FrameNs;
    if (auto* usb = dynamic_cast<UsbClock*>(&clock_)) usb->Charge(model_.FrameNs);
}

void UsbDevice::SetBaud(uint16_t value, uint16_t index) {
    const uint32_t code = (value >> 14) | ((model_.HighClock ? index >> 8 : index) & 1u) << 2;
    const uint32_t whole = value & 0x3FFF;
    const bool fast = model_.HighClock && (index & 0x200) != 0;
    const uint64_t base = fast ? 12000000 : 3000000;
    // Divisors 0 and 1 stand for 1 and 1.5.
    uint64_t eighths = whole * 8 + kEighths[code];
    if (whole == 0 && code == 0) eighths = 8;
    if (whole == 1 && code == 0) eighths = 12;
    rate_ = std::max<uint64_t>(1, base * 8 / eighths);
}

int UsbDevice::Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                       std::span<uint8_t> data) {
    CountTransfer();
    if ((requestType & 0x60) != 0x40) return LIBUSB_ERROR_PIPE;  // vendor requests only
    const bool in = (requestType & 0x80) != 0;
    const auto answer = [&](std::initializer_list<uint8_t> bytes) {
        const size_t n = std::min(bytes.size(), data.size());
        std::copy_n(bytes.begin(), n, data.begin());
        return static_cast<int>(n);
    };
    switch (request) {
        case kReset:
            if (value == 0 || value == 1) samples_.clear();
            if (value == 0 || value == 2) pending_.clear();
            return 0;
        case kBaudRate:
            SetBaud(value, index);
            return 0;
        case kSetBitMode:
            mode_ = static_cast<uint8_t>(value >> 8);
            direction_ = mode_ == 0 ? 0 : static_cast<uint8_t>(value & 0xFF);
            pending_.clear();
            Drive(pins_out_);
            return 0;
        case kReadPins:
            return in ? answer({Sample()}) : LIBUSB_ERROR_PIPE;
        case kGetLatency:
            return in ? answer({1}) : LIBUSB_ERROR_PIPE;
        case kPollModem:
            return in ? answer({kStatus0, kStatus1}) : LIBUSB_ERROR_PIPE;
        case kReadEeprom:
            return in ? answer({0xFF, 0xFF}) : LIBUSB_ERROR_PIPE;
        case kModemCtrl:
        case kFlowCtrl:
        case kSetData:
        case kEventChar:
        case kErrorChar:
        case kSetLatency:
            return 0;
        default:
            return LIBUSB_ERROR_PIPE;
    }
}

uint8_t UsbDevice::Sample() {
    // Inputs read high (the chip's pull-ups) apart from the one the target drives.
    uint8_t levels = static_cast<uint8_t>((pins_out_ & direction_) | ~direction_);
    const auto miso = static_cast<uint8_t>(1u << pins_.Miso);
    if ((direction_ & miso) == 0) {
        sim::TargetChip* chip = bench_.Chip();
        bool high = chip == nullptr || chip->DataOut(stateNs_);
        if (bench_.Options().MisoStuck) high = *bench_.Options().MisoStuck;
        levels = static_cast<uint8_t>(high ? levels | miso : levels & ~miso);
    }
    return levels;
}

void UsbDevice::Drive(uint8_t state) {
    pins_out_ = state;
    const auto level = [&](int pin) { return pin >= 0 && ((state >> pin) & 1u) != 0; };
    const auto output = [&](int pin) { return pin >= 0 && ((direction_ >> pin) & 1u) != 0; };
    sim::TargetLines lines;
    const bool driving =
        mode_ != 0 && output(pins_.Reset) && output(pins_.Sck) && output(pins_.Mosi);
    const bool buffered =
        pins_.Buffer < 0 || (output(pins_.Buffer) && level(pins_.Buffer) != pins_.BufferActiveLow);
    lines.Connected = driving && buffered;
    if (lines.Connected) {
        lines.Rst = level(pins_.Reset);
        lines.Sck = level(pins_.Sck);
        lines.Mosi = level(pins_.Mosi);
    }
    if (sim::TargetChip* chip = bench_.Chip()) chip->SetLines(lines, stateNs_);
}

void UsbDevice::Pump() {
    const uint64_t period = 1000000000ull / rate_;
    stateNs_ = std::max(stateNs_, clock_.NowNs());
    uint64_t spent = 0;
    while (!pending_.empty() && (mode_ != kModeSync || samples_.size() < model_.FromPins)) {
        if (mode_ == kModeSync) samples_.push_back(Sample());
        Drive(pending_.front());
        pending_.pop_front();
        stateNs_ += period;
        spent += period;
    }
    counts_.ModelNs += spent;
    if (auto* usb = dynamic_cast<UsbClock*>(&clock_)) usb->Charge(spent);
}

size_t UsbDevice::BulkOut(std::span<const uint8_t> data) {
    CountTransfer();
    if (mode_ != kModeAsync && mode_ != kModeSync) {
        counts_.BytesOut += data.size();
        return data.size();  // serial data: nothing on the bench listens
    }
    size_t taken = 0;
    while (taken < data.size()) {
        const size_t room = model_.ToPins - std::min(model_.ToPins, pending_.size());
        const size_t n = std::min(room, data.size() - taken);
        if (n == 0) break;
        pending_.insert(pending_.end(), data.begin() + static_cast<ptrdiff_t>(taken),
                        data.begin() + static_cast<ptrdiff_t>(taken + n));
        taken += n;
        Pump();
    }
    counts_.BytesOut += taken;
    return taken;
}

size_t UsbDevice::BulkIn(std::span<uint8_t> buffer) {
    CountTransfer();
    Pump();
    size_t filled = 0;
    const size_t packet = model_.PacketSize;
    do {
        if (buffer.size() - filled < 2) break;
        buffer[filled++] = kStatus0;
        buffer[filled++] = kStatus1;
        const size_t n = std::min({samples_.size(), packet - 2, buffer.size() - filled});
        std::copy_n(samples_.begin(), n, buffer.begin() + static_cast<ptrdiff_t>(filled));
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<ptrdiff_t>(n));
        filled += n;
        Pump();  // room in the buffer lets the chip go on
    } while (!samples_.empty() && filled % packet == 0);
    counts_.BytesIn += filled;
    return filled;
}

}  // namespace tondrel::preload
