#pragma once
// The five operations of a PC port-I/O library, on 16-bit register addresses (base, base+1,
// base+2). Only the pin layer of the engines calls them.
#include <cstdint>
#include <string>

#include "common/Status.h"

namespace tondrel {

class PortIo {
  public:
    virtual ~PortIo() = default;
    virtual uint8_t PortIn(uint16_t address) = 0;
    virtual void PortOut(uint16_t address, uint8_t value) = 0;
    virtual void SetPortBit(uint16_t address, uint8_t bit) = 0;
    virtual void ClrPortBit(uint16_t address, uint8_t bit) = 0;
    virtual bool GetPortBit(uint16_t address, uint8_t bit) = 0;
    // The bits of `mask` to the levels of `values`, the others kept. A back end that can do so
    // changes them in one register write; this fallback changes them one bit at a time.
    virtual void ChangePortBits(uint16_t address, uint8_t mask, uint8_t values) {
        for (uint8_t bit = 0; bit < 8; ++bit) {
            if (((mask >> bit) & 1u) == 0) continue;
            if (((values >> bit) & 1u) != 0)
                SetPortBit(address, bit);
            else
                ClrPortBit(address, bit);
        }
    }
    // Human-readable name of the back end, e.g. "ppdev /dev/parport0" or "sim:ATmega16".
    virtual std::string Describe() const = 0;
    // The first access that failed since the last call (device and cause), then cleared; fine
    // when every access worked. A back end that cannot fail is always fine.
    virtual Status TakeError() { return {}; }
};

}  // namespace tondrel
