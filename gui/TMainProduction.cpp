// The window's auto programming: each chip its serial number and its line of the JSON log, and
// with the seventh box ticked the next chip after it, until Stop.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include "core/ProductionRun.h"
#include "gui/TMain.h"

namespace tondrel::gui {

void TMain::MserialClick() {
    std::optional<SerialChoice> choice;
    if (SerialAsker) {
        choice = SerialAsker();
    } else {
        SerialDialog dialog(this, serial_, state_.Lang());
        if (dialog.exec() == QDialog::Accepted) choice = dialog.Choice();
    }
    if (choice) serial_ = *choice;
}

void TMain::RunProduction() {
    if (!session_ || looping_ || state_.Busy) return;
    core::ProductionOptions options;
    const auto* repeatBox = findChild<QCheckBox*>("isRepeat");
    options.Repeat = repeatBox && repeatBox->isChecked();
    const std::string& project = !state_.FlashFile.empty() ? state_.FlashFile : state_.EEPROMFile;
    if (!serial_.Field.empty()) {
        // Checked by the dialog already.
        const auto field = ParseSerialField(serial_.Field);
        if (project.empty() || !state_.Plan.VerifyAfter || !field) {
            AppendLine({});
            AppendLine(T(project.empty() ? "Gui.SerialNeedsFile" : "Gui.SerialNeedsVerify"));
            PlaySound(core::SoundName::Error);
            return;
        }
        const QString full = QFileInfo(QString::fromStdString(project)).absoluteFilePath();
        options.Serial = core::SerialPlan{*field, full.toStdString(), serial_.Start, serial_.Step};
    }
    if (options.Repeat && session_->Chip().Signature.empty()) {
        AppendLine({});
        AppendLine(Text(Msg("RepeatNeedsSignature", session_->Chip().CurrentChipName)));
        return;
    }
    for (const auto& [memory, path] :
         {std::pair{"flash", state_.FlashFile}, std::pair{"eeprom", state_.EEPROMFile}}) {
        if (!path.empty()) options.Files.push_back({memory, path, core::FileCrc32(path)});
    }
    options.WaitKey = "Gui.RepeatWaitRemove";
    core::ProductionHooks hooks;
    hooks.StopWanted = [this] { return LoopStopWanted(); };
    // A look at the socket now and then; the window keeps taking clicks meanwhile, the Stop
    // button's above all. On the simulated bench time passes as the bench's own clock says.
    hooks.Sleep = [this](uint32_t ms) {
        constexpr uint32_t kSlice = 50;
        for (uint32_t slept = 0; slept < ms && !LoopStopWanted(); slept += kSlice) {
            const uint32_t step = std::min(kSlice, ms - slept);
            if (ports_->Simulated()) {
                ports_->GetClock().SleepMs(step);
                QThread::msleep(step / 10);
            } else {
                ports_->GetClock().SleepMs(step);
            }
            QApplication::processEvents();
        }
    };
    Status last;
    hooks.Report = [this, &last](const core::OperationRecord& record) {
        jsonLog_ += core::JsonLine(record);
        last = record.Outcome;
        if (record.Chip > 0) {
            const std::string result =
                record.Result + (record.Serial ? " #" + std::to_string(*record.Serial) : "");
            AppendLine(Text(Msg("Gui.RepeatChipDone", record.Chip, result)));
        }
    };
    hooks.Counter = &counter_;
    looping_ = options.Repeat;
    stopLoop_ = false;
    ApplyState(state_);
    core::ProductionRun run(*session_, *this, *db_, std::move(options), std::move(hooks));
    const core::RunSummary summary = run.Run();
    jsonLog_ += core::JsonLine(summary);
    looping_ = false;
    stopLoop_ = false;
    ApplyState(state_);
    ShowBuffer(Memory::Flash, false);
    ShowBuffer(Memory::EEPROM, false);
    // One chip, not a loop that must go on: a chip other than the chosen one may be selected.
    if (summary.Operations == 1) OfferChipFound(last);
    if (closeWhenIdle_) QTimer::singleShot(0, this, &TMain::RequestClose);
}

}  // namespace tondrel::gui
