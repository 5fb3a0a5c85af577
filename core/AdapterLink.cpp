#include "core/AdapterLink.h"

#include "adapter/Controller.h"
#include "core/Maker.h"
#include "core/Session.h"

namespace tondrel::core {

namespace {

// The Altera banner is shown on the first identification, and again after this many.
constexpr uint8_t kBannerLimit = 50;

}  // namespace

const char* ModeLookupName(int mode) {
    const adapter::DownloadMode* m = adapter::FindMode(mode);
    return m ? m->LookupKey : "";
}

const char* ModeUpdateName(int mode) {
    const adapter::DownloadMode* m = adapter::FindMode(mode);
    return m ? m->UpdateKey : "";
}

int ModeControlCode(int mode) {
    const adapter::DownloadMode* m = adapter::FindMode(mode);
    return m ? m->ControlCode : -1;
}

int ModeFromName(const std::string& name) {
    const adapter::DownloadMode* m = adapter::FindModeByName(name);
    return m ? m->Number : 0;
}

void AdapterLink::SendRest() {
    adapter::SendRest(s_.Engine());
}

void AdapterLink::SendModeCommand(int mode) {
    adapter::SendModeCommand(s_.Engine(), mode);
}

Result<AdapterInfo> AdapterLink::Detect() {
    if (s_.Ports.Link() != nullptr) return DetectUsb();
    const adapter::AdapterIdentity id = adapter::Identify(s_.Engine());
    s_.AdapterChecked = true;
    if (id.Kind == AdapterKind::None) return NoHardware();
    const AdapterInfo found{id.Kind, id.Firmware, std::string(id.Cable)};
    s_.HardwareGen = found;
    s_.Publish();
    if (found.Kind == AdapterKind::Altera) AlteraBanner();
    return found;
}

// A USB bit-bang adapter has no controller to identify: it is there once its port is open. It
// drives only the serial lines, so a PIC (whose VPP needs the parallel adapter) is refused.
Result<AdapterInfo> AdapterLink::DetectUsb() {
    s_.AdapterChecked = true;
    if (IsPic(s_.Chip.CurrentMethodCode) || &s_.Engine() == &s_.EngineFor(Method::Pic) ||
        &s_.Engine() == &s_.EngineFor(Method::PicA))
        return s_.Fail(Status::Error("PortFtdiNoPic"));
    const AdapterInfo found{AdapterKind::Gen2, 0, {}};
    if (!(s_.HardwareGen == found)) {
        s_.HardwareGen = found;
        s_.Publish();
    }
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
    const int before = s_.Mode;
    s_.Mode = mode;
    s_.ChipReady = false;
    s_.Publish();
    const auto found = Detect();
    if (!found) return found.GetStatus();
    // A generation-one adapter has no Willem EPROM3 mode: nothing is stored or sent.
    if (mode == kModeEprom3 && found->Kind == AdapterKind::Gen1) {
        s_.Mode = before;
        s_.Publish();
        s_.Blank();
        return s_.Fail(Status::Error("CoreModeNeedsGen2"));
    }
    if (s_.MisRunProgram && s_.LaunchTools) LaunchTool(mode);
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
