#include "common/MessageTables.h"

namespace tondrel {

// Texts of the configuration-bit dialogs. Key, Chinese, English, used exactly as the program shows them.
const std::vector<MessageEntry>& ConfigMessageTable() {
    static const std::vector<MessageEntry> table = {
    };
    return table;
}

}  // namespace tondrel
