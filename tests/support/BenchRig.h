#pragma once
// The simulated bench on a desk, as tests and benchmarks set it up: simulated time, the bench,
// the virtual connector, a chip record and the engine environment over them, the pin layer on
// the connector, and optionally an engine. Wired once here so that no test repeats it.
#include <memory>
#include <string>
#include <utility>

#include "adapter/PinLayer.h"
#include "engines/Tpro.h"
#include "port/Clock.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"

namespace tondrel::testsupport {

// A bench with `chip` on an adapter of `adapter`'s kind ("" = no chip).
inline sim::BenchOptions OnBench(std::string chip,
                                 sim::AdapterKind adapter = sim::AdapterKind::Gen2) {
    sim::BenchOptions o;
    o.ChipName = std::move(chip);
    o.Adapter = adapter;
    return o;
}

struct BenchRig {
    explicit BenchRig(sim::BenchOptions options, std::unique_ptr<sim::TargetChip> chip = nullptr,
                      bool shadow = true, int32_t base = 0x378)
        : BenchObj(Clock, std::move(options), std::move(chip)), Port(BenchObj, &Clock, shadow) {
        Pins.SetPortBase(base);
    }
    BenchRig(const BenchRig&) = delete;
    BenchRig& operator=(const BenchRig&) = delete;

    VirtualClock Clock;
    sim::Bench BenchObj;
    sim::SimPort Port;
    CurrentChip Current;
    EngineEnv Env{&Port, &Clock, &Current};
    adapter::PinLayer Pins{Env.Io};
};

// The rig with an engine of type E on the same connector, its pin map loaded.
template <typename E>
struct EngineRig : BenchRig {
    explicit EngineRig(sim::BenchOptions options, bool shadow = true)
        : BenchRig(std::move(options), nullptr, shadow) {
        Engine.InitPinMap();
        Engine.SetPortBase(0x378);
    }
    E Engine{Env};
};

}  // namespace tondrel::testsupport
