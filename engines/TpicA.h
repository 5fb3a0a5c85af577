#pragma once
// TpicA: the PIC16F87xA chips, which erase with the bulk-erase and chip-erase commands instead of
// the older command 1/7 sequences, and write program memory through eight latches: each 8-word row
// (the words whose addresses differ in the low three bits) is loaded word by word and programmed by
// one Begin Programming Only and End Programming. An erase/program cycle there would rewrite the
// whole row, so program words never take one.
#include "engines/Tpic.h"

namespace tondrel {

class TpicA final : public PicEngine {
  public:
    // TPROG2, the erase/program cycle of configuration and data memory, where the chip record
    // does not give it.
    explicit TpicA(EngineEnv& env) : PicEngine(env, 10) {}
    const char* ClassName() const override { return "TpicA"; }
    Status EraseChip() override;

    static constexpr int32_t kRowWords = 8;

  private:
    void ForcedErase() override;
    Status ProgramWord(int32_t w, uint16_t word) override;
    Status SkipWord(int32_t w) override;
    Status FinishRow() override;
    // The last word of its row, or of the program the write goes through.
    bool EndsRow(int32_t w) const;
    // Programs the row the counter is in; `w` is the word under the counter.
    Status CommitRow(int32_t w);

    bool rowLoaded_ = false;  // a word of the current row is in the latches
    int32_t lastWord_ = -1;   // the last word loaded, and its value
    uint16_t lastValue_ = 0;
};

}  // namespace tondrel
