#include "port/Clock.h"

#include <algorithm>
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
    const uint64_t start = NowNs();
    if (stepsPerNs_ <= 0) {
        // The fastest of a few rounds: a round the scheduler interrupted only looks slower, and
        // a rate guessed too slow would make the countdown below overshoot.
        for (int round = 0; round < 5; ++round) {
            constexpr int64_t kSteps = 20000;
            const uint64_t t0 = NowNs();
            Spin(kSteps);
            const uint64_t took = NowNs() - t0;
            stepsPerNs_ =
                std::max(stepsPerNs_, double(kSteps) / double(std::max<uint64_t>(took, 1)));
        }
    }
    const uint64_t elapsed = NowNs() - start;
    if (elapsed >= ns) return;
    // Most of the wait in one countdown, so that the clock is read only a few times; the rest
    // in short ones until the clock says the time is up.
    Spin(static_cast<int64_t>(double(ns - elapsed) * stepsPerNs_ * 0.8));
    while (NowNs() - start < ns) Spin(8);
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
