#pragma once
// The direct back end: inb/outb on the port's real I/O addresses after ioperm (x86 Linux only).
// The fastest path, but it needs root or the CAP_SYS_RAWIO capability.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/Status.h"
#include "port/PortIo.h"

namespace tondrel {

// The permission call, as ioperm(2): from, count, turn_on -> 0 or -1 with errno set.
using IopermFunction = std::function<int(unsigned long, unsigned long, int)>;

// Gains access to base..base+2 and returns the port; otherwise one message naming the
// addresses and the fix. `ioperm` replaces the system call (tests make it refuse).
Result<std::unique_ptr<PortIo>> OpenDirect(uint16_t base, bool shadow, IopermFunction ioperm = {});

// Whether `base` may be driven: one of the three LPT bases, or a base that `ioports` (the text
// of /proc/ioports) lists for a parallel port (a PCI or PCIe card). Anything else, a keyboard
// controller or the PCI configuration registers, is refused naming what the system has there.
Status CheckDirectBase(uint16_t base, const std::string& ioports);

// True when this build can do direct port I/O at all (x86 and x86-64).
bool DirectIoSupported();

}  // namespace tondrel
