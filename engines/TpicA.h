#pragma once
// TpicA: the PIC16F87xA chips, which erase with the bulk-erase and chip-erase commands instead of
// the older command 1/7 sequences, and write program memory through eight latches: an erase/program
// cycle there rewrites the whole 8-word block, so program words go in with Begin Programming Only
// and End Programming instead.
#include "engines/Tpic.h"

namespace tondrel {

class TpicA final : public PicEngine {
  public:
    // TPROG2, the erase/program cycle of configuration and data memory, where the chip record
    // does not give it.
    explicit TpicA(EngineEnv& env) : PicEngine(env, 10) {}
    const char* ClassName() const override { return "TpicA"; }
    Status EraseChip() override;

  private:
    // TPROG1, the least time between Begin Programming Only and End Programming.
    static constexpr uint32_t kProgramOnlyMs = 1;

    void ForcedErase() override;
    void ProgramLoadedWord() override;
};

}  // namespace tondrel
