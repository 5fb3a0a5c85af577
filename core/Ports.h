#pragma once
// The port back ends a session drives, chosen once at start: a real port through ppdev or
// direct I/O, or the simulated bench. Every base address the session asks for gets a PortIo;
// a base with nothing behind it reads like an empty connector, as a real PC would.
#include <cstdint>
#include <memory>
#include <string>

#include "port/Clock.h"
#include "port/PortIo.h"

namespace tondrel::sim {
class Bench;
}

namespace tondrel::core {

struct PortOptions {
    // "" (the default: ppdev for the chosen LPT), "ppdev", "ppdev:/dev/parportN", "direct",
    // "direct:0x378", or a bench name ("sim:ATmega16", "sim:none", "sim:byteblaster", ...).
    std::string Port;
    // The LPT the bench or a real port is wired to (1 to 3); 0 = the stored choice.
    int Lpt = 0;
    // Simulated chip memory kept between runs: loaded at open, saved by Close().
    std::string SimState;
    // Where no real port can be opened and no port was asked for: run on a simulated bench with
    // an ATmega16 instead of failing (the window does this and says so; the command line never).
    bool FallBackToBench = false;
    bool Shadow = true;
};

class PortSet {
  public:
    // nullptr with one message in error naming the device and the fix.
    static std::unique_ptr<PortSet> Open(const PortOptions& options, std::string& error);
    virtual ~PortSet() = default;

    // The port at base (0x378, 0x278, 0x3BC); never null.
    virtual PortIo& At(int32_t base) = 0;
    virtual Clock& GetClock() = 0;
    // "ppdev /dev/parport0", "direct I/O 0x378", "simulated bench sim:ATmega16@gen2".
    virtual std::string Describe() const = 0;
    virtual bool Simulated() const = 0;
    // True when the bench stands in because no real port could be opened; Describe() then
    // says why in FallBackReason().
    virtual bool FellBack() const { return false; }
    virtual std::string FallBackReason() const { return {}; }
    // The bench behind a simulated set, else nullptr.
    virtual sim::Bench* GetBench() { return nullptr; }
    // The base the adapter (or bench) is wired to.
    virtual int32_t HomeBase() const = 0;
    // The first port failure since the last call (naming the device), then cleared.
    virtual std::string TakeError() { return {}; }
    // Saves the simulated chip state when one was asked for; false with a message on failure.
    virtual bool Close(std::string& error) = 0;
    // The LPT stored in the settings, told by the session once it has read them. A set opened
    // with Lpt 0 ("the stored choice") moves its home there, so a simulated bench sits on the
    // port the session will use; a set opened for an explicit LPT or base ignores it.
    virtual void FollowStoredLpt(int lpt) { (void)lpt; }
};

// Whether a --port text names a port at all (a known form, a known bench, a base that is a
// number); false with the reason. Says nothing about whether the device can be opened.
bool CheckPortName(const std::string& port, std::string& error);

// 1 -> 0x378, 2 -> 0x278, 3 -> 0x3BC; 0 for anything else.
int32_t BaseForLpt(int lpt);
int LptForBase(int32_t base);

}  // namespace tondrel::core
