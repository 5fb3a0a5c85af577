#pragma once
// PortIo over a simulated bench: the virtual connector. Addresses base, base+1, base+2 for any
// base (the low two bits pick data, status, control). It is a RegisterPort like the real back
// ends, so the bench runs the same shadow-register code a real port does.
#include <cstdint>
#include <string>

#include "port/Clock.h"
#include "port/RegisterPort.h"
#include "sim/Bench.h"

namespace tondrel::sim {

class SimPort : public RegisterPort {
  public:
    // clock may be null; otherwise each register access advances it by one port access.
    SimPort(Bench& bench, VirtualClock* clock, bool shadow = true);

    std::string Describe() const override;

  protected:
    Register RegisterOf(uint16_t address) const override;
    uint8_t ReadRegister(Register reg) override;
    void WriteRegister(Register reg, uint8_t value) override;
    uint8_t ReadsBackAs(Register reg, uint8_t written) const override;
    bool ReadsLatch(Register reg, uint8_t latch) const override;

  private:
    Bench& bench_;
    VirtualClock* clock_;
};

}  // namespace tondrel::sim
