// The session's life and its adapter: start-up and shut-down, language, hardware detection,
// chip search and selection, speed and download modes. The programming operations and the
// files are in SessionOps.cpp, the external tools in Launch.cpp.
#include "core/Session.h"

#include <algorithm>
#include <cctype>

#include "adapter/Controller.h"
#include "common/Text.h"
#include "core/Maker.h"
#include "core/SessionScope.h"
#include "engines/Engines.h"

namespace tondrel::core {

namespace {

// Forwards every register access to the port the set has at that register's base. Port bases
// are multiples of four, so the base is the address with its register bits cleared.
class RoutedPort : public PortIo {
  public:
    explicit RoutedPort(PortSet& set) : set_(set) {}
    uint8_t PortIn(uint16_t a) override { return For(a).PortIn(a); }
    void PortOut(uint16_t a, uint8_t v) override { For(a).PortOut(a, v); }
    void SetPortBit(uint16_t a, uint8_t bit) override { For(a).SetPortBit(a, bit); }
    void ClrPortBit(uint16_t a, uint8_t bit) override { For(a).ClrPortBit(a, bit); }
    bool GetPortBit(uint16_t a, uint8_t bit) override { return For(a).GetPortBit(a, bit); }
    std::string Describe() const override { return set_.Describe(); }

