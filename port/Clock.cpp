#include "port/Clock.h"

#include <chrono>
#include <thread>

namespace tondrel {

void Clock::Spin(int64_t iterations) {
    // volatile keeps the optimiser from removing the loop: it is the serial clock's only delay.
    volatile int64_t i = iterations;
    while (i > 0) {
        const int64_t next = i - 1;
        i = next;
    }
}

void Clock::WaitNs(uint64_t ns) {
    if (ns == 0) return;
    // The clock is read at every turn. A countdown whose rate was measured once runs long
    // whenever the processor is busier than it was then (a loaded sibling thread, another
    // frequency), and a phase that comes out long during the speed search makes the chip look
    // faster than it is: the speed found then fails once the load goes away.
    const uint64_t start = NowNs();
    while (NowNs() - start < ns) Spin(4);
}

uint64_t SystemClock::NowNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void SystemClock::SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t VirtualClock::NowNs() {
    return now_;
}

void VirtualClock::SleepMs(uint32_t ms) {
    now_ += uint64_t{ms} * 1000000u;
}

void VirtualClock::Spin(int64_t iterations) {
    if (iterations <= 0) return;
    Clock::Spin(iterations);
    now_ += static_cast<uint64_t>(iterations) * kSpinStepNs;
}

void VirtualClock::WaitNs(uint64_t ns) {
    // The countdown really runs here too, so a slow setting takes real time as on hardware
    // (a stop request can arrive in the middle of a write).
    Spin(static_cast<int64_t>((ns + kSpinStepNs - 1) / kSpinStepNs));
}

}  // namespace tondrel
