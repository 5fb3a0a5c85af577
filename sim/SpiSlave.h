#pragma once
// Shift register of an SPI slave in mode 0, as the serially programmed chips have it: MOSI is
// latched on the rising SCK edge, MISO moves to the next bit on the falling edge, MSB first.
// A chip model feeds it its SCK/MOSI levels and gets whole bytes back; what it answers during
// the next byte it hands over with QueueOut().
#include <cstdint>
#include <optional>

namespace tondrel::sim {

class SpiSlave {
  public:
    // Back to a byte boundary with nothing to send (MISO high), e.g. when the chip leaves reset.
    void Reset(bool sck) {
        sck_ = sck;
        inShift_ = 0;
        inBits_ = 0;
        outByte_ = 0xFF;
        nextOut_ = 0xFF;
        outBit_ = 7;
        shiftPending_ = false;
        lastRiseNs_.reset();
        lastFallNs_.reset();
    }

    // Feeds the current line levels. Returns the byte this call completed, if any (on the rising
    // edge of its eighth bit). minPhaseNs models a chip slower than the clock it is given: when
    // the low phase before a rising edge, or the high phase before that, was shorter than it, the
    // chip latches the wrong level on MOSI.
    std::optional<uint8_t> Step(bool sck, bool mosi, uint64_t nowNs, uint64_t minPhaseNs = 0) {
        if (sck == sck_) return std::nullopt;
        sck_ = sck;
        if (!sck) {
            lastFallNs_ = nowNs;
            if (shiftPending_) {
                shiftPending_ = false;
                if (inBits_ == 0) {
                    outByte_ = nextOut_;
                    nextOut_ = 0xFF;
                    outBit_ = 7;
                } else if (outBit_ > 0) {
                    --outBit_;
                }
            }
            return std::nullopt;
        }
        bool bit = mosi;
        if (minPhaseNs > 0 && lastFallNs_) {
            const bool lowTooShort = nowNs - *lastFallNs_ < minPhaseNs;
            const bool highTooShort = lastRiseNs_ && *lastFallNs_ - *lastRiseNs_ < minPhaseNs;
            if (lowTooShort || highTooShort) bit = !bit;
        }
        lastRiseNs_ = nowNs;
        shiftPending_ = true;
        inShift_ = static_cast<uint8_t>((inShift_ << 1) | (bit ? 1 : 0));
        if (++inBits_ < 8) return std::nullopt;
        inBits_ = 0;
        return inShift_;
    }

    // The byte to shift out during the next byte; it appears on MISO at the falling edge that
    // ends the current byte. Not called: the chip leaves MISO high (0xFF).
    void QueueOut(uint8_t byte) { nextOut_ = byte; }

    // Level on MISO now.
    bool Out() const { return ((outByte_ >> outBit_) & 1) != 0; }

    // True between two bytes (the next rising edge starts a new byte).
    bool AtByteBoundary() const { return inBits_ == 0; }

  private:
    bool sck_ = false;
    uint8_t inShift_ = 0;
    int inBits_ = 0;
    uint8_t outByte_ = 0xFF;
    uint8_t nextOut_ = 0xFF;
    int outBit_ = 7;
    bool shiftPending_ = false;
    std::optional<uint64_t> lastRiseNs_;
    std::optional<uint64_t> lastFallNs_;
};

}  // namespace tondrel::sim
