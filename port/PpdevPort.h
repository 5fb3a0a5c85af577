#pragma once
// The ppdev back end: a parallel port reached through /dev/parportN, claimed while open.
// Needs only read/write access to the device node (group lp on most distributions).
#include <memory>
#include <string>

#include "common/Status.h"
#include "port/PortIo.h"

namespace tondrel {

// Opens and claims `device`; on failure one message naming the device and what to do about it.
// `shadow` keeps copies of the data and control registers.
Result<std::unique_ptr<PortIo>> OpenPpdev(const std::string& device, bool shadow);

// The device node for LPT1..3 (/dev/parport0..2); the empty text for any other number.
std::string PpdevDeviceForLpt(int lpt);

// The device node for a port base: 0x378 -> parport0, 0x278 -> parport1, 0x3BC -> parport2;
// the empty text for any other base.
std::string PpdevDeviceForBase(int base);

}  // namespace tondrel
