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

std::unique_ptr<ConfigDialog> MakeConfigDialog(TMain& window) {
    core::Session* s = window.Session();
    if (!s || s->State().ChipName.empty()) return nullptr;
    // A chip that does not answer, or one without a layout, opens nothing.
    auto form = s->OpenConfiguration(window);
    if (!form) {
        window.OfferChipFound(form.GetStatus());
        return nullptr;
    }
    return std::make_unique<ConfigDialog>(std::move(*form), window);
}

void InstallWindowDialogs(TMain& window) {
    window.ChipChooser = [&window]() -> std::optional<ChipRecord> {
        const core::Session* s = window.Session();
        TchipManageFrm dialog(*window.Db(), &window, s ? s->State().Lang() : Language::Chinese);
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
        const Memory memory = flash ? Memory::Flash : Memory::EEPROM;
        const GridMode mode = flash ? FlashGridMode(s->Chip().CurrentMethodCode) : GridMode::Byte;
        TModifyDataFrm editor(
            s->Buffer(memory), memory, mode, position, s->State().Lang(),
            [s, memory, mode, position](const std::string& text) {
                s->EditBuffer(memory, mode, position, text);
            },
            &window);
        editor.exec();
        window.ShowBuffer(memory, false);
    };
}

}  // namespace tondrel::gui
