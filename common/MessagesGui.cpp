#include "common/MessageTables.h"

namespace tondrel {

// Texts of the window: menus, captions, dialogs. Key, Chinese, English, used exactly as the program shows them.
const std::vector<MessageEntry>& GuiMessageTable() {
    static const std::vector<MessageEntry> table = {
    };
    return table;
}

}  // namespace tondrel
