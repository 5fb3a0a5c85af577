#pragma once
// RegisterPort: the common half of the real back ends. It maps the five port operations onto
// three registers (0 data, 1 status, 2 control) and, when asked, keeps a shadow of the two
// registers only the program writes, so that a one-bit change costs one write instead of a read
// and a write, and a write of the value already there costs nothing. The levels on the
// connector are the same either way.
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

    bool Shadowed() const { return shadow_; }
    // Register accesses that really reached the hardware.
    uint64_t RegisterReads() const { return reads_; }
    uint64_t RegisterWrites() const { return writes_; }

  protected:
    explicit RegisterPort(bool shadow) : shadow_(shadow) {}
    // Which register an address names; kNone for addresses this port does not own.
    virtual Register RegisterOf(uint16_t address) const = 0;
    virtual uint8_t ReadRegister(Register reg) = 0;
    virtual void WriteRegister(Register reg, uint8_t value) = 0;
    // Seeds the shadows from the hardware; a back end calls it once the port is usable.
    void LoadShadows();

  private:
    uint8_t Read(Register reg);
    void Write(Register reg, uint8_t value);
    void ChangeBit(uint16_t address, uint8_t bit, bool set);

    bool shadow_;
    uint8_t shadowData_ = 0;
    uint8_t shadowControl_ = 0;
    uint64_t reads_ = 0;
    uint64_t writes_ = 0;
};

}  // namespace tondrel
