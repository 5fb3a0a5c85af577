#pragma once
// One programming job as a user runs it, on whatever port and clock it is given: signature,
// chip erase, Flash write with verification, read back. Run once through the preloaded ppdev
// device and once on the in-process bench, the two must leave the same chip behind.
#include <cstdint>
#include <string>

#include "port/Clock.h"
#include "port/PortIo.h"

namespace tondrel::preload {

struct JobOutcome {
    std::string Error;  // empty when the chip is one the job knows
    std::string Signature;
    int32_t FailedWrite = -1;  // first address whose write did not verify
    bool ReadBackMatches = false;
};

// chip: AT89S52, AT89S8252, ATmega16 or PIC16F877A; bytes of random image from address 0.
JobOutcome RunJob(const std::string& chip, int32_t bytes, uint32_t seed, PortIo& io, Clock& clock);

}  // namespace tondrel::preload
