#include "core/Ports.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "common/Text.h"
#include "port/DirectPort.h"
#include "port/PpdevPort.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"

namespace tondrel::core {

int32_t BaseForLpt(int lpt) {
    switch (lpt) {
        case 1:
            return 0x378;
        case 2:
            return 0x278;
        case 3:
            return 0x3BC;
        default:
            return 0;
    }
}

int LptForBase(int32_t base) {
    switch (base) {
        case 0x378:
            return 1;
        case 0x278:
            return 2;
        case 0x3BC:
            return 3;
        default:
            return 0;
    }
}

namespace {

// A connector with nothing plugged in: every status line floats high, writes go nowhere.
class EmptyPort : public PortIo {
  public:
    uint8_t PortIn(uint16_t address) override { return (address & 3) == 1 ? 0xFF : 0x00; }
    void PortOut(uint16_t, uint8_t) override {}
    void SetPortBit(uint16_t, uint8_t) override {}
    void ClrPortBit(uint16_t, uint8_t) override {}
    bool GetPortBit(uint16_t address, uint8_t bit) override {
        return ((PortIn(address) >> bit) & 1) != 0;
    }
    std::string Describe() const override { return "empty connector"; }
};

class SimSet : public PortSet {
  public:
    SimSet(sim::BenchOptions options, int32_t home, bool shadow, bool fellBack, std::string reason)
        : home_(home), shadow_(shadow), fellBack_(fellBack), reason_(std::move(reason)) {
        bench_ = std::make_unique<sim::Bench>(clock_, std::move(options));
        port_ = std::make_unique<sim::SimPort>(*bench_, &clock_, shadow);
    }
    const std::string& BenchError() const { return bench_->Error(); }

    PortIo& At(int32_t base) override {
        if (base == home_) return *port_;
        // Other bases get a bench of their own with nothing plugged in, so they answer like an
        // empty connector, through the same register model.
        auto& slot = others_[base];
        if (!slot.second) {
            sim::BenchOptions none;
            none.Adapter = sim::AdapterKind::Nothing;
            slot.first = std::make_unique<sim::Bench>(clock_, none);
            slot.second = std::make_unique<sim::SimPort>(*slot.first, &clock_, shadow_);
        }
        return *slot.second;
    }
    Clock& GetClock() override { return clock_; }
    std::string Describe() const override { return "simulated bench " + bench_->Name(); }
    bool Simulated() const override { return true; }
    bool FellBack() const override { return fellBack_; }
    std::string FallBackReason() const override { return reason_; }
    sim::Bench* GetBench() override { return bench_.get(); }
    int32_t HomeBase() const override { return home_; }
    void FollowStoredLpt(int lpt) override {
        const int32_t base = BaseForLpt(lpt);
        if (!homeFromSettings_ || base == 0 || base == home_) return;
        // The connector that stood at the new base (if one was asked for) is now the old home.
        others_.erase(base);
        home_ = base;
    }
    void SetHomeFromSettings(bool on) { homeFromSettings_ = on; }
    bool Close(std::string& error) override {
        // A bench without a chip has no memory to keep.
        if (bench_->Options().StateFile.empty() || bench_->Chip() == nullptr) return true;
        const bool saved = bench_->SaveState(error);
        bench_->ReleaseState();
        return saved;
    }

  private:
    VirtualClock clock_;
    std::unique_ptr<sim::Bench> bench_;
    std::unique_ptr<sim::SimPort> port_;
    std::map<int32_t, std::pair<std::unique_ptr<sim::Bench>, std::unique_ptr<sim::SimPort>>>
        others_;
    int32_t home_;
    bool homeFromSettings_ = false;
    bool shadow_;
    bool fellBack_;
    std::string reason_;
};

// ppdev: the home port is opened at once (its failure is the caller's error); the others only
// when first asked for, and a base whose device cannot be opened reads like an empty connector.
class PpdevSet : public PortSet {
  public:
    PpdevSet(std::unique_ptr<PortIo> home, std::string device, int32_t homeBase, bool shadow,
             bool fixedDevice)
        : home_(homeBase), device_(std::move(device)), shadow_(shadow), fixed_(fixedDevice) {
        ports_[homeBase] = std::move(home);
    }
    PortIo& At(int32_t base) override {
        auto it = ports_.find(base);
        if (it != ports_.end()) return *it->second;
        std::unique_ptr<PortIo> port;
        const std::string device = fixed_ ? std::string() : PpdevDeviceForBase(base);
        if (!device.empty()) {
            std::string error;
            port = OpenPpdev(device, shadow_, error);
            if (!port) LastOpenError = error;
        }
        if (!port) port = std::make_unique<EmptyPort>();
        return *(ports_[base] = std::move(port));
    }
    Clock& GetClock() override { return clock_; }
    std::string Describe() const override { return "ppdev " + device_; }
    bool Simulated() const override { return false; }
    int32_t HomeBase() const override { return home_; }
    bool Close(std::string&) override { return true; }
    std::string TakeError() override {
        std::string first;
        for (auto& [base, port] : ports_) {
            std::string error = port->TakeError();
            if (first.empty()) first = std::move(error);
        }
        return first;
    }

    std::string LastOpenError;

