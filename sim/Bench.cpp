#include "sim/Bench.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "adapter/Controller.h"
#include "adapter/Pins.h"
#include "adapter/Wiring.h"
#include "common/Text.h"

namespace tondrel::sim {

namespace {

using adapter::PinMask;
using adapter::Register;

constexpr uint8_t kStatusUnused = static_cast<uint8_t>(~adapter::kStatusPins);  // they read 1
constexpr const char* kStateMagic = "tondrel-bench-state 1";
// The bench's adapter carries both wirings: the serial-ISP lines, and the PIC's supply switch.
constexpr const adapter::Wiring& kLines = adapter::kSerialIspWiring;
constexpr uint8_t kModePin = adapter::kPicWiring.Mode;

bool HasController(AdapterKind kind) {
    return kind == AdapterKind::Gen1Fw1 || kind == AdapterKind::Gen1Fw2 ||
           kind == AdapterKind::Gen2;
}

// What the controller puts on status bits 7..3 (physical levels of pins 11, 10, 12, 13, 15)
// after an identification request.
uint8_t IdentAnswer(AdapterKind kind) {
    const adapter::IdentAnswer* answer =
        kind == AdapterKind::Gen1Fw1   ? adapter::FindIdentAnswer(adapter::AdapterKind::Gen1, 1)
        : kind == AdapterKind::Gen1Fw2 ? adapter::FindIdentAnswer(adapter::AdapterKind::Gen1, 2)
                                       : adapter::FindIdentAnswer(adapter::AdapterKind::Gen2, 1);
    return answer->Status;
}

// The level of a data pin in the data lines.
bool DataPin(uint8_t lines, uint8_t pin) {
    return (lines & PinMask(pin)) != 0;
}

// "16MHz", "7.3728mhz", "32768Hz", "500kHz" (already lower case) -> Hz, rounded; nothing for
// anything else or for a clock outside 1 Hz to 100 MHz. Read digit by digit, not through the C
// library, so the decimal point is a point whatever locale the program runs in.
std::optional<uint32_t> ParseClock(std::string_view text) {
    constexpr uint64_t kNano = 1'000'000'000;  // the sum is kept in nanohertz
    constexpr std::pair<std::string_view, uint64_t> kUnits[] = {
        {"mhz", 1'000'000}, {"khz", 1'000}, {"hz", 1}};
    for (const auto& [unit, scale] : kUnits) {
        if (text.size() <= unit.size() || !text.ends_with(unit)) continue;
        const std::string_view number = text.substr(0, text.size() - unit.size());
        const size_t dot = number.find('.');
        const std::string_view whole = number.substr(0, dot);
        // Digits past the ninth cannot change a whole number of hertz.
        const std::string_view fraction =
            dot == std::string_view::npos ? std::string_view() : number.substr(dot + 1, 9);
        const bool digitsOnly =
            whole.find_first_not_of("0123456789") == std::string_view::npos &&
            (dot == std::string_view::npos ||
             number.substr(dot + 1).find_first_not_of("0123456789") == std::string_view::npos);
        if (!digitsOnly || (whole.empty() && fraction.empty())) return std::nullopt;
        const auto w = whole.empty() ? std::optional<int64_t>(0)
                                     : ParseNumber(whole, NumberStyle::Decimal, 0, 100'000'000);
        const auto f = fraction.empty() ? std::optional<int64_t>(0)
                                        : ParseNumber(fraction, NumberStyle::Decimal, 0);
        if (!w || !f || static_cast<uint64_t>(*w) * scale > 100'000'000) return std::nullopt;
        uint64_t fractionStep = kNano;
        for (size_t i = 0; i < fraction.size(); ++i) fractionStep /= 10;
        const uint64_t nanohertz = static_cast<uint64_t>(*w) * scale * kNano +
                                   static_cast<uint64_t>(*f) * scale * fractionStep;
        if (nanohertz < kNano || nanohertz > 100'000'000 * kNano) return std::nullopt;
        return static_cast<uint32_t>((nanohertz + kNano / 2) / kNano);
    }
    return std::nullopt;
}

std::string ClockText(uint32_t hz) {
    if (hz % 1'000'000 == 0) return std::to_string(hz / 1'000'000) + "MHz";
    if (hz % 1'000 == 0) return std::to_string(hz / 1'000) + "kHz";
    return std::to_string(hz) + "Hz";
}

}  // namespace

struct Bench::Impl {
    Clock& Clk;
    BenchOptions Options;
    std::unique_ptr<TargetChip> Target;
    Status Error;
    // Held from load to the bench's end, so two programs on one simulated chip wait for each
    // other as two programs on one claimed port do, and neither loses the other's writes.
    int LockFd = -1;
    ~Impl() {
        if (LockFd >= 0) ::close(LockFd);
    }

    // A symbolic link is kept and the file it names is the one written (a save renames over
    // its path); a device or a FIFO holds no state and would hang the load.
    void ResolveStateFile() {
        std::string& file = Options.StateFile;
        std::error_code ec;
        // Followed by hand: the file a link names may not exist yet.
        for (int depth = 0; std::filesystem::is_symlink(file, ec); ++depth) {
            const std::filesystem::path link(file);
            const auto target = std::filesystem::read_symlink(link, ec);
            if (ec || depth == 40) {
                Error = Status::Error("SimStateUnreadable", file);
                return;
            }
            file = (target.is_absolute() ? target : link.parent_path() / target).string();
        }
        const auto kind = std::filesystem::status(file, ec).type();
        if (kind != std::filesystem::file_type::not_found &&
            kind != std::filesystem::file_type::regular)
            Error = Status::Error("SimStateNotAFile", file);
    }

    void LockState() {
        const std::string& file = Options.StateFile;
        const std::string lock = file + ".lock";
        LockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (LockFd < 0) {
            Error = Status::Error("SimStateCannotCreate", file, lock, std::strerror(errno));
            return;
        }
        // Another run on the same chip is waited for, as a second program waits for a claimed
        // port; a run that never lets go (a window left open) is named instead of hanging.
        constexpr int kWaitMs = 120'000;
        constexpr int kStepMs = 20;
        for (int waited = 0;; waited += kStepMs) {
            if (::flock(LockFd, LOCK_EX | LOCK_NB) == 0) return;
            if (errno != EWOULDBLOCK && errno != EINTR) {
                Error = Status::Error("SimStateCannotLock", file, lock, std::strerror(errno));
                return;
            }
            if (waited >= kWaitMs) {
                Error = Status::Error("SimStateInUse", file, lock);
                return;
            }
            ::usleep(kStepMs * 1000);
        }
    }

    uint8_t Data = 0;      // data latch
    uint8_t Control = 0;   // control register bits 0..3 as written (before the inversion)
    bool Reverse = false;  // data lines are inputs

    // Handshake recogniser: the controller watches the lines, so it follows changes of the
    // data and control levels, not register writes (a rewrite of the same value is invisible).
    size_t HandshakeStage = 0;  // how many of the handshake's data bytes came in order
    uint8_t HandshakeCode = 0;
    std::optional<uint8_t> Answer;  // identification answer shown until the lines next change
    int Mode = 0;

    TargetLines Lines;  // last lines given to the chip

    // The person swapping chips: what the chip in the socket held when it went in, whether the
    // adapter has changed it since, and when the adapter last let go of it / the socket emptied.
    int Spares = 0;
    std::string PlacedState;
    bool Programmed = false;
    uint64_t ReleasedAtNs = 0;
    uint64_t EmptySinceNs = 0;

    std::string ChipState() const {
        std::ostringstream out;
        Target->SaveState(out);
        return out.str();
    }

    // Called at every register access: the person acts between two of them, as time passes.
    void Operator() {
        if (Options.SpareChips == 0) return;
        const uint64_t now = Clk.NowNs();
        constexpr uint64_t kMs = 1'000'000;
        if (Target && Programmed && !Connected() && now - ReleasedAtNs >= kTakeOutMs * kMs) {
            Target.reset();
            EmptySinceNs = now;
            Lines = TargetLines{};
        } else if (!Target && Spares > 0 && now - EmptySinceNs >= kPutInMs * kMs) {
            --Spares;
            Target = CreateChip(Options.ChipName);
            Target->Faults = Options.Faults;
            Target->FitToBoard();
            PlacedState = ChipState();
            Programmed = false;
            Lines.Connected = !Connected();  // the new chip sees the lines as they are
            UpdateTarget();
        }
    }

    Impl(Clock& clock, BenchOptions options) : Clk(clock), Options(std::move(options)) {}

    uint8_t DataLines() const { return Reverse ? 0xFF : Data; }  // undriven lines float high
    uint8_t ControlLevels() const { return adapter::FlipInverted(Register::Control, Control); }
    bool Connected() const {
        const bool enable = (ControlLevels() & PinMask(kLines.Enable)) != 0;
        return HasController(Options.Adapter) && enable == kLines.EnableActiveLevel;
    }

    void LinesChanged(bool dataChanged, bool controlChanged) {
        if (!dataChanged && !controlChanged) return;
        Answer.reset();
        if (dataChanged) {
            const uint8_t d = DataLines();
            const auto& bytes = adapter::kHandshakeData;
            if (d == bytes[0]) {
                HandshakeStage = 1;
                HandshakeCode = ControlLevels();
            } else if (HandshakeStage > 0 && HandshakeStage < bytes.size() &&
                       d == bytes[HandshakeStage]) {
                ++HandshakeStage;
            } else {
                HandshakeStage = 0;
            }
        }
        if (controlChanged) {
            if (HandshakeStage == adapter::kHandshakeData.size() && ControlLevels() == 0)
                Handshake(HandshakeCode);
            HandshakeStage = 0;
        }
        UpdateTarget();
    }

    void Handshake(uint8_t code) {
        if (!HasController(Options.Adapter)) return;
        if (code == adapter::kIdentifyCode)
            Answer = IdentAnswer(Options.Adapter);
        else
            Mode = code;
    }

    void UpdateTarget() {
        TargetLines lines;  // disconnected: the chip sees its own idle levels
        if (Connected()) {
            const uint8_t d = DataLines();
            lines.Connected = true;
            lines.Sck = DataPin(d, kLines.Sck);
            lines.Rst = DataPin(d, kLines.Rst);
            lines.Mode = DataPin(d, kModePin);
            lines.Mosi = DataPin(d, kLines.Mosi);
        }
        if (lines == Lines) return;
        const bool released = Lines.Connected && !lines.Connected;
        Lines = lines;
        if (Target) Target->SetLines(lines, Clk.NowNs());
        if (released && Target && Options.SpareChips > 0) {
            ReleasedAtNs = Clk.NowNs();
            if (!Programmed) Programmed = ChipState() != PlacedState;
        }
    }

    // Physical levels of pins 11, 10, 12, 13, 15 as status bits 7..3.
    uint8_t StatusLevels() {
        const uint8_t misoHigh = PinMask(kLines.Miso);
        switch (Options.Adapter) {
            case AdapterKind::Nothing:
                return adapter::kStatusPins;
            case AdapterKind::ByteBlaster:
            case AdapterKind::ByteBlasterMV: {
                // The cable's data-out line idles high without a target; the status lines loop
                // back D7 as the cable's wiring does. With pin 11 low as well, the
                // identification read would give 0x00 and the cable would pass for a
                // generation-one adapter.
                const adapter::CableLoopBack& cable =
                    adapter::kCables[Options.Adapter == AdapterKind::ByteBlaster ? 0 : 1];
                const bool d7 = DataPin(DataLines(), adapter::kLoopPin);
                return static_cast<uint8_t>(misoHigh | (d7 ? cable.WithD7High : cable.WithD7Low));
            }
            default:
                break;
        }
        if (Answer) return *Answer;
        bool miso = true;  // nothing drives the line: it floats high
        if (Options.MisoStuck)
            miso = *Options.MisoStuck;
        else if (Target && Connected())
            miso = Target->DataOut(Clk.NowNs());
        return miso ? misoHigh : uint8_t{0};
    }

    void LoadState() {
        const std::string& file = Options.StateFile;
        if (file.empty() || !Target) return;
        std::error_code ec;
        if (!std::filesystem::exists(file, ec)) return;
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            Error = Status::Error("SimStateUnreadable", file);
            return;
        }
        std::string magic, chipLine;
        std::getline(in, magic);
        std::getline(in, chipLine);
        if (magic != kStateMagic || chipLine.rfind("chip ", 0) != 0) {
            Error = Status::Error("SimStateForeign", file);
            return;
        }
        const std::string chip = chipLine.substr(5);
        if (Lower(chip) != Lower(Target->Name())) {
            Error = Status::Error("SimStateOtherChip", file, chip, Target->Name());
            return;
        }
        if (!Target->LoadState(in)) Error = Status::Error("SimStateDamaged", file);
    }
};

Bench::Bench(Clock& clock, BenchOptions options) : Bench(clock, std::move(options), nullptr) {}

Bench::Bench(Clock& clock, BenchOptions options, std::unique_ptr<TargetChip> chip)
    : impl_(std::make_unique<Impl>(clock, std::move(options))) {
    auto& o = impl_->Options;
    if (chip) {
        impl_->Target = std::move(chip);
        impl_->Target->Faults = o.Faults;
        impl_->Target->FitToBoard();
        o.ChipName = impl_->Target->Name();
        if (!HasController(o.Adapter)) impl_->Error = Status::Error("SimChipNeedsAdapter");
    } else if (!o.ChipName.empty()) {
        if (!HasController(o.Adapter)) {
            impl_->Error = Status::Error("SimChipNotConnected", o.ChipName);
        } else {
            impl_->Target = CreateChip(o.ChipName);
            if (!impl_->Target)
                impl_->Error = Status::Error("SimNoSuchChip", o.ChipName);
            else {
                impl_->Target->Faults = o.Faults;
                impl_->Target->FitToBoard();
            }
        }
    }
    if (impl_->Error.Ok() && !o.StateFile.empty() && impl_->Target) impl_->ResolveStateFile();
    if (impl_->Error.Ok() && !o.StateFile.empty() && impl_->Target) impl_->LockState();
    if (impl_->Error.Ok()) impl_->LoadState();
    impl_->Lines.Connected = !impl_->Connected();  // force the first update through
    impl_->UpdateTarget();
    if (impl_->Target && o.SpareChips > 0) {
        impl_->Spares = o.SpareChips;
        impl_->PlacedState = impl_->ChipState();
    }
}

Bench::~Bench() = default;

uint8_t Bench::ReadData() {
    impl_->Operator();
    return impl_->DataLines();
}

void Bench::WriteData(uint8_t value) {
    impl_->Operator();
    const uint8_t before = impl_->DataLines();
    impl_->Data = value;
    impl_->LinesChanged(impl_->DataLines() != before, false);
}

uint8_t Bench::ReadStatus() {
    impl_->Operator();
    return static_cast<uint8_t>(adapter::FlipInverted(Register::Status, impl_->StatusLevels()) |
                                kStatusUnused);
}

uint8_t Bench::ReadControl() {
    return impl_->Control;
}

void Bench::WriteControl(uint8_t value) {
    impl_->Operator();
    const uint8_t dataBefore = impl_->DataLines();
    const uint8_t controlBefore = impl_->Control;
    impl_->Control = value & adapter::kControlPins;
    impl_->Reverse = (value & adapter::kControlDataInput) != 0;
    impl_->LinesChanged(impl_->DataLines() != dataBefore, impl_->Control != controlBefore);
}

void Bench::SetDataReverse(bool reverse) {
    const uint8_t before = impl_->DataLines();
    impl_->Reverse = reverse;
    impl_->LinesChanged(impl_->DataLines() != before, false);
}

TargetChip* Bench::Chip() {
    return impl_->Target.get();
}
int Bench::DownloadMode() const {
    return impl_->Mode;
}
bool Bench::TargetConnected() const {
    return impl_->Connected();
}
const Status& Bench::Error() const {
    return impl_->Error;
}
const BenchOptions& Bench::Options() const {
    return impl_->Options;
}

std::string Bench::Name() const {
    const auto& o = impl_->Options;
    const std::string clock = o.Faults.BoardHz > 0 ? "@" + ClockText(o.Faults.BoardHz) : "";
    switch (o.Adapter) {
        case AdapterKind::Nothing:
            return "sim:none";
        case AdapterKind::ByteBlaster:
            return "sim:byteblaster";
        case AdapterKind::ByteBlasterMV:
            return "sim:byteblastermv";
        case AdapterKind::Gen1Fw1:
            return "sim:" + (o.ChipName.empty() ? "empty" : o.ChipName) + "@gen1" + clock;
        case AdapterKind::Gen1Fw2:
            return "sim:" + (o.ChipName.empty() ? "empty" : o.ChipName) + "@gen1v2" + clock;
        case AdapterKind::Gen2:
            break;
    }
    return "sim:" + (o.ChipName.empty() ? std::string("empty") : o.ChipName) + clock;
}

void Bench::ReleaseState() {
    if (impl_->LockFd >= 0) ::close(impl_->LockFd);
    impl_->LockFd = -1;
}

Status Bench::SaveState() {
    const auto& o = impl_->Options;
    if (!impl_->Target) return Status::Error("SimNothingToSave");
    if (o.StateFile.empty()) return Status::Error("SimNoStateFile");
    // Written beside the target and renamed over it, so a failed save never leaves half a file.
    const std::string temp = o.StateFile + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return Status::Error("SimCannotWrite", temp);
        out << kStateMagic << '\n' << "chip " << impl_->Target->Name() << '\n';
        impl_->Target->SaveState(out);
        out.flush();
        if (!out) return Status::Error("SimCannotWrite", temp);
    }
    std::error_code ec;
    std::filesystem::rename(temp, o.StateFile, ec);
    if (ec) {
        Status failed = Status::Error("SimCannotReplace", o.StateFile, ec.message());
        std::filesystem::remove(temp, ec);
        return failed;
    }
    return {};
}

Result<BenchOptions> ParseBenchName(const std::string& text) {
    if (Lower(text.substr(0, 4)) != "sim:") return Msg("SimNotABench", text);
    std::string rest = text.substr(4);
    std::vector<std::string> suffixes;
    if (const auto at = rest.find('@'); at != std::string::npos) {
        std::string tail = Lower(rest.substr(at + 1));
        rest = rest.substr(0, at);
        size_t from = 0;
        for (size_t next; (next = tail.find('@', from)) != std::string::npos; from = next + 1)
            suffixes.push_back(tail.substr(from, next - from));
        suffixes.push_back(tail.substr(from));
    }
    const std::string base = Lower(rest);
    BenchOptions out;
    for (const std::string& suffix : suffixes) {
        if (suffix == "gen1" || suffix == "gen1v2" || suffix == "gen2") {
            out.Adapter = suffix == "gen1"     ? AdapterKind::Gen1Fw1
                          : suffix == "gen1v2" ? AdapterKind::Gen1Fw2
                                               : AdapterKind::Gen2;
        } else if (suffix.rfind("swap", 0) == 0 &&
                   ParseNumber(suffix.substr(4), NumberStyle::Decimal, 1, 1000)) {
            out.SpareChips =
                static_cast<int>(*ParseNumber(suffix.substr(4), NumberStyle::Decimal, 1, 1000));
        } else if (const auto hz = ParseClock(suffix)) {
            out.Faults.BoardHz = *hz;
        } else {
            return Msg("SimUnknownOption", suffix);
        }
    }
    if (base == "none" || base == "byteblaster" || base == "byteblastermv") {
        if (!suffixes.empty()) return Msg("SimCableNoOptions", text);
        out.Adapter = base == "none"          ? AdapterKind::Nothing
                      : base == "byteblaster" ? AdapterKind::ByteBlaster
                                              : AdapterKind::ByteBlasterMV;
    } else if (base != "empty") {
        if (rest.empty() || !CreateChip(rest)) return Msg("SimUnknownChip", rest);
        out.ChipName = rest;
    } else if (out.Faults.BoardHz != 0) {
        return Msg("SimClockNeedsChip", text);
    }
    return out;
}

}  // namespace tondrel::sim
