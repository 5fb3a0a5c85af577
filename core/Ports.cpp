#include "core/Ports.h"

#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "common/Text.h"
#include "port/DirectPort.h"
#include "port/PpdevPort.h"

namespace tondrel::core {

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

// A real port at its home base, and at every other base the port of that LPT opened when first
// asked for; a base whose port cannot be opened reads like an empty connector.
class RealSet : public PortSet {
  public:
    using Opener = std::function<std::unique_ptr<PortIo>(int32_t base)>;
    RealSet(std::unique_ptr<PortIo> home, int32_t homeBase, std::string description,
            Opener openOther, bool named)
        : home_(homeBase),
          named_(named),
          description_(std::move(description)),
          open_(std::move(openOther)) {
        ports_[homeBase] = std::move(home);
    }
    PortIo& At(int32_t base) override {
        auto it = ports_.find(base);
        if (it != ports_.end()) return *it->second;
        std::unique_ptr<PortIo> port = open_(base);
        if (!port) port = std::make_unique<EmptyPort>();
        return *(ports_[base] = std::move(port));
    }
    Clock& GetClock() override { return clock_; }
    std::string Describe() const override { return description_; }
    bool Simulated() const override { return false; }
    int32_t HomeBase() const override { return home_; }
    bool NamedBase() const override { return named_; }
    Status Close() override { return {}; }
    Status TakeError() override {
        Status first;
        for (auto& [base, port] : ports_) {
            Status error = port->TakeError();
            if (first.Ok()) first = std::move(error);
        }
        return first;
    }

  private:
    SystemClock clock_;
    std::map<int32_t, std::unique_ptr<PortIo>> ports_;
    int32_t home_;
    bool named_;
    std::string description_;
    Opener open_;
};

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The part of a --port text after "prefix:"; nothing when the text is the bare prefix.
std::string After(const std::string& port, const std::string& prefix) {
    return port.size() > prefix.size() + 1 ? port.substr(prefix.size() + 1) : std::string();
}

Status CheckPpdevName(const std::string& port) {
    if (port == "ppdev" || After(port, "ppdev").size() > 0) return {};
    return Status::Error("PortPpdevUnnamed", port);
}

Result<std::unique_ptr<PortSet>> OpenPpdevSet(const PortOptions& options) {
    const std::string& port = options.Port;
    const int32_t home = BaseForLpt(options.Lpt == 0 ? 1 : options.Lpt);
    // A device named by the user serves only its own base.
    const bool fixed = StartsWith(port, "ppdev:");
    const std::string device = fixed ? After(port, "ppdev") : PpdevDeviceForBase(home);
    if (device.empty()) return Msg("PortPpdevUnnamed", port);
    auto io = OpenPpdev(device, options.Shadow);
    if (!io) return io.GetStatus();
    const bool shadow = options.Shadow;
    return std::unique_ptr<PortSet>(std::make_unique<RealSet>(
        std::move(io).Value(), home, "ppdev " + device,
        [fixed, shadow](int32_t base) -> std::unique_ptr<PortIo> {
            const std::string other = fixed ? std::string() : PpdevDeviceForBase(base);
            if (other.empty()) return nullptr;
            auto opened = OpenPpdev(other, shadow);
            return opened ? std::move(opened).Value() : nullptr;
        },
        fixed));
}

// The base a direct:0xBASE text names; bases are multiples of four, as the low two address bits
// pick the register.
std::optional<int32_t> DirectBase(const std::string& text) {
    const auto value = ParseNumber(text, NumberStyle::DecimalOrHex, 1, 0xFFFC);
    if (!value || *value % 4 != 0) return std::nullopt;
    return static_cast<int32_t>(*value);
}

Status CheckDirectName(const std::string& port) {
    if (port == "direct" || DirectBase(After(port, "direct"))) return {};
    return Status::Error("PortDirectBadName", port.size() > 7 ? port.substr(7) : std::string());
}

Result<std::unique_ptr<PortSet>> OpenDirectSet(const PortOptions& options) {
    int32_t base = BaseForLpt(options.Lpt == 0 ? 1 : options.Lpt);
    if (options.Port != "direct") {
        if (Status bad = CheckDirectName(options.Port); !bad.Ok()) return bad;
        base = *DirectBase(After(options.Port, "direct"));
    }
    auto io = OpenDirect(static_cast<uint16_t>(base), options.Shadow);
    if (!io) return io.GetStatus();
    const bool shadow = options.Shadow;
    return std::unique_ptr<PortSet>(std::make_unique<RealSet>(
        std::move(io).Value(), base, "direct I/O 0x" + HexText(static_cast<uint64_t>(base), 1),
        [shadow](int32_t other) -> std::unique_ptr<PortIo> {
            if (LptForBase(other) == 0) return nullptr;
            auto opened = OpenDirect(static_cast<uint16_t>(other), shadow);
            return opened ? std::move(opened).Value() : nullptr;
        },
        options.Port != "direct"));
}

// The back ends by prefix. Filled by the front ends once at start, before any set is opened.
struct Registry {
    std::mutex Lock;
    std::vector<PortBackEnd> BackEnds = {
        {"ppdev", OpenPpdevSet, CheckPpdevName},
        {"direct", OpenDirectSet, CheckDirectName},
    };
    std::map<std::string, std::function<std::vector<PortChoice>()>> Listers;
};

Registry& Backs() {
    static Registry registry;
    return registry;
}

// The back end a --port text belongs to; the empty text is ppdev's.
std::optional<PortBackEnd> BackEndFor(const std::string& port) {
    const std::string prefix = port.empty() ? "ppdev" : port.substr(0, port.find(':'));
    Registry& r = Backs();
    std::lock_guard guard(r.Lock);
    for (const PortBackEnd& b : r.BackEnds)
        if (b.Prefix == prefix) return b;
    return std::nullopt;
}

Message UnknownPort(const std::string& port) {
    return Msg("PortUnknown", port);
}

}  // namespace

