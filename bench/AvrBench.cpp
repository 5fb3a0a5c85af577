// The AVR engine on the simulated bench, a whole ATmega128 (128 KiB, 256-byte pages):
// - wall time and simulated time to erase, write and read back the full Flash;
// - port accesses per programmed byte (one load command per byte, one commit and one poll
//   per page), with and without the virtual connector's shadow registers.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engines/Tavr.h"
#include "tests/support/BenchRig.h"

namespace {

using namespace tondrel;

constexpr int32_t kFlash = 131072;

struct Desk : testsupport::EngineRig<Tavr> {
    explicit Desk(bool shadow) : EngineRig(testsupport::OnBench("ATmega128"), shadow) {
        Current.CurrentChipId = 28;
        Current.CurrentChipName = "ATmega128";
        Current.CurrentMethodCode = Method::Avr;
        Current.FlashSize = kFlash;
        Current.EEPROMSize = 4096;
        Current.CurrentPageSize = 256;
        Current.FlashDataEnd = kFlash - 1;
    }
};

std::vector<uint8_t> Image() {
    std::vector<uint8_t> image(kFlash);
    std::mt19937 random(128);
    for (auto& b : image) b = static_cast<uint8_t>(random());
    return image;
}

void FullAtmega128(benchmark::State& state) {
    const auto image = Image();
    double writeSimMs = 0, readSimMs = 0, accessesPerByte = 0, readAccessesPerByte = 0;
    for (auto _ : state) {
        Desk desk(state.range(0) != 0);
        if (!desk.Engine.EnterProgramming()) state.SkipWithError("enter");
        (void)desk.Engine.EraseChip();
        desk.Port.ResetCounters();
        const uint64_t writeStart = desk.Clock.Peek();
        for (int32_t a = 0; a < kFlash; ++a)
            if (!desk.Engine.WriteFlashByte(a, image[static_cast<size_t>(a)]))
                state.SkipWithError("write");
        const uint64_t writeEnd = desk.Clock.Peek();
        accessesPerByte = static_cast<double>(desk.Port.Accesses()) / kFlash;
        desk.Port.ResetCounters();
        for (int32_t a = 0; a < kFlash; ++a)
            if (desk.Engine.ReadFlashByte(a).ValueOr(0) != image[static_cast<size_t>(a)])
                state.SkipWithError("read back");
        readAccessesPerByte = static_cast<double>(desk.Port.Accesses()) / kFlash;
        writeSimMs = static_cast<double>(writeEnd - writeStart) / 1e6;
        readSimMs = static_cast<double>(desk.Clock.Peek() - writeEnd) / 1e6;
        (void)desk.Engine.LeaveProgramming();
    }
    state.counters["write_sim_ms"] = writeSimMs;
    state.counters["read_sim_ms"] = readSimMs;
    state.counters["accesses_per_programmed_byte"] = accessesPerByte;
    state.counters["accesses_per_read_byte"] = readAccessesPerByte;
}
BENCHMARK(FullAtmega128)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("shadow")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