  private:
    PortIo& For(uint16_t address) {
        const int32_t base = address & ~3;
        // The set's home can move once (FollowStoredLpt), so the cache is keyed on it too.
        const int32_t home = set_.HomeBase();
        if (base != lastBase_ || home != lastHome_ || last_ == nullptr) {
            last_ = &set_.At(base);
            lastBase_ = base;
            lastHome_ = home;
        }
        return *last_;
    }
    PortSet& set_;
    int32_t lastBase_ = -1;
    int32_t lastHome_ = -1;
    PortIo* last_ = nullptr;
};

}  // namespace

// ---- modes ----

int ModeControlCode(int mode) {
    const adapter::DownloadMode* m = adapter::FindMode(mode);
    return m ? m->ControlCode : -1;
}

const char* ModeLookupName(int mode) {
    const adapter::DownloadMode* m = adapter::FindMode(mode);
    return m ? m->LookupKey : "";
}

const char* ModeUpdateName(int mode) {
    const adapter::DownloadMode* m = adapter::FindMode(mode);
    return m ? m->UpdateKey : "";
}

int ModeFromName(const std::string& name) {
    const adapter::DownloadMode* m = adapter::FindModeByName(name);
    return m ? m->Number : 0;
}

// ---- construction ----

Session::Session(View& view, db::Database& database, PortSet& ports)
    : Ports(ports), Db(database), view_(view) {
    router_ = std::make_unique<RoutedPort>(ports);
    Env.Io = router_.get();
    Env.Clk = &ports.GetClock();
    Env.Chip = &Chip;
    plain_ = std::make_unique<Tpro>(Env);
    for (size_t i = 0; i < kSearchOrder.size(); ++i) engines_[i] = MakeEngine(kSearchOrder[i], Env);
    current_ = plain_.get();
}

Session::~Session() = default;

Tpro* Session::EngineFor(Method method) {
    for (size_t i = 0; i < kSearchOrder.size(); ++i)
        if (kSearchOrder[i] == method) return engines_[i].get();
    return nullptr;
}

// ---- small helpers ----

void Session::Line(const std::string& text) {
    view_.AppendLine(text);
}

void Session::Say(std::string_view key) {
    view_.AppendLine(T(key));
}

void Session::Sound(std::string_view name) {
    if (Msound) view_.PlaySound(name);
}

void Session::SetBase() {
    current_->SetPortBase(PortBase);
}

void Session::EnableAll(std::initializer_list<std::string_view> controls, bool enabled) {
    for (auto c : controls) view_.SetEnabled(c, enabled);
}

// ---- start and end ----

bool Session::Start(std::string& error) {
    if (!LoadSettings(error)) return false;
    current_ = plain_.get();
    SetBase();
    current_->WriteControlPort(0);
    current_->WriteDataPort(0);
    Ports.GetClock().SleepMs(500);
    EnableAll({"Mfile", "Moper", "MSearchChip", "FlashToolBar", "EEPROMToolBar", "FlashDataBoard",
               "EEPROMdataBoard"},
              false);
    // The adapter goes back to the mode it served last time.
    if (RestoreModeAtStart && DetectHardware()) {
        int mode = StoredLaunch & 0xFF;
        if (ModeControlCode(mode) < 0) mode = kModeMcu;  // a damaged value: this program's mode
        DoSwitchMode(mode);
    }
    return true;
}

bool Session::LoadSettings(std::string& error) {
    error.clear();
    const db::Settings s = Db.ReadSettings();
    if (!Db.LastError().empty()) {
        error = Db.LastError();
        Line(TrFormat("CoreSettingsReadFail", CurrentLanguage(), error));
        return false;
    }
    StoredLaunch = s.Launch;
    languageCode_ = s.Language == 1 || s.Language == 2 ? s.Language : 0;
    Msound = db::IsOn(s.Sound);
    view_.SetChecked("Msound", Msound);

    // A stored port outside LPT1..3 would leave no base at all: LPT1 is where adapters sit.
    const int lpt = (s.Lpt >= 1 && s.Lpt <= 3) ? s.Lpt : 1;
    storedLpt_ = lpt;
    Ports.FollowStoredLpt(lpt);
    PortBase = PortBaseOverride != 0 ? PortBaseOverride : BaseForLpt(lpt);
    ShowPortChecks();

    isUpdateFlashFile = db::IsOn(s.IsUpdateFlash);
    isUpdateEEPROMfile = db::IsOn(s.IsUpdateEEProm);
    isEraseAll = db::IsOn(s.IsEraseAll);
    isWriteFlash = db::IsOn(s.IsProgramFlash);
    isWriteEEPROM = db::IsOn(s.IsProgramEEProm);
    view_.SetChecked("isUpdateFlashFile", isUpdateFlashFile);
    view_.SetChecked("isUpdateEEPROMfile", isUpdateEEPROMfile);
    view_.SetChecked("isEraseAll", isEraseAll);
    view_.SetChecked("isWriteFlash", isWriteFlash);
    view_.SetChecked("isWriteEEPROM", isWriteEEPROM);
    isVerifyAfter = db::IsOn(s.IsVerifyAfter);
    view_.SetChecked("isVerifyAfter", isVerifyAfter);

    const int language = languageCode_ != 0 ? languageCode_ : view_.ChooseLanguage();
    SetLanguageCode(language);

    MisRunProgram = db::IsOn(s.IsRunProgram);
    view_.SetChecked("MisRunProgram", MisRunProgram);
    view_.SetChecked("MisautoVerify", MisautoVerify);
    view_.SetChecked("Miswrite0xff", Miswrite0xff);

    BannerCount = 0;
    BannerLimit = kBannerLimit;
    FlashFileName.clear();
    EEPROMFileName.clear();
    Chip.FlashSize = 0;
    Chip.EEPROMSize = 0;
    HardwareGen = 0;
    return true;
}

bool Session::SaveSettings() {
    // A port given for this run only (--lpt, direct:0xBASE) is not the next run's port.
    const int lpt = PortBaseOverride != 0 ? storedLpt_ : LptForBase(PortBase);
    const bool ok = Db.SaveSettings(languageCode_, Msound, isUpdateFlashFile, isUpdateEEPROMfile,
                                    isEraseAll, isWriteFlash, isWriteEEPROM, lpt) &&
                    Db.SetVerifyAfter(isVerifyAfter);
    if (!ok) {
        const std::string text =
            TrFormat("CoreSettingsSaveFail", CurrentLanguage(), Db.LastError());
        Line(text);
        view_.Inform(text);
    }
    // The adapter goes to rest whatever the database said.
    Handshake(adapter::kIdentifyCode);
    return ok;
}

// ---- language ----

void Session::SwapLanguage() {
    // Before any choice English is shown, so a swap turns to Chinese.
    SetLanguageCode(Mchinese() ? 1 : 2);
}

void Session::SetLanguageCode(int code) {
    if (code != 1 && code != 2) return;
    languageCode_ = code;
    view_.SetChecked("Mchinese", Mchinese());
    view_.SetChecked("Menglish", Menglish());
}

void Session::ShowPortChecks() {
    view_.SetChecked("Mp1", Mp(1));
    view_.SetChecked("Mp2", Mp(2));
    view_.SetChecked("Mp3", Mp(3));
}

// ---- adapter ----

void Session::Handshake(uint8_t code) {
    adapter::SendHandshake(*current_, code);
}

void Session::SendModeCommand(int mode) {
    adapter::SendModeCommand(*current_, mode);
}

bool Session::DetectHardware() {
    using adapter::AdapterKind;
    const adapter::AdapterIdentity id = adapter::Identify(*current_);
    if (id.Kind == AdapterKind::None) {
        ReportNoHardware();
        return false;
    }
    const bool gen1 = id.Kind == AdapterKind::Gen1, gen2 = id.Kind == AdapterKind::Gen2;
    view_.SetLabel("HardwareVer", T(gen1 ? "CoreHwBrisk" : gen2 ? "CoreHwRegal" : "CoreHwAltera"));
    view_.SetLabel("hardware1", T(gen1   ? "CoreHwVersion10"
                                  : gen2 ? "CoreHwVersion20"
                                         : "CoreHwVersion"));
    view_.SetLabel("hardware2", id.Kind == AdapterKind::Altera
                                    ? std::string(id.Cable)
                                    : T(id.Firmware == 2 ? "CoreHwKernel20" : "CoreHwKernel10"));
    HardwareGen = static_cast<int>(id.Kind);
    EnableAll({"MEEProm3", "SbtnEEProm3"}, !gen1);
    if (id.Kind == AdapterKind::Altera) AlteraBanner();
    return true;
}

void Session::ReportNoHardware() {
    HardwareGen = 0;
    Line("");
    Say("CoreHwDisconnected");
    view_.SetLabel("ispstatus", T("CoreHwNotLaunched"));
    view_.SetLabel("HardwareVer", T("CoreHwUnknown"));
    view_.SetLabel("hardware1", "");
    view_.SetLabel("hardware2", "");
    EnableAll({"Mfile", "Moper", "MSearchChip", "NormalBar", "FlashToolBar", "EEPROMToolBar",
               "FlashDataBoard", "EEPROMdataBoard"},
              false);
    Sound("err");
}

void Session::AlteraBanner() {
    ++BannerCount;
    if (BannerCount < 2) {
        Line("");
        Say("CoreBannerRuleTop");
        Say("CoreBannerLine1");
        Say("CoreBannerLine2");
        Line(TrFormat("CoreBannerAddress", CurrentLanguage(), kMakerAddress));
        Say("CoreBannerRuleBottom");
    }
    if (BannerCount > BannerLimit) BannerCount = 0;
}

bool Session::ResetTarget() {
    Scope scope(*this, false);
    if (!scope) return false;
    current_->EnterProgramming();
    current_->LeaveProgramming();
    return !PortFailed();
}

// ---- port choice ----

void Session::ChoosePort(int lpt) {
    const int32_t base = BaseForLpt(lpt);
    if (base == 0) return;
    Scope scope(*this, false);
    if (!scope) return;
    PortBase = base;
    PortBaseOverride = 0;  // a port chosen in the menu is stored
    ShowPortChecks();
    DoAutoSearch();
}

// ---- chip search and selection ----

bool Session::SearchChip() {
    Scope scope(*this, false);
    if (!scope) return false;
    return DoSearchChip();
}

bool Session::DoSearchChip() {
    for (size_t n = 0; n < kSearchOrder.size(); ++n) {
        current_ = engines_[n].get();
        current_->InitPinMap();
        SetBase();
        if (!DetectHardware()) return false;
        SendModeCommand(1);
        current_->EnterProgramming();
        std::string signature;
        current_->ReadSignature(signature);
        current_->LeaveProgramming();
        if (Trim(signature).empty()) continue;
        if (auto row = Db.FindChip(kSearchOrder[n], signature)) {
            Chip.Assign(*row);
            return true;
        }
    }
    Line("");
    Say("CoreNoChipFound");
    return false;
}

bool Session::AutoSearch() {
    Scope scope(*this, false);
    if (!scope) return false;
    return DoAutoSearch();
}

bool Session::DoAutoSearch() {
    if (DoSearchChip()) {
        ChipSelected();
        return true;
    }
    EnableAll({"MopenFlashFile", "MopenEEPROMfile", "MsaveFlash", "MsaveEEProm", "Mfile", "Moper",
               "FlashDataBoard", "EEPROMdataBoard", "FlashToolBar", "EEPROMToolBar"},
              false);
    Sound("err");
    return false;
}

void Session::ApplyEngineOptions() {
    // What the menu shows is what the engine does.
    current_->SetAutoVerify(MisautoVerify);
    current_->SetWriteBlank(Miswrite0xff);
    current_->SetBitDelay(SpeedPosition);
}

void Session::ChipSelected() {
    Line("");
    Line(TrFormat("CoreChipDetected", CurrentLanguage(), Chip.CurrentChipName));
    Sound("detect");
    view_.SetLabel(kStatusChip,
                   TrFormat("CoreStatusChip", CurrentLanguage(), Chip.CurrentChipName));
    SpeedRead();
    ApplyEngineOptions();
    EnableAll({"Mfile", "Moper"}, true);

    const bool flash = Bufs.RecreateFlash();
    EnableAll({"FlashDataBoard", "MopenFlashFile", "MsaveFlash", "MFlash", "FlashToolBar"}, flash);
    if (flash) view_.ShowFlashBuffer();

    const bool eeprom = Bufs.RecreateEEPROM();
    EnableAll({"EEPROMdataBoard", "MopenEEPROMfile", "MsaveEEProm", "Meeprom", "EEPROMToolBar"},
              eeprom);
    if (eeprom) view_.ShowEEPROMBuffer();
    ChipCurrent = true;
}

void Session::SelectChip(const ChipRecord& record) {
    Scope scope(*this, false);
    if (!scope) return;
    Chip.Assign(record);
    Tpro* engine = EngineFor(record.MethodCode);
    current_ = engine ? engine : plain_.get();
    current_->InitPinMap();
    SetBase();
    current_->SetBitDelay(SpeedPosition);
    current_->LeaveProgramming();  // a chip chosen by hand finds the target released
    ChipSelected();
}

// ---- port test ----

bool Session::SetTestPin(uint8_t pin, bool high) {
    plain_->SetPortBase(PortBase);
    return plain_->SetPin(pin, high);
}

bool Session::TestPin(uint8_t pin) {
    plain_->SetPortBase(PortBase);
    return plain_->GetPin(pin);
}

// ---- engine options ----

void Session::SetSpeed(int32_t position) {
    SpeedPosition = std::clamp<int32_t>(position, 0, kSpeedMax);
    current_->SetBitDelay(SpeedPosition);
}

void Session::ToggleAutoVerify() {
    MisautoVerify = !MisautoVerify;
    view_.SetChecked("MisautoVerify", MisautoVerify);
    current_->SetAutoVerify(MisautoVerify);
}

void Session::SetVerifyAfter(bool on) {
    isVerifyAfter = on;
    view_.SetChecked("isVerifyAfter", on);
}

void Session::ToggleWriteBlank() {
    Miswrite0xff = !Miswrite0xff;
    view_.SetChecked("Miswrite0xff", Miswrite0xff);
    current_->SetWriteBlank(Miswrite0xff);
}

void Session::SpeedRead() {
    const auto stored = Db.ReadSpeed(Chip.CurrentChipId);
    if (!stored) {
        if (!Db.LastError().empty()) {
            const std::string text =
                TrFormat("CoreSpeedReadFail", CurrentLanguage(), Db.LastError());
            Line(text);
            view_.Inform(text);
        }
        return;
    }
    const int32_t position = std::clamp<int32_t>(*stored, 0, kSpeedMax);
    if (position == SpeedPosition) return;
    SpeedPosition = position;
    view_.SetSpeedPosition(position);
    current_->SetBitDelay(position);
}

void Session::AdoptEngineSpeed() {
    const int32_t working = current_->WorkingBitDelay();
    if (working < 0 || working == SpeedPosition) return;
    SpeedPosition = std::clamp<int32_t>(working, 0, kSpeedMax);
    view_.SetSpeedPosition(SpeedPosition);
}

bool Session::SpeedWrite() {
    AdoptEngineSpeed();
    if (Db.WriteSpeed(Chip.CurrentChipId, SpeedPosition)) return true;
    Line(TrFormat("CoreSpeedSaveFail", CurrentLanguage(), Db.LastError()));
    return false;
}

// ---- download modes ----

void Session::ApplyModeControls(int mode) {
    if (mode == kModeMcu) {
        EnableAll({"Mfile", "Moper"}, false);
        EnableAll({"MSearchChip", "NormalBar"}, true);
        EnableAll({"FlashToolBar", "EEPROMToolBar", "FlashDataBoard", "EEPROMdataBoard"}, false);
    } else if (mode > kModeMcu && mode <= kModeMsp430) {
        EnableAll({"Mfile", "Moper", "MSearchChip", "NormalBar", "FlashToolBar", "EEPROMToolBar",
                   "FlashDataBoard", "EEPROMdataBoard"},
                  false);
    }
}

void Session::SwitchMode(int mode) {
    Scope scope(*this, false);
    if (!scope) return;
    DoSwitchMode(mode);
}

bool Session::DoSwitchMode(int mode) {
    ApplyModeControls(mode);
    if (!DetectHardware()) return false;
    // A mode the adapter does not know is neither stored nor sent.
    if (ModeControlCode(mode) < 0) return false;
    if (MisRunProgram) LaunchTool(mode);
    if (!Db.SetLaunch(mode)) {
        const std::string text = TrFormat("CoreModeSaveFail", CurrentLanguage(), Db.LastError());
        Line(text);
        view_.Inform(text);
    }
    SendModeCommand(mode);
    const std::string n = std::to_string(mode);
    Line("");
    Say("CoreModeSwitched" + n);
    view_.SetLabel("ispstatus", T("CoreModeState" + n));
    Line("");
    Say("CoreModeWarning");
    return true;
}

bool Session::SetToolPath(int mode) {
    if (ModeControlCode(mode) < 0) return false;
    const auto path = view_.PickToolPath(mode);
    if (!path) return false;
    return SetToolPath(mode, *path);
}

bool Session::SetToolPath(int mode, const std::string& path) {
    const bool ok = ModeControlCode(mode) >= 0 && Db.SetToolPath(ModeUpdateName(mode), path);
    view_.Inform(T(ok ? "CoreToolPathSet" : "CoreToolPathFail"));
    return ok;
}

void Session::ToggleRunProgram() {
    MisRunProgram = !MisRunProgram;
    view_.SetChecked("MisRunProgram", MisRunProgram);
    Db.SetRunProgram(MisRunProgram);  // a refused update only loses the stored choice
}

void Session::ShowSupport() {
    const std::string text = Db.SupportText(HardwareGen);
    Line("");
    Line(text);
}

}  // namespace tondrel::core
