#include "core/ChipSelection.h"

#include <algorithm>

#include "common/Text.h"

namespace tondrel::core {

Result<ChipRecord> ChipSelection::Search() {
    for (Method method : kSearchOrder) {
        // A USB adapter cannot switch a PIC's VPP: only the serial chips are looked for there.
        if (s_.Ports.Link() != nullptr && IsPic(method)) continue;
        s_.UseEngine(s_.EngineFor(method));
        s_.Engine().InitPinMap();
        if (s_.RunSpeed) s_.Engine().SetBitDelay(*s_.RunSpeed);
        s_.SetBase();
        if (auto adapter = link_.Detect(); !adapter) return adapter.GetStatus();
        link_.SendModeCommand(kModeMcu);
        std::string signature, again;
        {
            ProgrammingMode probe(s_);
            // No chip took programming enable at any speed: signature reads would only be
            // frames for whatever chip is there to misread, at a clock it does not follow.
            if (!probe.Entered()) continue;
            signature = s_.ReadSignature().ValueOr({});
            again = s_.ReadSignature().ValueOr({});
        }
        // A garbled read (a clock the chip only just follows) need not come back the same.
        if (Trim(signature).empty() || again != signature) continue;
        // A failed look-up finds no chip, as a row that is not there.
        const auto row = s_.Db.FindChip(method, signature);
        if (row && *row) {
            s_.Chip.Assign(**row);
            return **row;
        }
    }
    s_.Blank();
    s_.Say("CoreNoChipFound");
    return Status::Error("CoreNoChipFound");
}

Result<ChipRecord> ChipSelection::AutoSearch() {
    OperationScope scope(s_, false);
    if (!scope) return OperationScope::Refused();
    return AutoSearchUnguarded();
}

Result<ChipRecord> ChipSelection::AutoSearchUnguarded() {
    auto found = Search();
    if (found) {
        s_.ChosenByName = false;
        ChipSelected();
        return found;
    }
    s_.ChipReady = false;
    s_.Publish();
    s_.Sound(SoundName::Error);
    return found;
}

void ChipSelection::ChipSelected() {
    s_.Blank();
    s_.Say("CoreChipDetected", s_.Chip.CurrentChipName);
    s_.Sound(SoundName::Detect);
    s_.ChipCurrent = true;
    SpeedRead();
    s_.ApplyEngineOptions();
    s_.ChipReady = true;
    const bool flash = s_.Bufs.RecreateFlash();
    const bool eeprom = s_.Bufs.RecreateEEPROM();
    s_.Publish();
    if (flash) s_.Out.ShowBuffer(Memory::Flash, false);
    if (eeprom) s_.Out.ShowBuffer(Memory::EEPROM, false);
}

void ChipSelection::Select(const ChipRecord& record) {
    OperationScope scope(s_, false);
    if (!scope) return;
    s_.Chip.Assign(record);
    s_.UseEngine(s_.EngineFor(record.MethodCode));
    s_.Engine().InitPinMap();
    s_.SetBase();
    s_.Engine().SetBitDelay(s_.SpeedPosition);
    s_.Leave();  // a chip chosen by hand finds the target released
    s_.ChosenByName = true;
    ChipSelected();
}

void ChipSelection::ChoosePort(int lpt) {
    const int32_t base = BaseForLpt(lpt);
    if (base == 0) return;
    OperationScope scope(s_, false);
    if (!scope) return;
    s_.PortBase = base;
    s_.PortBaseOverride = 0;  // a port chosen in the menu is stored
    s_.Publish();
    (void)AutoSearchUnguarded();
}

void ChipSelection::SpeedRead() {
    if (s_.RunSpeed) {
        SetSpeedPosition(*s_.RunSpeed);
        return;
    }
    const auto stored = s_.Db.ReadSpeed(s_.Chip.CurrentChipId);
    if (!stored) {
        const Message text = Msg("CoreSpeedReadFail", stored.Error().Text(s_.Lang()));
        s_.Say(text);
        s_.Out.Inform(text);
        return;
    }
    if (!*stored) {
        // No speed stored for this chip yet: the one the search had to slow down to, if any.
        const int32_t working = s_.Engine().WorkingBitDelay();
        if (working > s_.SpeedPosition) SetSpeedPosition(std::min(working, kSpeedMax));
        return;
    }
    SetSpeedPosition(std::clamp<int32_t>(**stored, 0, kSpeedMax));
}

void ChipSelection::SetSpeedPosition(int32_t position) {
    if (position == s_.SpeedPosition) return;
    s_.SpeedPosition = position;
    s_.Engine().SetBitDelay(position);
    s_.Publish();
}

void ChipSelection::SpeedWrite() {
    const int32_t working = s_.Engine().WorkingBitDelay();
    if (working >= 0 && working != s_.SpeedPosition) {
        s_.SpeedPosition = std::clamp<int32_t>(working, 0, kSpeedMax);
        s_.Publish();
    }
    if (const Status written = s_.Db.WriteSpeed(s_.Chip.CurrentChipId, s_.SpeedPosition); !written)
        s_.Say("CoreSpeedSaveFail", written.Text(s_.Lang()));
}

}  // namespace tondrel::core
