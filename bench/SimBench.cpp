// Port traffic and time on the simulated bench with the AT89S51/52 engine:
// - port accesses per SPI byte and per programmed Flash byte, with and without the virtual
//   connector's shadow registers (the literal read-modify-write pin layer needs 58 per SPI
//   byte; the shadowing back end aims at 33 or fewer);
// - wall time and simulated time to write and read back a whole AT89S52.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engines/T89s.h"
#include "tests/support/BenchRig.h"

namespace {

using namespace tondrel;

struct Desk : testsupport::EngineRig<T89s> {
    explicit Desk(bool shadow) : EngineRig(testsupport::OnBench("AT89S52"), shadow) {
        Current.CurrentChipName = "AT89S52";
        Current.CurrentMethodCode = Method::At89s;
        Current.FlashSize = 8192;
        (void)Engine.EnterProgramming();
    }
};

std::vector<uint8_t> Image() {
    std::vector<uint8_t> image(8192);
    std::mt19937 random(8952);
    for (auto& b : image) b = static_cast<uint8_t>(random());
    return image;
}

// A read command is four SPI bytes with nothing else around them.
void SpiByte(benchmark::State& state) {
    Desk desk(state.range(0) != 0);
    desk.Port.ResetCounters();
    int32_t address = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(desk.Engine.ReadFlashByte(address).ValueOr(0));
        address = (address + 0x0123) & 0x1FFF;  // varied address bits, so MOSI changes vary
        bytes += 4;
    }
    state.counters["accesses_per_spi_byte"] =
        static_cast<double>(desk.Port.Accesses()) / static_cast<double>(bytes);
}
BENCHMARK(SpiByte)->Arg(0)->Arg(1)->ArgName("shadow");

// Write with verification, as a user's Flash write runs it.
void ProgrammedByte(benchmark::State& state) {
    Desk desk(state.range(0) != 0);
    const auto image = Image();
    (void)desk.Engine.EraseChip();
    desk.Port.ResetCounters();
    const uint64_t simStart = desk.Clock.Peek();
    uint64_t written = 0, erases = 0, eraseAccesses = 0;
    int32_t address = 0;
    for (auto _ : state) {
        if (address == 8192) {
            state.PauseTiming();
            const uint64_t before = desk.Port.Accesses();
            (void)desk.Engine.EraseChip();
            eraseAccesses += desk.Port.Accesses() - before;
            ++erases;
            address = 0;
            state.ResumeTiming();
        }
        if (!desk.Engine.WriteFlashByte(address, image[address])) state.SkipWithError("verify");
        ++address;
        ++written;
    }
    const double n = static_cast<double>(written);
    state.counters["accesses_per_byte"] =
        static_cast<double>(desk.Port.Accesses() - eraseAccesses) / n;
    state.counters["sim_us_per_byte"] =
        static_cast<double>(desk.Clock.Peek() - simStart - erases * 500'000'000ull) / 1000.0 / n;
}
BENCHMARK(ProgrammedByte)->Arg(0)->Arg(1)->ArgName("shadow");

// Erase, write and read back a whole AT89S52.
void FullChip(benchmark::State& state) {
    const auto image = Image();
    double simMs = 0;
    for (auto _ : state) {
        Desk desk(state.range(0) != 0);
        const uint64_t start = desk.Clock.Peek();
        (void)desk.Engine.EraseChip();
        for (int32_t a = 0; a < 8192; ++a)
            if (!desk.Engine.WriteFlashByte(a, image[a])) state.SkipWithError("verify");
        for (int32_t a = 0; a < 8192; ++a)
            if (desk.Engine.ReadFlashByte(a).ValueOr(0) != image[a])
                state.SkipWithError("read back");
        simMs = static_cast<double>(desk.Clock.Peek() - start) / 1e6;
    }
    state.counters["sim_ms"] = simMs;
}
BENCHMARK(FullChip)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("shadow")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
