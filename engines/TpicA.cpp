#include "engines/TpicA.h"

namespace tondrel {

void TpicA::EraseChip() {
    SendCommand(kBulkEraseProgram);
    Sleep(10);
    SendCommand(kBeginProgramming);
    Sleep(10);
    SendCommand(kBulkEraseData);
    Sleep(10);
    SendCommand(kBeginProgramming);
    Sleep(10);
}

void TpicA::ForcedErase() {
    SendCommand(kChipErase);
    Sleep(10);
    // A Load Configuration without its data word: the chip takes the clocks of the second Chip
    // Erase as data, so only the first one acts; leaving programming mode ends the frame.
    SendCommand(kLoadConfiguration);
    SendCommand(kChipErase);
    Sleep(10);
}

}  // namespace tondrel
