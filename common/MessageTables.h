#pragma once
// The message table is kept in one file per area so that each area can grow its own texts;
// Tr() and AllMessages() see them as one table.
#include <vector>

#include "common/Messages.h"

namespace tondrel {

const std::vector<MessageEntry>& DataMessageTable();
const std::vector<MessageEntry>& CoreMessageTable();
const std::vector<MessageEntry>& ConfigMessageTable();
const std::vector<MessageEntry>& GuiMessageTable();

}  // namespace tondrel
