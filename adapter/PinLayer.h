#pragma once
// The pin layer: drives a DB-25 pin to a physical level, or reads one, through the five port
// operations, correcting for the lines the PC's port inverts; plus whole-register access for
// the adapter handshake. Every level it takes or gives is the level on the connector.
#include <cstdint>

#include "port/PortIo.h"

namespace tondrel::adapter {

class PinLayer {
  public:
    // `io` is the slot that holds the port: its owner may point it at another port (another
    // LPT, another back end) between operations, and the layer follows.
    explicit PinLayer(PortIo* const& io) : io_(io) {}
    PinLayer(PortIo*&&) = delete;  // a temporary slot would be gone before the first access
    virtual ~PinLayer() = default;

    // Data at base, status at base + 1, control at base + 2.
    void SetPortBase(int32_t base);
    // The status register with BUSY corrected: bits 7..3 are pins 11, 10, 12, 13, 15.
    uint8_t ReadStatusPort();
    // Bit n drives pin n + 2.
    void WriteDataPort(uint8_t value);
    // Bits 0..3 are the levels of pins 1, 14, 16, 17; bits 4..7 go to the register as they are.
    void WriteControlPort(uint8_t value);
    // One output pin to a level, by one bit operation; false (and nothing written) for a pin
    // that is not an output.
    bool SetPin(uint8_t pin, bool level);
    // Two output pins at once: one register write when they share a register, else one after
    // the other, `first` first.
    void SetPins(uint8_t first, bool firstLevel, uint8_t second, bool secondLevel);
    // The level of an input pin; false for any other pin.
    bool GetPin(uint8_t pin);

    int32_t DataPort = 0;
    int32_t StatusPort = 0;
    int32_t ControlPort = 0;

  protected:
    PortIo& Io() const { return *io_; }

  private:
    PortIo* const& io_;
};

}  // namespace tondrel::adapter
