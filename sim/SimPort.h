#pragma once
// PortIo over a simulated bench: the virtual connector. Addresses base, base+1, base+2 for any
// base (the low two bits pick data, status, control).
//
// With shadow registers the back end remembers what it last wrote to data and control, so
// SetPortBit/ClrPortBit cost one write instead of a read and a write, and nothing at all when
// the bit already has the level. The levels on the connector are the same either way.
#include <cstdint>
#include <string>

#include "port/Clock.h"
#include "port/PortIo.h"
#include "sim/Bench.h"

namespace tondrel::sim {

class SimPort : public PortIo {
  public:
    // clock may be null; otherwise each register access advances it by one port access.
    SimPort(Bench& bench, VirtualClock* clock, bool shadow = true);

    uint8_t PortIn(uint16_t address) override;
    void PortOut(uint16_t address, uint8_t value) override;
    void SetPortBit(uint16_t address, uint8_t bit) override;
    void ClrPortBit(uint16_t address, uint8_t bit) override;
    bool GetPortBit(uint16_t address, uint8_t bit) override;
    std::string Describe() const override;

    uint64_t Accesses() const { return reads_ + writes_; }
    uint64_t Reads() const { return reads_; }
    uint64_t Writes() const { return writes_; }
    void ResetCounters() { reads_ = writes_ = 0; }
    Bench& GetBench() { return bench_; }

  private:
    uint8_t Read(int reg);
    void Write(int reg, uint8_t value);
    void ChangeBit(uint16_t address, uint8_t bit, bool set);

    Bench& bench_;
    VirtualClock* clock_;
    bool shadow_;
    uint8_t dataShadow_ = 0;
    uint8_t controlShadow_ = 0;
    uint64_t reads_ = 0;
    uint64_t writes_ = 0;
};

}  // namespace tondrel::sim
