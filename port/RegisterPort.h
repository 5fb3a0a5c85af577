#pragma once
// RegisterPort: the one register model of every back end, real or simulated. It maps the five
// port operations onto three registers (0 data, 1 status, 2 control) and, when asked, keeps a
// shadow of the two registers only the program writes, so that a one-bit change costs one write
// instead of a read and a write, and a write of the value already there costs nothing. The
// levels on the connector are the same either way.
#include <cstdint>
#include <string>

#include "port/PortIo.h"

namespace tondrel {

class RegisterPort : public PortIo {
  public:
    enum Register : int { kData = 0, kStatus = 1, kControl = 2, kNone = -1 };

    uint8_t PortIn(uint16_t address) override;
    void PortOut(uint16_t address, uint8_t value) override;
    void SetPortBit(uint16_t address, uint8_t bit) override;
    void ClrPortBit(uint16_t address, uint8_t bit) override;
    bool GetPortBit(uint16_t address, uint8_t bit) override;
    void ChangePortBits(uint16_t address, uint8_t mask, uint8_t values) override;

    // Register accesses that really reached the hardware.
    uint64_t Reads() const { return reads_; }
    uint64_t Writes() const { return writes_; }
    uint64_t Accesses() const { return reads_ + writes_; }
    void ResetCounters() { reads_ = writes_ = 0; }

  protected:
    explicit RegisterPort(bool shadow) : shadow_(shadow) {}
    // Which register an address names; kNone for addresses this port does not own.
    virtual Register RegisterOf(uint16_t address) const = 0;
    virtual uint8_t ReadRegister(Register reg) = 0;
    virtual void WriteRegister(Register reg, uint8_t value) = 0;
    // What a read of `reg` gives back after `written` went into it. The whole value on most
    // ports; a port that keeps only some bits says which, so a bit change through the shadow
    // writes exactly what a read-modify-write would.
    virtual uint8_t ReadsBackAs(Register reg, uint8_t written) const {
        (void)reg;
        return written;
    }
    // False while a read of `reg` would not give `latch` back (data lines turned into inputs
    // read the lines): a bit change then reads the register first, as an unshadowed port does.
    virtual bool ReadsLatch(Register reg, uint8_t latch) const {
        (void)reg, (void)latch;
        return true;
    }
    // Seeds the shadows from the hardware; a back end calls it once the port is usable.
    void LoadShadows();
    // Seeds them from values the back end knows without an access.
    void SeedShadows(uint8_t data, uint8_t control);

  private:
    uint8_t Read(Register reg);
    // Through the shadow: nothing happens when the register already holds the value.
    void Write(Register reg, uint8_t value);
    // Always reaches the register.
    void Store(Register reg, uint8_t value);
    void ChangeBit(uint16_t address, uint8_t bit, bool set);
    uint8_t& Shadow(Register reg) { return reg == kData ? shadowData_ : shadowControl_; }

    bool shadow_;
    uint8_t shadowData_ = 0;
    uint8_t shadowControl_ = 0;
    uint64_t reads_ = 0;
    uint64_t writes_ = 0;
};

}  // namespace tondrel
