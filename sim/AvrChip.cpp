#include "sim/TargetChip.h"

namespace tondrel::sim {

// Placeholder until this family's model lands.
std::unique_ptr<TargetChip> CreateAvrChip(const std::string&) { return nullptr; }

}  // namespace tondrel::sim
