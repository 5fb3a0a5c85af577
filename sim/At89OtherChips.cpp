#include "sim/TargetChip.h"

namespace tondrel::sim {

// Placeholder until this family's model lands.
std::unique_ptr<TargetChip> CreateAt89OtherChip(const std::string&) { return nullptr; }

}  // namespace tondrel::sim
