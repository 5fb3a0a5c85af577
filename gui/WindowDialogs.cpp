#include "gui/WindowDialogs.h"

#include <QMessageBox>

#include "config/ConfigForm.h"
#include "data/GridText.h"
#include "gui/ConfigDialog.h"
#include "gui/PortTestPanel.h"
#include "gui/TMain.h"
#include "gui/TModifyDataFrm.h"
#include "gui/TchipManageFrm.h"

namespace tondrel::gui {

namespace {

// The configuration dialogs ask, inform and report through the main window.
class WindowPrompts : public config::ConfigPrompts {
  public:
    explicit WindowPrompts(TMain& window) : window_(window) {}
    bool AskYesNo(const std::string& text) override { return window_.AskYesNo(text); }
    bool Ask(const std::string& text, core::QuestionKind kind) override {
        return window_.Ask(text, kind);
    }
    void Inform(const std::string& text) override { window_.Inform(text); }
    void AppendMessage(const std::string& line) override { window_.AppendLine(line); }

  private:
    TMain& window_;
};

}  // namespace

std::unique_ptr<ConfigDialog> MakeConfigDialog(TMain& window) {
    core::Session* s = window.Session();
    if (!s || !s->ChipCurrent) return nullptr;
    auto prompts = std::make_unique<WindowPrompts>(window);
    auto form =
        config::OpenConfigForm(s->Chip.CurrentChipId, s->CurrentEngine(), s->PortBase, *prompts);
    if (!form) return nullptr;  // a chip without a layout opens nothing
    return std::make_unique<ConfigDialog>(std::move(form), std::move(prompts), &window);
}

void InstallWindowDialogs(TMain& window) {
    window.ChipChooser = [&window]() -> std::optional<ChipRecord> {
        TchipManageFrm dialog(*window.Db(), &window);
        dialog.exec();
        return dialog.Chosen();
    };
    window.ConfigDialog = [&window] {
        if (auto dialog = MakeConfigDialog(window)) dialog->exec();
    };
    window.PortTestPanel = [&window] {
        core::Session* s = window.Session();
        if (!s) return;
        PortTestPanel panel(*s, &window);
        panel.exec();
    };
    window.CellEditor = [&window](int32_t position, bool flash) {
        core::Session* s = window.Session();
        if (!s) return;
        const GridMode mode = flash ? FlashGridMode(s->Chip.CurrentMethodCode) : GridMode::Byte;
        TModifyDataFrm editor(flash ? s->Bufs.FlashBuffer : s->Bufs.EEPROMBuffer,
                              flash ? Memory::Flash : Memory::EEPROM, mode, position,
                              s->CurrentLanguage(), &window);
        editor.exec();
        if (flash) {
            window.ShowFlashBuffer();
        } else {
            window.ShowEEPROMBuffer();
        }
    };
}

}  // namespace tondrel::gui
