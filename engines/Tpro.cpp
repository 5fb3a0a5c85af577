#include "engines/Tpro.h"

#include <utility>

namespace tondrel {

Status Tpro::PortStatus() {
    if (!portFailure_.Ok()) return std::exchange(portFailure_, Status());
    return Io().TakeError();
}

Status Tpro::Outcome(Status own) {
    Status port = PortStatus();
    return port.Ok() ? own : port;
}

void Tpro::BitDelayCountdown(int32_t bitDelay) {
    constexpr int64_t kAccessNs = VirtualClock::kPortAccessNs;
    if (bitDelay > kAccessNs) Clk().WaitNs(static_cast<uint64_t>(bitDelay - kAccessNs));
}

bool Tpro::PollReadBack(const std::function<bool()>& matches) {
    // Nanoseconds, not truncated milliseconds, so "more than 1000 ms" means exactly that.
    constexpr uint64_t kLimitNs = 1000ull * 1000000ull;
    const uint64_t start = Clk().NowNs();
    for (;;) {
        if (matches()) return true;
        // A port that failed reads back nothing: its failure is kept for the outcome.
        if (Status port = Io().TakeError(); !port) {
            portFailure_ = std::move(port);
            return false;
        }
        if (Clk().NowNs() - start > kLimitNs) return false;
    }
}

Status Tpro::WriteNeverReadBack(const std::string& address, uint32_t got, uint32_t want) {
    if (got != want && (got & ~want) == 0) return Status::Error("EngineNotErased", address);
    return Status::Error("EngineWriteTimeout", address);
}

void Tpro::Sleep(uint32_t ms) {
    Clk().SleepMs(ms);
}

}  // namespace tondrel
