#include "engines/ParallelLink.h"

#include <utility>

#include "engines/SerialIsp.h"

namespace tondrel {

namespace {
// Pin numbers are 16-bit fields; only values that fit a DB-25 pin can name one.
uint8_t PinNumber(uint16_t pin) {
    return pin > 0xFF ? 0 : static_cast<uint8_t>(pin);
}
}  // namespace

void ParallelLink::SetLine(IspLine line, bool level) {
    SerialIsp& e = engine_;
    switch (line) {
        case IspLine::Reset:
            e.SetPin(PinNumber(e.RstPin), level);
            return;
        case IspLine::DataOut:
            e.SetPin(PinNumber(e.MosiPin), level);
            return;
        case IspLine::Clock:
            e.SetPin(PinNumber(e.SckPin), level);
            e.BitDelayCountdown(e.BitDelay);
            return;
        case IspLine::Enable: {
            const uint16_t pinLevel = level ? e.EnableActiveLevel : e.EnableIdleLevel;
            e.SetPin(PinNumber(e.EnablePin), (pinLevel & 0xFF) != 0);
            return;
        }
    }
}

bool ParallelLink::GetMiso() {
    return engine_.GetPin(PinNumber(engine_.MisoPin));
}

void ParallelLink::FallingEdge(bool data) {
    SerialIsp& e = engine_;
    e.SetPins(PinNumber(e.SckPin), false, PinNumber(e.MosiPin), data);
    e.BitDelayCountdown(e.BitDelay);
}

void ParallelLink::Queue(std::span<const uint8_t> command, size_t answer) {
    // The data line changes together with the falling clock edge, half a bit before the chip
    // samples it: two port writes per bit. MISO is sampled only during the answer byte: a port
    // read costs as much as a write.
    for (size_t i = 0; i < command.size(); ++i) {
        uint8_t in = 0;
        for (int bit = 7; bit >= 0; --bit) {
            FallingEdge(((command[i] >> bit) & 1u) != 0);
            if (i != answer) {
                SetLine(IspLine::Clock, true);
                continue;
            }
            // The read of MISO late in the high phase is part of that phase's time.
            SerialIsp& e = engine_;
            e.SetPin(PinNumber(e.SckPin), true);
            e.WaitRestOfPhase(2);
            if (GetMiso()) in = static_cast<uint8_t>(in | (1u << bit));
        }
        if (i == answer) answers_.push_back(in);
    }
    if (!command.empty()) SetLine(IspLine::Clock, false);
}

std::vector<uint8_t> ParallelLink::Collect() {
    return std::exchange(answers_, {});
}

}  // namespace tondrel
