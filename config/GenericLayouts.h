#pragma once
// The configuration view of every AVR that has no designed layout, built from the generated
// part data: the lock byte and each fuse byte as groups of avr-libc's bit names, with the same
// commands, polarity, buttons and confirmations as the designed byte layouts.
#include <cstdint>
#include <vector>

#include "config/ConfigLayouts.h"

namespace tondrel::config {

// One layout per chip (its ChipIds hold that chip alone), in chip id order.
const std::vector<LayoutDesc>& GenericLayouts();
// The generic layout of a catalogue key, or nullptr.
const LayoutDesc* FindGenericLayout(int32_t chipId);

}  // namespace tondrel::config
