#include "sim/Bench.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "common/Text.h"

namespace tondrel::sim {

namespace {

constexpr uint8_t kControlInverted = 0x0B;  // the port inverts control bits 0, 1 and 3
constexpr uint8_t kStatusInverted = 0x80;   // ... and status bit 7
constexpr uint8_t kStatusUnused = 0x07;     // bits 2..0 have no pin; they read 1
constexpr uint8_t kIdentCode = 14;
constexpr const char* kStateMagic = "tondrel-bench-state 1";

bool HasController(AdapterKind kind) {
    return kind == AdapterKind::Gen1Fw1 || kind == AdapterKind::Gen1Fw2 ||
           kind == AdapterKind::Gen2;
}

// What the controller puts on status bits 7..3 (physical levels of pins 11, 10, 12, 13, 15)
// after an identification request.
uint8_t IdentAnswer(AdapterKind kind) {
    switch (kind) {
        case AdapterKind::Gen1Fw2:
            return 0x08;
        case AdapterKind::Gen2:
            return 0xA0;
        default:
            return 0x00;
    }
}

// "16MHz", "7.3728mhz", "32768Hz", "500kHz" (already lower case) -> Hz; false for anything else.
bool ParseClock(const std::string& text, uint32_t& hz) {
    double scale = 0;
    std::string number;
    for (const auto& [unit, factor] :
         {std::pair<const char*, double>{"mhz", 1e6}, {"khz", 1e3}, {"hz", 1.0}}) {
        const std::string u = unit;
        if (text.size() > u.size() && text.compare(text.size() - u.size(), u.size(), u) == 0) {
            number = text.substr(0, text.size() - u.size());
            scale = factor;
            break;
        }
    }
    if (scale == 0 || number.empty() ||
        number.find_first_not_of("0123456789.") != std::string::npos ||
        number.find('.') != number.rfind('.') || number == ".")
        return false;
    const double value = std::stod(number) * scale;
    if (value < 1.0 || value > 100e6) return false;
    hz = static_cast<uint32_t>(value + 0.5);
    return true;
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
    std::string Error;
    // Held from load to the bench's end, so two programs on one simulated chip wait for each
    // other as two programs on one claimed port do, and neither loses the other's writes.
    int LockFd = -1;
    ~Impl() {
        if (LockFd >= 0) ::close(LockFd);
    }

    void LockState() {
        const std::string lock = Options.StateFile + ".lock";
        LockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (LockFd < 0) {
            Error = "state file " + Options.StateFile + ": cannot create " + lock + ": " +
                    std::strerror(errno);
            return;
        }
        // Another run on the same chip is waited for, as a second program waits for a claimed
        // port; a run that never lets go (a window left open) is named instead of hanging.
        constexpr int kWaitMs = 120'000;
        constexpr int kStepMs = 20;
        for (int waited = 0;; waited += kStepMs) {
            if (::flock(LockFd, LOCK_EX | LOCK_NB) == 0) return;
            if (errno != EWOULDBLOCK && errno != EINTR) {
                Error = "state file " + Options.StateFile + ": cannot lock " + lock + ": " +
                        std::strerror(errno);
                return;
            }
            if (waited >= kWaitMs) {
                Error = "state file " + Options.StateFile +
                        ": still in use by another run after 120 s (it holds " + lock + ")";
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
    int HandshakeStage = 0;  // 1 after 0xAC, 2 after 0xAA, 3 after 0x00
    uint8_t HandshakeCode = 0;
    std::optional<uint8_t> Answer;  // identification answer shown until the lines next change
    int Mode = 0;

    TargetLines Lines;  // last lines given to the chip

    Impl(Clock& clock, BenchOptions options) : Clk(clock), Options(std::move(options)) {}

    uint8_t DataLines() const { return Reverse ? 0xFF : Data; }  // undriven lines float high
    uint8_t ControlLevels() const {
        return static_cast<uint8_t>((Control ^ kControlInverted) & 0x0F);
    }
    bool Connected() const {
        return HasController(Options.Adapter) && (ControlLevels() & 0x02) == 0;  // pin 14 low
    }

    void LinesChanged(bool dataChanged, bool controlChanged) {
        if (!dataChanged && !controlChanged) return;
        Answer.reset();
        if (dataChanged) {
            const uint8_t d = DataLines();
            if (d == 0xAC) {
                HandshakeStage = 1;
                HandshakeCode = ControlLevels();
            } else if (d == 0xAA && HandshakeStage == 1) {
                HandshakeStage = 2;
            } else if (d == 0x00 && HandshakeStage == 2) {
                HandshakeStage = 3;
            } else {
                HandshakeStage = 0;
            }
        }
        if (controlChanged) {
            if (HandshakeStage == 3 && ControlLevels() == 0) Handshake(HandshakeCode);
            HandshakeStage = 0;
        }
        UpdateTarget();
    }

    void Handshake(uint8_t code) {
        if (!HasController(Options.Adapter)) return;
        if (code == kIdentCode)
            Answer = IdentAnswer(Options.Adapter);
        else
            Mode = code;
    }

    void UpdateTarget() {
        TargetLines lines;  // disconnected: the chip sees its own idle levels
        if (Connected()) {
            const uint8_t d = DataLines();
            lines.Connected = true;
            lines.Sck = (d & 0x01) != 0;
            lines.Rst = (d & 0x02) != 0;
            lines.Mode = (d & 0x04) != 0;
            lines.Mosi = (d & 0x40) != 0;
        }
        if (lines == Lines) return;
        Lines = lines;
        if (Target) Target->SetLines(lines, Clk.NowNs());
    }

    // Physical levels of pins 11, 10, 12, 13, 15 as status bits 7..3.
    uint8_t StatusLevels() {
        switch (Options.Adapter) {
            case AdapterKind::Nothing:
                return 0xF8;
            case AdapterKind::ByteBlaster:
            case AdapterKind::ByteBlasterMV: {
                // The cable's data-out line idles high without a target; pin 12 loops back D7,
                // and the MV holds pin 15 high. With pin 11 low as well, the identification
                // read would give 0x00 and the cable would pass for a generation-one adapter.
                uint8_t s = 0x80;
                if (DataLines() & 0x80) s |= 0x20;
                if (Options.Adapter == AdapterKind::ByteBlasterMV) s |= 0x08;
                return s;
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
        return miso ? 0x80 : 0x00;
    }

    std::string StateError(const std::string& why) const {
        return "state file " + Options.StateFile + ": " + why;
    }

    void LoadState() {
        if (Options.StateFile.empty() || !Target) return;
        std::error_code ec;
        if (!std::filesystem::exists(Options.StateFile, ec)) return;
        std::ifstream in(Options.StateFile, std::ios::binary);
        if (!in) {
            Error = StateError("cannot be read");
            return;
        }
        std::string magic, chipLine;
        std::getline(in, magic);
        std::getline(in, chipLine);
        if (magic != kStateMagic || chipLine.rfind("chip ", 0) != 0) {
            Error = StateError("is not a simulated-bench state file");
            return;
        }
        const std::string chip = chipLine.substr(5);
        if (Lower(chip) != Lower(Target->Name())) {
            Error = StateError("holds a " + chip + ", not a " + Target->Name());
            return;
        }
        if (!Target->LoadState(in)) Error = StateError("is damaged; the chip was left blank");
    }
};

Bench::Bench(Clock& clock, BenchOptions options) : Bench(clock, std::move(options), nullptr) {}

Bench::Bench(Clock& clock, BenchOptions options, std::unique_ptr<TargetChip> chip)
    : impl_(std::make_unique<Impl>(clock, std::move(options))) {
    auto& o = impl_->Options;
    if (chip) {
        impl_->Target = std::move(chip);
        impl_->Target->Faults = o.Faults;
        o.ChipName = impl_->Target->Name();
        if (!HasController(o.Adapter)) impl_->Error = "a chip needs an adapter";
    } else if (!o.ChipName.empty()) {
        if (!HasController(o.Adapter)) {
            impl_->Error = "a chip needs an adapter; " + o.ChipName + " is not connected";
        } else {
            impl_->Target = CreateChip(o.ChipName);
            if (!impl_->Target)
                impl_->Error = "no simulated chip is called " + o.ChipName;
            else
                impl_->Target->Faults = o.Faults;
        }
    }
    if (impl_->Error.empty() && !o.StateFile.empty() && impl_->Target) impl_->LockState();
    if (impl_->Error.empty()) impl_->LoadState();
    impl_->Lines.Connected = !impl_->Connected();  // force the first update through
    impl_->UpdateTarget();
}

Bench::~Bench() = default;

uint8_t Bench::ReadData() {
    return impl_->DataLines();
}

void Bench::WriteData(uint8_t value) {
    const uint8_t before = impl_->DataLines();
    impl_->Data = value;
    impl_->LinesChanged(impl_->DataLines() != before, false);
}

uint8_t Bench::ReadStatus() {
    return static_cast<uint8_t>((impl_->StatusLevels() ^ kStatusInverted) | kStatusUnused);
}

uint8_t Bench::ReadControl() {
    return impl_->Control;
}

void Bench::WriteControl(uint8_t value) {
    const uint8_t dataBefore = impl_->DataLines();
    const uint8_t controlBefore = impl_->Control;
    impl_->Control = value & 0x0F;
    impl_->Reverse = (value & 0x20) != 0;
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
const std::string& Bench::Error() const {
    return impl_->Error;
}
const BenchOptions& Bench::Options() const {
    return impl_->Options;
}

std::string Bench::Name() const {
    const auto& o = impl_->Options;
    const std::string clock = o.Faults.ClockHz > 0 ? "@" + ClockText(o.Faults.ClockHz) : "";
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

bool Bench::SaveState(std::string& error) {
    const auto& o = impl_->Options;
    if (!impl_->Target) {
        error = "there is no chip on the bench to save";
        return false;
    }
    if (o.StateFile.empty()) {
        error = "no state file was given";
        return false;
    }
    // Written beside the target and renamed over it, so a failed save never leaves half a file.
    const std::string temp = o.StateFile + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot write " + temp;
            return false;
        }
        out << kStateMagic << '\n' << "chip " << impl_->Target->Name() << '\n';
        impl_->Target->SaveState(out);
        out.flush();
        if (!out) {
            error = "cannot write " + temp;
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, o.StateFile, ec);
    if (ec) {
        error = "cannot replace " + o.StateFile + ": " + ec.message();
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

bool ParseBenchName(const std::string& text, BenchOptions& out, std::string& error) {
    if (Lower(text.substr(0, 4)) != "sim:") {
        error = "'" + text + "' is not a simulated bench (sim:CHIP, sim:empty, sim:none, ...)";
        return false;
    }
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
    AdapterKind kind = AdapterKind::Gen2;
    uint32_t clockHz = 0;
    for (const std::string& suffix : suffixes) {
        uint32_t hz = 0;
        if (suffix == "gen1" || suffix == "gen1v2" || suffix == "gen2") {
            kind = suffix == "gen1"     ? AdapterKind::Gen1Fw1
                   : suffix == "gen1v2" ? AdapterKind::Gen1Fw2
                                        : AdapterKind::Gen2;
        } else if (ParseClock(suffix, hz)) {
            clockHz = hz;
        } else {
            error = "unknown bench option '@" + suffix +
                    "' (use @gen1, @gen1v2 or @gen2, or a chip clock such as @16MHz)";
            return false;
        }
    }
    std::string chip;
    if (base == "none" || base == "byteblaster" || base == "byteblastermv") {
        if (!suffixes.empty()) {
            error = "'" + text + "': a cable or an empty port has no adapter generation or clock";
            return false;
        }
        kind = base == "none"          ? AdapterKind::Nothing
               : base == "byteblaster" ? AdapterKind::ByteBlaster
                                       : AdapterKind::ByteBlasterMV;
    } else if (base != "empty") {
        if (rest.empty() || !CreateChip(rest)) {
            error = "no simulated chip is called '" + rest + "'";
            return false;
        }
        chip = rest;
    } else if (clockHz != 0) {
        error = "'" + text + "': a clock needs a chip";
        return false;
    }
    out.Adapter = kind;
    out.ChipName = chip;
    out.Faults.ClockHz = clockHz;
    return true;
}

}  // namespace tondrel::sim
