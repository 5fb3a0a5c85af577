#include "sim/TargetChip.h"

namespace tondrel::sim {

// Placeholder until this family's model lands.
std::unique_ptr<TargetChip> CreatePicChip(const std::string&) { return nullptr; }

}  // namespace tondrel::sim
