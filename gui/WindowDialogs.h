#pragma once
// Wires the window's dialogs (chip choice, configuration bits, byte editors, port test) into
// the main window's hooks.
namespace tondrel::gui {

class TMain;
void InstallWindowDialogs(TMain& window);

}  // namespace tondrel::gui
