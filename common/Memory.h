#pragma once
// The two memories of a chip that the buffers, files and operations deal with.
#include <cstdint>

namespace tondrel {

enum class Memory : uint8_t { Flash, EEPROM };

}  // namespace tondrel