  private:
    SystemClock clock_;
    std::map<int32_t, std::unique_ptr<PortIo>> ports_;
    int32_t home_;
    std::string device_;
    bool shadow_;
    bool fixed_;  // a device named by the user serves only its own base
};

class DirectSet : public PortSet {
  public:
    DirectSet(std::unique_ptr<PortIo> home, int32_t homeBase, bool shadow)
        : home_(homeBase), shadow_(shadow) {
        ports_[homeBase] = std::move(home);
    }
    PortIo& At(int32_t base) override {
        auto it = ports_.find(base);
        if (it != ports_.end()) return *it->second;
        std::string error;
        std::unique_ptr<PortIo> port;
        if (LptForBase(base) != 0) port = OpenDirect(static_cast<uint16_t>(base), shadow_, error);
        if (!port) port = std::make_unique<EmptyPort>();
        return *(ports_[base] = std::move(port));
    }
    Clock& GetClock() override { return clock_; }
    std::string Describe() const override {
        char text[32];
        std::snprintf(text, sizeof text, "direct I/O 0x%X", static_cast<unsigned>(home_));
        return text;
    }
    bool Simulated() const override { return false; }
    int32_t HomeBase() const override { return home_; }
    bool Close(std::string&) override { return true; }

  private:
    SystemClock clock_;
    std::map<int32_t, std::unique_ptr<PortIo>> ports_;
    int32_t home_;
    bool shadow_;
};

std::unique_ptr<PortSet> OpenSim(const std::string& name, const PortOptions& options, int32_t home,
                                 bool fellBack, const std::string& reason, std::string& error) {
    sim::BenchOptions bench;
    if (!sim::ParseBenchName(name, bench, error)) return nullptr;
    bench.StateFile = options.SimState;
    auto set = std::make_unique<SimSet>(bench, home, options.Shadow, fellBack, reason);
    set->SetHomeFromSettings(options.Lpt == 0);
    if (!set->BenchError().empty()) {
        error = set->BenchError();
        return nullptr;
    }
    return set;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::unique_ptr<PortSet> PortSet::Open(const PortOptions& options, std::string& error) {
    error.clear();
    if (options.Lpt < 0 || options.Lpt > 3) {
        error = "LPT" + std::to_string(options.Lpt) + " does not exist: choose LPT1, LPT2 or LPT3";
        return nullptr;
    }
    const int lpt = options.Lpt == 0 ? 1 : options.Lpt;
    const int32_t home = BaseForLpt(lpt);
    const std::string& port = options.Port;

    if (StartsWith(port, "sim:") || port == "sim")
        return OpenSim(port, options, home, false, {}, error);

    if (port.empty() || port == "ppdev" || StartsWith(port, "ppdev:")) {
        const bool fixed = StartsWith(port, "ppdev:");
        const std::string device = fixed ? port.substr(6) : PpdevDeviceForLpt(lpt);
        if (device.empty()) {
            error = "ppdev: no device named in \"" + port + "\": use ppdev:/dev/parportN";
            return nullptr;
        }
        std::string why;
        auto io = OpenPpdev(device, options.Shadow, why);
        if (io)
            return std::make_unique<PpdevSet>(std::move(io), device, home, options.Shadow, fixed);
        if (port.empty() && options.FallBackToBench) {
            auto set = OpenSim("sim:ATmega16", options, home, true, why, error);
            if (set) return set;
        }
        error = why;
        return nullptr;
    }

    if (port == "direct" || StartsWith(port, "direct:")) {
        int32_t base = home;
        if (port.size() > 7) {
            const std::string text = port.substr(7);
            const auto value = ParseNumber(text, NumberStyle::DecimalOrHex, 1, 0xFFFC);
            // Bases are multiples of four: the low two address bits pick the register.
            if (!value || *value % 4 != 0) {
                error = "direct: \"" + text +
                        "\" is not a port base address: use direct:0x378, direct:0x278 or "
                        "direct:0x3BC";
                return nullptr;
            }
            base = static_cast<int32_t>(*value);
        }
        auto io = OpenDirect(static_cast<uint16_t>(base), options.Shadow, error);
        if (!io) return nullptr;
        return std::make_unique<DirectSet>(std::move(io), base, options.Shadow);
    }

    error = "unknown port \"" + port +
            "\": use ppdev, ppdev:/dev/parportN, direct, direct:0xBASE or sim:CHIP "
            "(sim:none, sim:empty, sim:byteblaster)";
    return nullptr;
}

}  // namespace tondrel::core

namespace tondrel::core {

bool CheckPortName(const std::string& port, std::string& error) {
    error.clear();
    if (StartsWith(port, "sim:") || port == "sim") {
        sim::BenchOptions bench;
        return sim::ParseBenchName(port, bench, error);
    }
    if (port.empty() || port == "ppdev" || port == "direct") return true;
    if (StartsWith(port, "ppdev:")) {
        if (port.size() > 6) return true;
        error = "ppdev: no device named in \"" + port + "\": use ppdev:/dev/parportN";
        return false;
    }
    if (StartsWith(port, "direct:")) {
        const std::string text = port.substr(7);
        const auto value = ParseNumber(text, NumberStyle::DecimalOrHex, 1, 0xFFFC);
        if (value && *value % 4 == 0) return true;
        error = "direct: \"" + text +
                "\" is not a port base address: use direct:0x378, direct:0x278 or direct:0x3BC";
        return false;
    }
    error = "unknown port \"" + port +
            "\": use ppdev, ppdev:/dev/parportN, direct, direct:0xBASE or sim:CHIP "
            "(sim:none, sim:empty, sim:byteblaster)";
    return false;
}

}  // namespace tondrel::core
