#pragma once
// The "ftdi" port back end: a USB adapter on an FTDI chip in synchronous bit-bang mode. Its set
// has no parallel-port registers (every base reads like an empty connector); it brings the
// serial link the AT89S and AVR engines send their commands over instead.
namespace tondrel::ftdi {

// Registers the back end under "ftdi" and its device list for the port menus; call once before
// opening a port set (again is harmless).
void RegisterFtdiBackEnd();

}  // namespace tondrel::ftdi
