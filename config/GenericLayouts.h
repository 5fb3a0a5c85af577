#pragma once
// The configuration view of every AVR that has no designed layout, built from the generated
// part data: the lock byte and each fuse byte as groups of avr-libc's bit names, with the same
// commands, polarity, buttons and confirmations as the designed byte layouts.
#include <cstdint>
#include <string_view>
#include <vector>

#include "config/ConfigLayouts.h"

namespace tondrel::config {

// One layout per chip (its ChipNames hold that chip alone), in the part data's order.
const std::vector<LayoutDesc>& GenericLayouts();
// The generic layout of a chip (by name, any case), or nullptr.
const LayoutDesc* FindGenericLayout(std::string_view chip);

}  // namespace tondrel::config
