#pragma once
// A simulated FTDI chip on the USB bus, its bit-bang pins wired to a simulated bench's chip: the
// vendor requests libftdi1 sends and the two bulk endpoints, as the chips' data sheets and the
// bit-bang application note describe them. In synchronous bit-bang each byte sent to the OUT
// endpoint sets the pins, after the pins were sampled into a byte for the IN endpoint; the chip
// stops setting pins while its buffer of samples is full. Every IN packet starts with the two
// modem-status bytes.
//
// Time: each transfer costs one USB frame (1 ms at full speed, a 125 us microframe at high
// speed), and the pin states it carries take their time at the bit-bang rate.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ftdi/FtdiNames.h"
#include "port/Clock.h"
#include "preload/SimDevice.h"
#include "sim/Bench.h"

namespace tondrel::preload {

struct UsbChipModel {
    const char* Product;  // the product string
    const char* Serial;
    uint16_t Vendor;
    uint16_t ProductId;
    uint16_t Release;     // bcdDevice: how libftdi1 tells the chip types apart
    uint16_t PacketSize;  // of the bulk endpoints
    size_t ToPins;        // receive buffer
    size_t FromPins;      // transmit buffer
    uint64_t FrameNs;     // what one transfer costs
    bool HighClock;       // the 12 MHz divisor base is there
};

// The two chips the simulated bus has: an FT232R (0403:6001) and an FT232H (0403:6014).
const std::vector<UsbChipModel>& UsbChipModels();

// Transfers and bytes, for the counts file and the benchmark.
struct UsbCounts {
    uint64_t Transfers = 0;
    uint64_t BytesOut = 0;  // bulk OUT payload
    uint64_t BytesIn = 0;   // bulk IN payload, status bytes included
    uint64_t ModelNs = 0;   // frames plus pin states at the bit-bang rate
};

// Real time plus what the USB transfers cost, so that the chip's write cycles also end while a
// client polls in a loop.
class UsbClock : public Clock {
  public:
    uint64_t NowNs() override { return real_.NowNs() + extra_; }
    void SleepMs(uint32_t ms) override { real_.SleepMs(ms); }
    void Charge(uint64_t ns) { extra_ += ns; }

  private:
    SystemClock real_;
    uint64_t extra_ = 0;
};

class UsbDevice {
  public:
    // `pins`: how the board joins the chip's bit-bang pins to the target.
    UsbDevice(const UsbChipModel& model, Clock& clock, sim::Bench& bench, ftdi::PinMap pins);

    // A control transfer; the bytes answered (0 for none), or a negative libusb code.
    int Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                std::span<uint8_t> data);
    // Bulk OUT: bytes accepted; fewer than given when the chip's buffers are full (the host
    // then times out).
    size_t BulkOut(std::span<const uint8_t> data);
    // Bulk IN into `buffer`: packets of status bytes and samples; the bytes filled.
    size_t BulkIn(std::span<uint8_t> buffer);

    const UsbChipModel& Model() const { return model_; }
    const UsbCounts& Counts() const { return counts_; }
    // The bit-bang rate in pin states a second.
    uint64_t StatesPerSecond() const { return rate_; }
    void CountTransfer();

  private:
    void SetBaud(uint16_t value, uint16_t index);
    uint8_t Sample();
    void Drive(uint8_t state);
    void Pump();

    const UsbChipModel& model_;
    Clock& clock_;
    sim::Bench& bench_;
    ftdi::PinMap pins_;
    UsbCounts counts_;
    uint8_t mode_ = 0;       // 0 serial, 1 asynchronous bit-bang, 4 synchronous
    uint8_t direction_ = 0;  // set bits are outputs
    uint8_t pins_out_ = 0;   // what the outputs drive
    uint64_t rate_ = 9600;
    uint64_t stateNs_ = 0;         // chip time of the last pin state
    std::deque<uint8_t> pending_;  // received, not on the pins yet
    std::deque<uint8_t> samples_;  // sampled, not read yet
};

}  // namespace tondrel::preload
