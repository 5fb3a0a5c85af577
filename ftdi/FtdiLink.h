#pragma once
// The serial link on an FTDI chip in synchronous bit-bang mode, through libftdi1. Every pin
// change is one byte of pin states; the chip sets its pins to each byte in turn at the bit-bang
// rate and, before each, samples them into a byte it sends back. So one USB transfer carries as
// many clock edges as it has bytes, and MISO is read out of the states that come back: after
// the rising edge of each bit (the chip moves MISO on the falling one).
//
// Commands whose answers are not needed yet are held and go out with the next command that needs
// one, or before a wait. The chip stops clocking while its buffer of sampled states is full, so
// never more than its two buffers hold is written ahead of what has been read back: a larger
// write would stall until the transfer times out.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engines/SerialLink.h"
#include "ftdi/FtdiNames.h"

struct ftdi_context;

namespace tondrel::ftdi {

// What a chip type brings: its buffers (bytes to the pins, bytes of samples back), the fastest
// bit-bang rate and the clock its baud divisor divides.
struct ChipKind {
    const char* Name;
    size_t ToPins;
    size_t FromPins;
    uint32_t BaseClock;  // the rate of divisor 1
    bool HighClock;      // H types: a 12 MHz base besides the 3 MHz one
};

// The kind of the chip libftdi1 found (its `type`).
const ChipKind& KindOfType(int type);

// The bit-bang rate (pin states a second) closest to `wanted` but not above it that the chip's
// divisor gives, and what to ask libftdi1 for to get it (it multiplies bit-bang rates by four).
struct Rate {
    uint32_t StatesPerSecond;
    int Request;
};
Rate RateFor(const ChipKind& kind, uint64_t wantedStatesPerSecond);

class FtdiLink : public SerialLink {
  public:
    // `context` is open on the device, which `device` names for messages; it stays the
    // caller's.
    FtdiLink(ftdi_context& context, const ChipKind& kind, PinMap pins, std::string device);

    // Synchronous bit-bang on the map's pins, all outputs low, the buffer enable off.
    Status Start();
    // Pins back to inputs (the chip's serial function), whatever was held dropped.
    void Stop();

    void SetLine(IspLine line, bool level) override;
    void Queue(std::span<const uint8_t> command, size_t answer) override;
    std::vector<uint8_t> Collect() override;
    void Flush() override;
    size_t BatchSize() const override { return kReadAhead; }
    size_t PollSize() const override;
    void SetPhaseNs(uint64_t ns) override;
    Status TakeError() override;

    // The rate in use (pin states a second); the serial clock runs at half of it.
    uint32_t StatesPerSecond() const { return rate_.StatesPerSecond; }

  private:
    // Reads sent ahead at once: some 16 KiB of pin states.
    static constexpr size_t kReadAhead = 256;
    // A run of empty reads this long means the chip stopped answering.
    static constexpr int kEmptyReadLimit = 1000;

    void Put(uint8_t state) { out_.push_back(state); }
    void SetPin(int pin, bool level);
    // Sends what is held and decodes the answers it carries.
    void Run();
    // Notes the failure: libftdi1's `code` (negative), or `why` for one of this link's own.
    void Fail(int code, const char* why);

    ftdi_context& context_;
    const ChipKind& kind_;
    PinMap pins_;
    std::string device_;
    Rate rate_{0, 0};
    uint8_t state_ = 0;
    std::vector<uint8_t> out_;      // pin states not sent yet
    std::vector<size_t> answerAt_;  // where the answer bytes among them begin
    std::vector<uint8_t> answers_;  // decoded, not collected yet
    std::vector<uint8_t> in_;
    Status error_;
    Status last_;          // said again by every later operation
    bool failed_ = false;  // the device went away or stopped answering: nothing more is sent
};

}  // namespace tondrel::ftdi
