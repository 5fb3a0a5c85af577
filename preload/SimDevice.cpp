#include "preload/SimDevice.h"

#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/time.h>

#include <cerrno>
#include <fstream>

#include "adapter/Pins.h"
#include "common/Text.h"

namespace tondrel::preload {

namespace {

constexpr uint8_t kControlLines = adapter::kControlPins;  // all the port drives
constexpr uint8_t kDirectionBit = adapter::kControlDataInput;
// The kernel's IEEE 1284 phase numbers (not in the user-space headers).
constexpr int kPhaseForwardIdle = 1;
constexpr int kPhaseReverseIdle = 5;

template <typename T>
int Put(void* arg, T value) {
    if (!arg) return -EFAULT;
    *static_cast<T*>(arg) = value;
    return 0;
}

template <typename T>
int Get(const void* arg, T& value) {
    if (!arg) return -EFAULT;
    value = *static_cast<const T*>(arg);
    return 0;
}

SimDevice::Kind KindOf(unsigned long request) {
    switch (request) {
        case PPRDATA:
            return SimDevice::kRData;
        case PPWDATA:
            return SimDevice::kWData;
        case PPRSTATUS:
            return SimDevice::kRStatus;
        case PPRCONTROL:
            return SimDevice::kRControl;
        case PPWCONTROL:
            return SimDevice::kWControl;
        case PPFCONTROL:
            return SimDevice::kFControl;
        default:
            return SimDevice::kOther;
    }
}

constexpr const char* kKindNames[SimDevice::kKinds] = {
    "PPRDATA", "PPWDATA", "PPRSTATUS", "PPRCONTROL", "PPWCONTROL", "PPFCONTROL", "other"};

}  // namespace

Result<DeviceConfig> ConfigFromEnvironment(const std::function<const char*(const char*)>& lookup) {
    auto value = [&](const char* name) -> std::string {
        const char* v = lookup(name);
        return v ? std::string(v) : std::string();
    };
    DeviceConfig config;
    if (const std::string device = value("TONDREL_SIM_DEVICE"); !device.empty())
        config.DevicePath = device;
    const std::string bench = value("TONDREL_SIM_BENCH");
    auto parsed = sim::ParseBenchName(bench.empty() ? "sim:empty" : bench);
    // The library speaks to another program's standard error, in English.
    if (!parsed) return Msg("PreloadBadBench", parsed.Error().Text(Language::English));
    config.Bench = std::move(parsed).Value();
    config.Bench.StateFile = value("TONDREL_SIM_STATE");
    config.CountsFile = value("TONDREL_SIM_COUNTS");
    if (const std::string miso = Lower(value("TONDREL_SIM_MISO")); !miso.empty()) {
        if (miso != "high" && miso != "low") return Msg("PreloadBadMiso", miso);
        config.Bench.MisoStuck = miso == "high";
    }
    if (const std::string slow = value("TONDREL_SIM_SLOW_NS"); !slow.empty()) {
        const auto n = ParseNumber(slow, NumberStyle::DecimalOrHex, 0);
        if (!n) return Msg("PreloadBadSlow", slow);
        config.Bench.Faults.MinPhaseNs = static_cast<uint64_t>(*n);
    }
    if (const std::string vanish = value("TONDREL_SIM_VANISH_AFTER"); !vanish.empty()) {
        const auto n = ParseNumber(vanish, NumberStyle::Decimal, 1);
        if (!n) return Msg("PreloadBadVanish", vanish);
        config.VanishAfter = static_cast<uint64_t>(*n);
    }
    if (const std::string stuck = value("TONDREL_SIM_STUCK"); !stuck.empty()) {
        const auto n = ParseNumber(stuck, NumberStyle::DecimalOrHex, 0, 0xFFFFFFFF);
        if (!n) return Msg("PreloadBadStuck", stuck);
        config.Bench.Faults.StuckAddress = *n;
    }
    return config;
}

SimDevice::SimDevice(DeviceConfig config)
    : ownClock_(std::make_unique<AccessClock>()),
      clock_(*ownClock_),
      config_(std::move(config)),
      bench_(std::make_unique<sim::Bench>(clock_, config_.Bench)),
      mode_(IEEE1284_MODE_COMPAT),
      phase_(kPhaseForwardIdle) {}

SimDevice::SimDevice(DeviceConfig config, VirtualClock& clock)
    : clock_(clock),
      virtualClock_(&clock),
      config_(std::move(config)),
      bench_(std::make_unique<sim::Bench>(clock_, config_.Bench)),
      mode_(IEEE1284_MODE_COMPAT),
      phase_(kPhaseForwardIdle) {}

SimDevice::~SimDevice() = default;

const Status& SimDevice::Error() const {
    return bench_->Error();
}

uint64_t SimDevice::Accesses() const {
    uint64_t n = 0;
    for (size_t k = kRData; k <= kFControl; ++k) n += counts_[k];
    return n;
}

std::string SimDevice::CountsText() const {
    std::string text;
    for (size_t k = 0; k < kKinds; ++k)
        text += std::string(kKindNames[k]) + " " + std::to_string(counts_[k]) + "\n";
    return text;
}

int SimDevice::Ioctl(unsigned long request, void* arg) {
    ++counts_[KindOf(request)];
    if (config_.VanishAfter != 0 && ++requests_ > config_.VanishAfter) return -ENODEV;
    // Requests the driver answers whether or not the port is claimed.
    switch (request) {
        case PPCLAIM:
            if (claimed_) return -EINVAL;  // the kernel: "you've already got it"
            claimed_ = everClaimed_ = true;
            return 0;
        case PPEXCL:
            // Only before the first claim registers the device; afterwards it is too late,
            // which is no error when exclusive access was asked for already.
            if (everClaimed_) return exclusive_ ? 0 : -EINVAL;
            exclusive_ = true;
            return 0;
        case PPSETMODE: {
            int mode = 0;
            if (const int r = Get(arg, mode)) return r;
            mode_ = mode;
            phase_ = (mode & IEEE1284_MODE_BYTE) || (mode & IEEE1284_MODE_NIBBLE)
                         ? kPhaseReverseIdle
                         : kPhaseForwardIdle;
            return 0;
        }
        case PPGETMODE:
            return Put<int>(arg, mode_);
        case PPSETPHASE:
            return Get(arg, phase_);
        case PPGETPHASE:
            return Put<int>(arg, phase_);
        case PPGETMODES:
            return Put<unsigned int>(arg, PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE);
        case PPSETFLAGS: {
            int flags = 0;
            if (const int r = Get(arg, flags)) return r;
            flags_ = flags & PP_FLAGMASK;
            return 0;
        }
        case PPGETFLAGS:
            return Put<int>(arg, flags_);
        default:
            break;
    }
    if (!claimed_) return -EINVAL;  // the kernel: "claim the port first"
    switch (request) {
        case PPRELEASE:
            claimed_ = false;
            return 0;
        case PPYIELD:
            return 0;
        case PPNEGOT: {
            // Nothing on the bench speaks IEEE 1284: only compatibility mode needs no peer.
            int mode = 0;
            if (const int r = Get(arg, mode)) return r;
            return mode == IEEE1284_MODE_COMPAT ? 0 : -EIO;
        }
        case PPDATADIR: {
            int reverse = 0;
            if (const int r = Get(arg, reverse)) return r;
            reverse_ = reverse != 0;
            bench_->SetDataReverse(reverse_);
            return 0;
        }
        case PPGETTIME:
            return Put(arg, timeval{});
        case PPSETTIME: {
            timeval t{};
            return Get(arg, t);
        }
        default:
            return Access(request, arg);
    }
}

int SimDevice::Access(unsigned long request, void* arg) {
    struct During {
        AccessClock* Clock;
        explicit During(AccessClock* c) : Clock(c) {
            if (Clock) Clock->BeginAccess();
        }
        ~During() {
            if (Clock) Clock->EndAccess();
        }
    } during(ownClock_.get());
    if (virtualClock_) virtualClock_->PortAccess();
    const auto control = [&](uint8_t lines) {
        bench_->WriteControl(
            static_cast<uint8_t>((lines & kControlLines) | (reverse_ ? kDirectionBit : 0)));
    };
    switch (request) {
        case PPRDATA:
            return Put<unsigned char>(arg, bench_->ReadData());
        case PPRSTATUS:
            return Put<unsigned char>(arg, bench_->ReadStatus());
        case PPRCONTROL:
            return Put<unsigned char>(arg, bench_->ReadControl());
        case PPWDATA: {
            unsigned char v = 0;
            if (const int r = Get(arg, v)) return r;
            bench_->WriteData(v);
            return 0;
        }
        case PPWCONTROL: {
            unsigned char v = 0;
            if (const int r = Get(arg, v)) return r;
            // The PC driver keeps bits 4-7 for itself; a set direction bit still turns the
            // data lines round (its old interface), a clear one never turns them back.
            if (v & kDirectionBit) reverse_ = true;
            control(v);
            return 0;
        }
        case PPFCONTROL: {
            ppdev_frob_struct frob{};
            if (const int r = Get(arg, frob)) return r;
            if (frob.mask & kDirectionBit) reverse_ = (frob.val & kDirectionBit) != 0;
            const uint8_t mask = frob.mask & kControlLines;
            const uint8_t val = frob.val & kControlLines;
            control(static_cast<uint8_t>((bench_->ReadControl() & ~mask) ^ val));
            return 0;
        }
        default:
            return -EINVAL;
    }
}

Status SimDevice::Close() {
    if (closed_) return {};
    closed_ = true;
    claimed_ = false;
    Status saved;
    if (!config_.Bench.StateFile.empty() && bench_->Error().Ok()) saved = bench_->SaveState();
    bool counted = true;
    if (!config_.CountsFile.empty()) {
        std::ofstream out(config_.CountsFile, std::ios::trunc);
        out << CountsText();
        out.flush();
        counted = static_cast<bool>(out);
    }
    const std::string why = saved.Text(Language::English);
    if (!saved.Ok() && !counted)
        return Status::Error("PreloadSaveAndCountsFailed", why, config_.CountsFile);
    if (!saved.Ok()) return Status::Error("PreloadSaveFailed", why);
    if (!counted) return Status::Error("PreloadCountsFailed", config_.CountsFile);
    return {};
}

}  // namespace tondrel::preload
