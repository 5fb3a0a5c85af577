#include <gtest/gtest.h>

#include "port/Clock.h"

namespace tondrel {
namespace {

// A processor whose countdown slows down after the first wait (a sibling thread gets busy, the
// frequency drops): reading the clock costs 20 ns, a countdown step 2 ns and then 6 ns.
class SlowingClock : public Clock {
  public:
    uint64_t NowNs() override { return now += 20; }
    void SleepMs(uint32_t) override {}
    void Spin(int64_t steps) override {
        if (steps > 0) now += static_cast<uint64_t>(steps) * stepNs;
    }
    uint64_t now = 0;
    uint64_t stepNs = 2;
};

// A wait that comes out long is as bad as a short one for the speed search: the phases it gave
// look slower than they were, and the speed found fails once the processor is quiet again.
TEST(ClockWait, EndsSoonAfterItsTimeThoughTheProcessorSlowsDown) {
    SlowingClock clock;
    clock.WaitNs(1000);
    clock.stepNs = 6;
    for (const uint64_t ns : {1000u, 5000u, 100000u}) {
        const uint64_t start = clock.now;
        clock.WaitNs(ns);
        EXPECT_GE(clock.now - start, ns);
        EXPECT_LE(clock.now - start, ns + 100) << ns;
    }
}

}  // namespace
}  // namespace tondrel
