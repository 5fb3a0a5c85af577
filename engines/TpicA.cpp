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
    // Chip Erase acts with the counter in configuration memory: Load Configuration first, with
    // its data word (DS39589, Chip Erase), then the erase and its cycle.
    LoadConfiguration(kBlankWord);
    SendCommand(kChipErase);
    Sleep(10);
}

}  // namespace tondrel
