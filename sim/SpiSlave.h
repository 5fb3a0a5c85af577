#pragma once
// The serial interface of every SPI-programmed chip on the bench (AVR, AT89S51/52, AT89S53,
// AT89S8252, AT89S8253): mode 0, MSB first. MOSI is latched on the rising SCK edge, MISO moves
// to the next bit on the falling edge. A chip model feeds it its SCK/MOSI levels and gets whole
// bytes back; what it answers during the next byte it hands over with QueueOut().
//
// A chip slower than the clock it is given (MinPhaseNs) latches the wrong level on MOSI at the
// first rising edge after a clock phase, high or low, shorter than that.
#include <cstdint>
#include <optional>

namespace tondrel::sim {

// During a self-timed write the AT89S chips answer a read of the byte being written with its
// top bit complemented (data polling).
inline constexpr uint8_t kDataPollingBit = 0x80;
constexpr uint8_t DataPolling(uint8_t written) {
    return static_cast<uint8_t>(written ^ kDataPollingBit);
}

class SpiSlave {
  public:
    // Back to a byte boundary with nothing to send (MISO high), e.g. when the chip enters
    // programming mode. `sck` is the clock's level now; `phaseStartNs`, when the chip knows it,
    // is where the clock phase under way counts from (else the first edge is not timed).
    void Reset(bool sck, std::optional<uint64_t> phaseStartNs = std::nullopt) {
        sck_ = sck;
        shift_ = 0;
        bits_ = 0;
        out_ = 0xFF;
        next_ = 0xFF;
        loadOnFall_ = false;
        lastEdgeNs_ = phaseStartNs;
        phaseTooShort_ = false;
    }

    // Feeds the current line levels. Returns the byte this call completed, if any (on the rising
    // edge of its eighth bit).
    std::optional<uint8_t> Step(bool sck, bool mosi, uint64_t nowNs, uint64_t minPhaseNs = 0) {
        if (sck == sck_) return std::nullopt;
        sck_ = sck;
        if (minPhaseNs > 0 && lastEdgeNs_ && nowNs - *lastEdgeNs_ < minPhaseNs)
            phaseTooShort_ = true;
        lastEdgeNs_ = nowNs;
        if (!sck) {
            if (loadOnFall_) {
                out_ = next_;
                next_ = 0xFF;
                loadOnFall_ = false;
            } else {
                out_ = static_cast<uint8_t>(out_ << 1 | 1);
            }
            return std::nullopt;
        }
        const bool bit = mosi != phaseTooShort_;
        phaseTooShort_ = false;
        shift_ = static_cast<uint8_t>((shift_ << 1) | (bit ? 1 : 0));
        if (++bits_ < 8) return std::nullopt;
        bits_ = 0;
        loadOnFall_ = true;
        return shift_;
    }

    // The byte to shift out during the next byte; it appears on MISO at the falling edge that
    // ends the current byte. Not called: the chip leaves MISO high (0xFF).
    void QueueOut(uint8_t byte) { next_ = byte; }

    // Level on MISO now.
    bool Out() const { return (out_ & 0x80) != 0; }

  private:
    bool sck_ = false;
    uint8_t shift_ = 0;
    int bits_ = 0;
    uint8_t out_ = 0xFF;
    uint8_t next_ = 0xFF;
    bool loadOnFall_ = false;
    std::optional<uint64_t> lastEdgeNs_;
    bool phaseTooShort_ = false;
};

}  // namespace tondrel::sim
