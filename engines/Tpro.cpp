#include "engines/Tpro.h"

#include <utility>

namespace tondrel {

Status Tpro::PortStatus() {
    return Io().TakeError();
}

Status Tpro::Outcome(Status own) {
    Status port = PortStatus();
    return port.Ok() ? own : port;
}

void Tpro::BitDelayCountdown(int32_t bitDelay) {
    if (bitDelay < 0) return;
    Clk().Spin(int64_t{bitDelay} + 1);
}

bool Tpro::PollReadBack(const std::function<bool()>& matches) {
    // Nanoseconds, not truncated milliseconds, so "more than 1000 ms" means exactly that.
    constexpr uint64_t kLimitNs = 1000ull * 1000000ull;
    const uint64_t start = Clk().NowNs();
    for (;;) {
        if (matches()) return true;
        if (Clk().NowNs() - start > kLimitNs) return false;
    }
}

void Tpro::Sleep(uint32_t ms) { Clk().SleepMs(ms); }

}  // namespace tondrel
