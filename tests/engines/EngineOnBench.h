#pragma once
// An engine on the simulated bench, as the session puts one there: the generation-two adapter
// with the named chip behind a simulated port at 0x378, the engine of the method, its pins set.
// The chip record starts empty; each test fills in what its chip's catalogue row would say.
#include <memory>
#include <string>

#include "engines/Engines.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"

namespace tondrel::testsupport {

struct EngineOnBench {
    EngineOnBench(const std::string& chipName, Method method, const sim::ChipFaults& faults = {})
        : bench(clock, sim::BenchOptions{sim::AdapterKind::Gen2, chipName, "", {}, faults}),
          port(bench, &clock),
          engine(MakeEngine(method, env)) {
        engine->InitPinMap();
        engine->SetPortBase(0x378);
    }

    VirtualClock clock;
    sim::Bench bench;
    sim::SimPort port;
    CurrentChip chip;
    EngineEnv env{&port, &clock, &chip};
    std::unique_ptr<Tpro> engine;
};

}  // namespace tondrel::testsupport
