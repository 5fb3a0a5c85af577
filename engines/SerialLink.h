#pragma once
// SerialLink: what carries the serial engines' commands to the chip. The engines hand it whole
// commands and the target lines' levels; it shifts them out (SPI mode 0, MSB first) and hands
// back the answer bytes asked for. On the parallel port every command goes out at once, bit by
// bit; a USB bit-bang adapter holds the commands whose answers are not needed yet and sends many
// in one transfer, so the engines ask for answers as late as they can and several at a time.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/Status.h"

namespace tondrel {

// The target lines a serial engine drives.
enum class IspLine : uint8_t { Reset, Clock, DataOut, Enable };

class SerialLink {
  public:
    // No answer byte is sampled.
    static constexpr size_t kNoAnswer = SIZE_MAX;

    virtual ~SerialLink() = default;

    // One line to a level (Enable: true switches the adapter's line drivers on). Keeps its place
    // among the commands queued around it.
    virtual void SetLine(IspLine line, bool level) = 0;
    // Shifts `command` out; byte `answer` of what comes back is kept for Collect (kNoAnswer: none).
    // A batching link may hold the bytes until Collect or Flush.
    virtual void Queue(std::span<const uint8_t> command, size_t answer) = 0;
    // Sends everything held and returns the answers of the commands queued since the last
    // Collect, in order.
    virtual std::vector<uint8_t> Collect() = 0;
    // Everything held goes out now: the caller is about to wait for the chip.
    virtual void Flush() = 0;
    // How many answered commands are worth sending together; 1 where each costs the same alone.
    virtual size_t BatchSize() const { return 1; }
    // How many reads of one location a poll sends at once.
    virtual size_t PollSize() const { return 1; }
    // The length of each clock phase the engine asks for, where the link sets its own rate.
    virtual void SetPhaseNs(uint64_t ns) { (void)ns; }
    // The first failure since the last call (naming the device), then cleared.
    virtual Status TakeError() { return {}; }
};

}  // namespace tondrel
