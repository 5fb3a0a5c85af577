#pragma once
// The serial link on the parallel-port adapter: every command is bit-banged through the pin layer
// the moment it is queued, two port writes per bit (the data line moves with the falling clock
// edge) and a read per answer bit, with the bit-delay countdown after each clock edge. The engine's
// pin fields and bit delay are read at each use, so whatever the engine (or a test) last set is
// what drives the lines.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engines/SerialLink.h"

namespace tondrel {

class SerialIsp;

class ParallelLink : public SerialLink {
  public:
    explicit ParallelLink(SerialIsp& engine) : engine_(engine) {}

    void SetLine(IspLine line, bool level) override;
    void Queue(std::span<const uint8_t> command, size_t answer) override;
    std::vector<uint8_t> Collect() override;
    void Flush() override {}

  private:
    bool GetMiso();
    // SCK low and MOSI to `data` in one go, then the countdown.
    void FallingEdge(bool data);
    SerialIsp& engine_;
    std::vector<uint8_t> answers_;
};

}  // namespace tondrel
