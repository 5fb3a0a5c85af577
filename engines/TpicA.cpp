#include "engines/TpicA.h"

namespace tondrel {

Status TpicA::EraseChip() {
    SendCommand(kBulkEraseProgram);
    Sleep(10);
    SendCommand(kBeginProgramming);
    Sleep(10);
    SendCommand(kBulkEraseData);
    Sleep(10);
    SendCommand(kBeginProgramming);
    Sleep(10);
    return Outcome();
}

void TpicA::ProgramLoadedWord() {
    // Begin Programming Only writes the latched word into its block without erasing the seven
    // others; it runs until End Programming, at least TPROG1, and the line needs a moment to
    // discharge after it.
    SendCommand(kBeginProgrammingOnly);
    Sleep(kProgramOnlyMs);
    SendCommand(kEndProgramming);
    Sleep(1);
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
