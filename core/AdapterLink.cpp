#include "core/AdapterLink.h"

#include "common/Text.h"
#include "core/Maker.h"
#include "core/Session.h"

namespace tondrel::core {

namespace {

// The identification request's control code; also the rest handshake at shut-down.
constexpr uint8_t kIdentify = 14;
// The Altera banner is shown on the first identification, and again after this many.
constexpr uint8_t kBannerLimit = 50;

}  // namespace

// Table `path` keys: the name a lookup uses and the name an update uses (case differs).
const char* ModeLookupName(int mode) {
    static const char* const names[] = {"mcu",    "altera", "xilinx", "lattice",
                                        "EEProm", "ARM",    "Msp430"};
    return mode >= kModeMcu && mode <= kModeMsp430 ? names[mode - 1] : "";
}

const char* ModeUpdateName(int mode) {
    static const char* const names[] = {"mcu",    "altera", "xilinx", "lattice",
                                        "eeprom", "arm",    "msp430"};
    return mode >= kModeMcu && mode <= kModeMsp430 ? names[mode - 1] : "";
}

int ModeControlCode(int mode) {
    static constexpr int codes[] = {1, 1, 3, 8, 11, 10, 9};
    return mode >= kModeMcu && mode <= kModeMsp430 ? codes[mode - 1] : -1;
}

int ModeFromName(const std::string& name) {
    static const char* const names[] = {"mcu",    "altera", "xilinx", "lattice",
                                        "eprom3", "arm",    "msp430"};
    const std::string lower = Lower(name);
    for (int i = 0; i < 7; ++i)
        if (lower == names[i]) return i + 1;
    return 0;
}

void AdapterLink::Handshake(uint8_t code) {
    Tpro& pins = s_.Engine();
    pins.WriteControlPort(code);
    pins.WriteDataPort(0xAC);
    pins.WriteDataPort(0xAA);
    pins.WriteDataPort(0x00);
    pins.WriteControlPort(0x00);
}

void AdapterLink::SendRest() {
    Handshake(kIdentify);
}

void AdapterLink::SendModeCommand(int mode) {
    const int code = ModeControlCode(mode);
    if (code < 0) {
        s_.Engine().WriteDataPort(0x00);
        s_.Engine().WriteControlPort(0x00);
        return;
    }
    Handshake(static_cast<uint8_t>(code));
}

Result<AdapterInfo> AdapterLink::Detect() {
    Tpro& pins = s_.Engine();
    Handshake(kIdentify);
    s_.AdapterChecked = true;
    AdapterInfo found;
    const uint8_t answer = pins.ReadStatusPort() & 0xF8;
    if (answer == 0x00 || answer == 0x08) {
        found = {AdapterKind::Gen1, answer == 0x00 ? 10 : 20, {}};
    } else if (answer == 0xA0) {
        found = {AdapterKind::Gen2, 10, {}};
    } else {
        // No controller answered: an Altera cable loops D7 back to the status lines.
        auto loop = [&pins](uint8_t& high, uint8_t& low) {
            pins.SetPin(9, true);
            high = pins.ReadStatusPort() & 0x28;
            pins.SetPin(9, false);
            low = pins.ReadStatusPort() & 0x28;
        };
        uint8_t a = 0, b = 0;
        loop(a, b);
        if (a == 0x20 && b == 0x00) {
            found = {AdapterKind::Altera, 0, "ByteBlaster"};
        } else {
            uint8_t x = 0, y = 0;
            loop(x, y);
            if (x == 0x28 && y == 0x08) found = {AdapterKind::Altera, 0, "ByteBlasterMV"};
        }
    }
    if (found.Kind == AdapterKind::None) return NoHardware();
    s_.HardwareGen = found;
    s_.Publish();
    if (found.Kind == AdapterKind::Altera) AlteraBanner();
    return found;
}

Status AdapterLink::NoHardware() {
    s_.HardwareGen = {};
    s_.ModeActive = false;
    s_.ChipReady = false;
    s_.Blank();
    s_.Publish();
    return s_.Fail(Status::Error("CoreHwDisconnected"));
}

void AdapterLink::AlteraBanner() {
    ++bannerCount_;
    if (bannerCount_ < 2) {
        s_.Blank();
        s_.Say("CoreBannerRuleTop");
        s_.Say("CoreBannerLine1");
        s_.Say("CoreBannerLine2");
        s_.Say("CoreBannerAddress", kMakerAddress);
        s_.Say("CoreBannerRuleBottom");
    }
    if (bannerCount_ > kBannerLimit) bannerCount_ = 0;
}

Status AdapterLink::Reset() {
    OperationScope scope(s_, false);
    if (!scope) return OperationScope::Refused();
    { ProgrammingMode pulse(s_); }
    return s_.PortStatus();
}

Status AdapterLink::SwitchMode(int mode) {
    // A mode the adapter does not know is neither stored nor sent.
    if (ModeControlCode(mode) < 0) return Status::Error("CoreModeUnknown", mode);
    OperationScope scope(s_, false);
    if (!scope) return OperationScope::Refused();
    // The chip controls go off for any mode: even back in this program's mode a chip must be
    // searched for again.
    s_.Mode = mode;
    s_.ChipReady = false;
    s_.Publish();
    if (auto found = Detect(); !found) return found.GetStatus();
    if (s_.MisRunProgram) LaunchTool(mode);
    if (const Status stored = s_.Db.SetLaunch(mode); !stored) {
        const Message text = Msg("CoreModeSaveFail", stored.Text(s_.Lang()));
        s_.Say(text);
        s_.Out.Inform(text);
    }
    SendModeCommand(mode);
    const std::string n = std::to_string(mode);
    s_.Blank();
    s_.Say("CoreModeSwitched" + n);
    s_.ModeActive = true;
    s_.Publish();
    s_.Blank();
    s_.Say("CoreModeWarning");
    return {};
}

void AdapterLink::RestoreStoredMode() {
    if (!Detect()) return;
    int mode = s_.StoredLaunch & 0xFF;
    if (ModeControlCode(mode) < 0) mode = kModeMcu;  // a damaged value: this program's mode
    (void)SwitchMode(mode);
}

Status AdapterLink::SetToolPath(int mode) {
    if (ModeControlCode(mode) < 0) return Status::Error("CoreModeUnknown", mode);
    const auto path = s_.Out.PickToolPath(mode);
    if (!path) return Status::Error("CoreToolPathCancelled");
    return SetToolPath(mode, *path);
}

Status AdapterLink::SetToolPath(int mode, const std::string& path) {
    const bool ok =
        ModeControlCode(mode) >= 0 && s_.Db.SetToolPath(ModeUpdateName(mode), path).Ok();
    s_.Out.Inform(Msg(ok ? "CoreToolPathSet" : "CoreToolPathFail"));
    return ok ? Status() : Status::Error("CoreToolPathFail");
}

void AdapterLink::SetRunProgram(bool on) {
    s_.MisRunProgram = on;
    s_.Publish();
    (void)s_.Db.SetRunProgram(on);  // a refused update only loses the stored choice
}

void AdapterLink::ShowSupport() {
    s_.Blank();
    // The catalogue keeps a text per adapter kind: 1 generation one, 2 generation two, 3 Altera.
    const int kind = static_cast<int>(s_.HardwareGen.Kind);
    // A failed read shows the empty text it always showed.
    s_.Say(Verbatim(s_.Db.SupportText(kind).ValueOr({})));
}

bool AdapterLink::SetTestPin(uint8_t pin, bool high) {
    s_.PlainEngine().SetPortBase(s_.PortBase);
    return s_.PlainEngine().SetPin(pin, high);
}

bool AdapterLink::TestPin(uint8_t pin) {
    s_.PlainEngine().SetPortBase(s_.PortBase);
    return s_.PlainEngine().GetPin(pin);
}

}  // namespace tondrel::core
