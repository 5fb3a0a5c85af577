#include "core/SessionSettings.h"

#include <algorithm>

namespace tondrel::core {

namespace {
// A stored port outside LPT1..3 would leave no base at all: LPT1 is where adapters sit.
int ValidLpt(int stored) {
    return stored >= 1 && stored <= 3 ? stored : 1;
}
}  // namespace

int StoredLpt(db::Database& db) {
    const auto read = db.ReadSettings();
    return ValidLpt(read ? read->Lpt : 1);
}

Status SessionSettings::Load() {
    const auto read = s_.Db.ReadSettings();
    if (!read) {
        const Status failed = Status::Error("CoreSettingsReadFail", read.Error().Text(s_.Lang()));
        s_.Say(failed.Error());
        return failed;
    }
    const db::Settings& stored = *read;
    s_.StoredLaunch = stored.Launch;
    s_.LanguageCode = stored.Language == 1 || stored.Language == 2 ? stored.Language : 0;
    s_.Msound = db::IsOn(stored.Sound);

    const int lpt = ValidLpt(stored.Lpt);
    s_.StoredLpt = lpt;
    s_.Ports.FollowStoredLpt(lpt);
    // A device or base the user named is the port of this run; the stored LPT chooses only
    // when none is named (and stays stored).
    if (s_.PortBaseOverride == 0 && s_.Ports.NamedBase()) s_.PortBaseOverride = s_.Ports.HomeBase();
    s_.PortBase = s_.PortBaseOverride != 0 ? s_.PortBaseOverride : BaseForLpt(lpt);

    AutoPlan plan;
    plan.UpdateFlashFile = db::IsOn(stored.IsUpdateFlash);
    plan.UpdateEEPROMFile = db::IsOn(stored.IsUpdateEEProm);
    plan.EraseAll = db::IsOn(stored.IsEraseAll);
    plan.WriteFlash = db::IsOn(stored.IsProgramFlash);
    plan.WriteEEPROM = db::IsOn(stored.IsProgramEEProm);
    plan.VerifyAfter = db::IsOn(stored.IsVerifyAfter);
    plan.CheckRestBlank = db::IsOn(stored.IsCheckBlank);
    s_.Plan = s_.StoredPlan = plan;
    s_.MisRunProgram = db::IsOn(stored.IsRunProgram);
    s_.Publish();

    if (s_.LanguageCode == 0) SetLanguageCode(s_.Out.ChooseLanguage());

    s_.FlashFileName.clear();
    s_.EEPROMFileName.clear();
    s_.Chip.FlashSize = 0;
    s_.Chip.EEPROMSize = 0;
    s_.HardwareGen = {};
    s_.Publish();
    return {};
}

Status SessionSettings::Save() {
    // A port given for this run only (--lpt, direct:0xBASE) is not the next run's port.
    const int lpt = s_.PortBaseOverride != 0 ? s_.StoredLpt : LptForBase(s_.PortBase);
    const AutoPlan& p = s_.StoredPlan;
    Status saved =
        s_.Db.SaveSettings(s_.LanguageCode, s_.Msound, p.UpdateFlashFile, p.UpdateEEPROMFile,
                           p.EraseAll, p.WriteFlash, p.WriteEEPROM, lpt);
    if (saved) saved = s_.Db.SetVerifyAfter(p.VerifyAfter);
    if (saved) saved = s_.Db.SetCheckBlank(p.CheckRestBlank);
    if (saved) return {};
    const Status failed = Status::Error("CoreSettingsSaveFail", saved.Text(s_.Lang()));
    s_.Say(failed.Error());
    s_.Out.Inform(failed.Error());
    return failed;
}

void SessionSettings::SetLanguageCode(int code) {
    if (code != 1 && code != 2) return;
    s_.LanguageCode = code;
    s_.Publish();
}

void SessionSettings::SwapLanguage() {
    // Before any choice English is shown, so a swap turns to Chinese.
    SetLanguageCode(s_.LanguageCode == 2 ? 1 : 2);
}

void SessionSettings::SetSound(bool on) {
    s_.Msound = on;
    s_.Publish();
}

void SessionSettings::SetAutoVerify(bool on) {
    s_.MisautoVerify = on;
    s_.Engine().SetAutoVerify(on);
    s_.Publish();
}

void SessionSettings::SetWriteBlank(bool on) {
    s_.Miswrite0xff = on;
    s_.Engine().SetWriteBlank(on);
    s_.Publish();
}

void SessionSettings::SetPlan(const AutoPlan& plan, bool store) {
    s_.Plan = plan;
    if (store) s_.StoredPlan = plan;
    s_.Publish();
}

void SessionSettings::SetSpeed(int32_t position) {
    s_.SpeedPosition = std::clamp<int32_t>(position, 0, kSpeedMax);
    s_.Engine().SetBitDelay(s_.SpeedPosition);
    s_.Publish();
}

}  // namespace tondrel::core
