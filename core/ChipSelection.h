#pragma once
// Choosing the chip: the automatic search over the engines, the chip dialog's choice, and the
// speed remembered for each chip.
#include "common/ChipRecord.h"
#include "common/Status.h"
#include "core/AdapterLink.h"
#include "core/SessionContext.h"

namespace tondrel::core {

class ChipSelection {
  public:
    ChipSelection(SessionContext& s, AdapterLink& link) : s_(s), link_(link) {}

    // Probes the engines in search order; the chip found becomes current.
    Result<ChipRecord> AutoSearch();
    Result<ChipRecord> AutoSearchUnguarded();  // inside an operation that holds the guard
    void Select(const ChipRecord& record);
    void ChoosePort(int lpt);
    // The chip's stored speed becomes the speed bar's.
    void SpeedRead();
    // The speed that worked is stored for the chip.
    void SpeedWrite();

  private:
    Result<ChipRecord> Search();
    void SetSpeedPosition(int32_t position);
    void ChipSelected();

    SessionContext& s_;
    AdapterLink& link_;
};

}  // namespace tondrel::core
