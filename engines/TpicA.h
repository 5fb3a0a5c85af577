#pragma once
// TpicA: the PIC16F87xA chips, which erase with the bulk-erase and chip-erase commands instead of
// the older command 1/7 sequences, and write program memory through eight latches: an erase/program
// cycle there rewrites the whole 8-word block, so program words go in with Begin Programming Only
// and End Programming instead.
#include "engines/Tpic.h"

namespace tondrel {

class TpicA final : public PicEngine {
  public:
    using PicEngine::PicEngine;
    void EraseChip() override;
    const char* ClassName() const override { return "TpicA"; }

    // TPROG2, the erase/program cycle of configuration and data memory.
    static constexpr uint32_t kEraseProgramMs = 10;
    // TPROG1, the least time between Begin Programming Only and End Programming.
    static constexpr uint32_t kProgramOnlyMs = 1;

  protected:
    void ForcedErase() override;
    uint32_t EraseProgramMs() const override { return kEraseProgramMs; }
    void ProgramLoadedWord() override;
};

}  // namespace tondrel
