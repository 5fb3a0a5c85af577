#include "engines/TpicA.h"

#include <algorithm>

#include "common/Text.h"

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
    MarkErased();
    return Outcome();
}

bool TpicA::EndsRow(int32_t w) const {
    if (w % kRowWords == kRowWords - 1) return true;
    // The write loop ends at the data end, or with the program memory when the buffer goes on
    // into configuration memory.
    const int32_t end = std::min(Chip().FlashDataEnd, Chip().FlashSize - 1);
    return 2 * w + 1 >= end;
}

Status TpicA::ProgramWord(int32_t w, uint16_t word) {
    // The word waits in its latch (the counter's low three bits chose it) for the rest of its row.
    rowLoaded_ = true;
    lastWord_ = w;
    lastValue_ = word;
    return EndsRow(w) ? CommitRow(w) : Status();
}

Status TpicA::SkipWord(int32_t w) {
    return rowLoaded_ && EndsRow(w) ? CommitRow(w) : Status();
}

Status TpicA::FinishRow() {
    // The counter has moved past the last word loaded but not out of its row, which only ends
    // after its last word was programmed.
    return rowLoaded_ ? CommitRow(-1) : Status();
}

Status TpicA::CommitRow(int32_t w) {
    rowLoaded_ = false;
    // Begin Programming Only leaves cells no latch changes as they are; the latches take the
    // next row's words afterwards.
    ProgramOnlyCycle(ProgramOnlyUs() > 0 ? ProgramOnlyUs() : 1000, true);
    // Only the word under the counter can be read back now; the words before it in the row are
    // for the read-back after the write.
    if (AutoVerify == 0 || w != lastWord_) return {};
    SendCommand(kReadProgram);
    TransferWord();
    if ((RecvWord & kBlankWord) == lastValue_) return {};
    return WriteNeverReadBack(HexText(w, 4), RecvWord & kBlankWord, lastValue_);
}

void TpicA::ForcedErase() {
    // Chip Erase acts with the counter in configuration memory: Load Configuration first, with
    // its data word (DS39589, Chip Erase), then the erase and its cycle.
    LoadConfiguration(kBlankWord);
    SendCommand(kChipErase);
    Sleep(10);
}

}  // namespace tondrel
