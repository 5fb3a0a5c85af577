#pragma once
// TpicA: the PIC16F87xA chips, which erase with the bulk-erase and chip-erase commands instead of
// the older command 1/7 sequences.
#include "engines/Tpic.h"

namespace tondrel {

class TpicA final : public PicEngine {
  public:
    using PicEngine::PicEngine;
    void EraseChip() override;
    const char* ClassName() const override { return "TpicA"; }

  protected:
    void ForcedErase() override;
};

}  // namespace tondrel
