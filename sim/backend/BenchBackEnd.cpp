#include "sim/backend/BenchBackEnd.h"

#include <map>
#include <memory>
#include <utility>

#include "core/Ports.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"

namespace tondrel::sim {

namespace {

// The bench at its home base; every other base gets a bench of its own with nothing plugged in,
// so it answers like an empty connector, through the same register model.
class BenchSet : public core::PortSet {
  public:
    BenchSet(BenchOptions options, int32_t home, bool homeFromSettings, bool shadow)
        : bench_(clock_, std::move(options)),
          port_(bench_, &clock_, shadow),
          home_(home),
          homeFromSettings_(homeFromSettings),
          shadow_(shadow) {}
    const Status& BenchError() const { return bench_.Error(); }

    PortIo& At(int32_t base) override {
        if (base == home_) return port_;
        auto& slot = others_[base];
        if (!slot) {
            BenchOptions none;
            none.Adapter = AdapterKind::Nothing;
            slot = std::make_unique<Empty>(clock_, none, shadow_);
        }
        return slot->Port;
    }
    Clock& GetClock() override { return clock_; }
    std::string Describe() const override { return "simulated bench " + bench_.Name(); }
    bool Simulated() const override { return true; }
    Bench* GetBench() override { return &bench_; }
    int32_t HomeBase() const override { return home_; }
    void FollowStoredLpt(int lpt) override {
        const int32_t base = BaseForLpt(lpt);
        if (!homeFromSettings_ || base == 0 || base == home_) return;
        // The connector that stood at the new base (if one was asked for) is now the old home.
        others_.erase(base);
        home_ = base;
    }
    Status Close() override {
        // A bench without a chip has no memory to keep.
        if (bench_.Options().StateFile.empty() || bench_.Chip() == nullptr) return {};
        Status saved = bench_.SaveState();
        bench_.ReleaseState();
        return saved;
    }

  private:
    struct Empty {
        Empty(VirtualClock& clock, const BenchOptions& options, bool shadow)
            : Connector(clock, options), Port(Connector, &clock, shadow) {}
        Bench Connector;
        SimPort Port;
    };

    VirtualClock clock_;
    Bench bench_;
    SimPort port_;
    std::map<int32_t, std::unique_ptr<Empty>> others_;
    int32_t home_;
    bool homeFromSettings_;
    bool shadow_;
};

Result<std::unique_ptr<core::PortSet>> OpenBench(const core::PortOptions& options) {
    auto parsed = ParseBenchName(options.Port);
    if (!parsed) return parsed.GetStatus();
    BenchOptions bench = std::move(parsed).Value();
    bench.StateFile = options.SimState;
    auto set =
        std::make_unique<BenchSet>(std::move(bench), BaseForLpt(options.Lpt == 0 ? 1 : options.Lpt),
                                   options.Lpt == 0, options.Shadow);
    if (!set->BenchError().Ok()) return set->BenchError();
    return std::unique_ptr<core::PortSet>(std::move(set));
}

Status CheckBenchName(const std::string& port) {
    return ParseBenchName(port).GetStatus();
}

}  // namespace

void RegisterBenchBackEnd() {
    core::RegisterPortBackEnd({"sim", OpenBench, CheckBenchName});
}

}  // namespace tondrel::sim
