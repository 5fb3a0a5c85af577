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

uint64_t SystemClock::NowNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void SystemClock::SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t VirtualClock::NowNs() { return now_; }

void VirtualClock::SleepMs(uint32_t ms) { now_ += uint64_t{ms} * 1000000u; }

void VirtualClock::Spin(int64_t iterations) {
    if (iterations <= 0) return;
    Clock::Spin(iterations);
    now_ += static_cast<uint64_t>(iterations) * kSpinStepNs;
}

}  // namespace tondrel
