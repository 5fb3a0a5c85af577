#pragma once
// CountingPort: wraps any PortIo and counts the five operations, for benchmarks and tests that
// measure port traffic. It also prices them as a plain port library does (a bit change is a
// read and a write), to compare against what a shadowing back end really spends.
#include <array>
#include <cstdint>
#include <string>

#include "port/PortIo.h"

namespace tondrel {

class CountingPort : public PortIo {
  public:
    enum Op : size_t { kIn, kOut, kSetBit, kClrBit, kGetBit, kOpCount };

    explicit CountingPort(PortIo& inner) : inner_(inner) {}

    uint8_t PortIn(uint16_t address) override {
        ++counts_[kIn];
        return inner_.PortIn(address);
    }
    void PortOut(uint16_t address, uint8_t value) override {
        ++counts_[kOut];
        inner_.PortOut(address, value);
    }
    void SetPortBit(uint16_t address, uint8_t bit) override {
        ++counts_[kSetBit];
        inner_.SetPortBit(address, bit);
    }
    void ClrPortBit(uint16_t address, uint8_t bit) override {
        ++counts_[kClrBit];
        inner_.ClrPortBit(address, bit);
    }
    bool GetPortBit(uint16_t address, uint8_t bit) override {
        ++counts_[kGetBit];
        return inner_.GetPortBit(address, bit);
    }
    std::string Describe() const override { return "counting " + inner_.Describe(); }

    uint64_t Count(Op op) const { return counts_[op]; }
    uint64_t Operations() const {
        uint64_t n = 0;
        for (uint64_t c : counts_) n += c;
        return n;
    }
    // Register accesses an unshadowed port spends on these operations.
    uint64_t PlainRegisterAccesses() const {
        return counts_[kIn] + counts_[kOut] + counts_[kGetBit] +
               2 * (counts_[kSetBit] + counts_[kClrBit]);
    }
    void Reset() { counts_ = {}; }

  private:
    PortIo& inner_;
    std::array<uint64_t, kOpCount> counts_{};
};

}  // namespace tondrel
