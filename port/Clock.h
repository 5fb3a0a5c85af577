#pragma once
// Time for the engines: the millisecond tick for poll limits, fixed sleeps, and the busy wait
// that sets the length of a serial clock phase.
#include <cstdint>

namespace tondrel {

class Clock {
  public:
    virtual ~Clock() = default;
    // Monotonic time in nanoseconds; 64 bits, so a poll limit can never be fooled by wrap-around.
    virtual uint64_t NowNs() = 0;
    uint64_t NowMs() { return NowNs() / 1000000u; }
    virtual void SleepMs(uint32_t ms) = 0;
    // Runs an empty countdown of `iterations` steps. The loop really executes on every clock.
    virtual void Spin(int64_t iterations);
    // Busy-waits at least `ns` of this clock's time, and as little more as reading the clock
    // allows, on a loaded processor too.
    virtual void WaitNs(uint64_t ns);
};

// Real time: steady clock and real sleeps.
class SystemClock : public Clock {
  public:
    uint64_t NowNs() override;
    void SleepMs(uint32_t ms) override;
};

// Simulated time: port accesses and countdown steps cost fixed amounts, sleeps pass instantly.
// With it a chip's self-timed write or a 1000 ms poll limit behave as on hardware while a test
// runs at CPU speed.
class VirtualClock : public Clock {
  public:
    static constexpr uint64_t kPortAccessNs = 1000;  // one access on a real port costs ~1 us
    static constexpr uint64_t kSpinStepNs = 2;       // one countdown iteration

    uint64_t NowNs() override;
    void SleepMs(uint32_t ms) override;
    void Spin(int64_t iterations) override;
    void WaitNs(uint64_t ns) override;
    void Advance(uint64_t ns) { now_ += ns; }
    void PortAccess() { now_ += kPortAccessNs; }
    uint64_t Peek() const { return now_; }

  private:
    uint64_t now_ = 0;
};

}  // namespace tondrel
