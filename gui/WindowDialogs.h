#pragma once
// Wires the window's dialogs (chip choice, configuration bits, byte editors, port test) into
// the main window's hooks.
#include <memory>

namespace tondrel::gui {

class TMain;
class ConfigDialog;

void InstallWindowDialogs(TMain& window);
// The configuration dialog of the current chip, opened (its reads done); nullptr when no chip
// is current or the chip has no layout.
std::unique_ptr<ConfigDialog> MakeConfigDialog(TMain& window);

}  // namespace tondrel::gui