void RegisterPortBackEnd(PortBackEnd backEnd) {
    Registry& r = Backs();
    std::lock_guard guard(r.Lock);
    for (PortBackEnd& b : r.BackEnds) {
        if (b.Prefix == backEnd.Prefix) {
            b = std::move(backEnd);
            return;
        }
    }
    r.BackEnds.push_back(std::move(backEnd));
}

void RegisterPortLister(const std::string& prefix, std::function<std::vector<PortChoice>()> list) {
    Registry& r = Backs();
    std::lock_guard guard(r.Lock);
    r.Listers[prefix] = std::move(list);
}

std::vector<PortChoice> ListPorts() {
    std::vector<std::function<std::vector<PortChoice>()>> listers;
    {
        Registry& r = Backs();
        std::lock_guard guard(r.Lock);
        for (const auto& [prefix, list] : r.Listers) listers.push_back(list);
    }
    std::vector<PortChoice> found;
    for (const auto& list : listers)
        for (PortChoice& c : list()) found.push_back(std::move(c));
    return found;
}

std::unique_ptr<PortIo> MakeEmptyPort() {
    return std::make_unique<EmptyPort>();
}

Status CheckPortName(const std::string& port) {
    if (port.empty()) return {};
    const auto backEnd = BackEndFor(port);
    if (!backEnd) return UnknownPort(port);
    return backEnd->CheckName(port);
}

Result<std::unique_ptr<PortSet>> PortSet::Open(const PortOptions& options) {
    if (options.Lpt < 0 || options.Lpt > 3) return Msg("PortNoSuchLpt", options.Lpt);
    const auto backEnd = BackEndFor(options.Port);
    if (!backEnd) return UnknownPort(options.Port);
    auto set = backEnd->Open(options);
    if (set || !options.Port.empty() || !options.FallBackToBench) return set;
    // No port was asked for and the default one cannot be used: the bench stands in, and says
    // why.
    const auto bench = BackEndFor("sim");
    if (!bench) return set;
    PortOptions benchOptions = options;
    benchOptions.Port = "sim:ATmega16";
    auto stand = bench->Open(benchOptions);
    if (!stand) return set;
    stand.Value()->fallBackReason_ = set.Error();
    return stand;
}

}  // namespace tondrel::core
