#include "common/MessageTables.h"

namespace tondrel {

// Texts of the session: start-up, detection, search, operations, download modes. Key, Chinese, English, used exactly as the program shows them.
const std::vector<MessageEntry>& CoreMessageTable() {
    static const std::vector<MessageEntry> table = {
    };
    return table;
}

}  // namespace tondrel
