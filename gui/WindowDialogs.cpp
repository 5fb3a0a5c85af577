#include "gui/WindowDialogs.h"

#include "gui/TMain.h"

namespace tondrel::gui {

void InstallWindowDialogs(TMain& window) {
    (void)window;
}

}  // namespace tondrel::gui
