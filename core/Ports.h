#pragma once
// The port back ends a session drives, chosen once at start: a real port through ppdev or
// direct I/O, or the simulated bench. Every base address the session asks for gets a PortIo;
// a base with nothing behind it reads like an empty connector, as a real PC would.
//
// A back end is registered under the prefix --port names it by ("ppdev", "direct", "sim"): a
// factory for its port set and a check of the name. ppdev and direct are built in; the front
// ends register the simulated bench (and any other back end) before they open a port set.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/Status.h"
#include "engines/SerialLink.h"
#include "port/Clock.h"
#include "port/Lpt.h"
#include "port/PortIo.h"

namespace tondrel::sim {
class Bench;
}

namespace tondrel::core {

using tondrel::BaseForLpt;
using tondrel::LptForBase;

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
    // The bit-bang pins of a USB adapter ("RESET=4,SCK=0,MOSI=2,MISO=1"); "" = the defaults.
    std::string PinMap;
};

class PortSet {
  public:
    // The set the back end named by options.Port opens, or why it cannot be opened (the
    // device and the fix).
    static Result<std::unique_ptr<PortSet>> Open(const PortOptions& options);
    virtual ~PortSet() = default;

    // The port at base (0x378, 0x278, 0x3BC); never null.
    virtual PortIo& At(int32_t base) = 0;
    virtual Clock& GetClock() = 0;
    // "ppdev /dev/parport0", "direct I/O 0x378", "simulated bench sim:ATmega16@gen2".
    virtual std::string Describe() const = 0;
    virtual bool Simulated() const = 0;
    // True when the bench stands in because no real port could be opened; FallBackReason()
    // then says why the real port could not be.
    bool FellBack() const { return !fallBackReason_.Empty(); }
    const Message& FallBackReason() const { return fallBackReason_; }
    // The bench behind a simulated set, else nullptr.
    virtual sim::Bench* GetBench() { return nullptr; }
    // The base the adapter (or bench) is wired to.
    virtual int32_t HomeBase() const = 0;
    // True for a set opened on a device or base the user named (ppdev:/dev/parportN,
    // direct:0xBASE): its home is the run's port, whatever LPT the settings hold.
    virtual bool NamedBase() const { return false; }
    // The first port failure since the last call (naming the device), then cleared.
    virtual Status TakeError() { return {}; }
    // Saves the simulated chip state when one was asked for.
    virtual Status Close() = 0;
    // The LPT stored in the settings, told by the session once it has read them. A set opened
    // with Lpt 0 ("the stored choice") moves its home there, so a simulated bench sits on the
    // port the session will use; a set opened for an explicit LPT or base ignores it.
    virtual void FollowStoredLpt(int lpt) { (void)lpt; }
    // The link the serial engines send their commands over, where the set brings its own (a USB
    // bit-bang adapter, which has no parallel-port registers: At gives an empty connector there);
    // nullptr: they bit-bang the port at the home base.
    virtual SerialLink* Link() { return nullptr; }

  private:
    Message fallBackReason_;
};

struct PortBackEnd {
    // The --port text "Prefix" or "Prefix:anything" belongs to this back end.
    std::string Prefix;
    // Opens the set for options whose Port belongs to this back end.
    std::function<Result<std::unique_ptr<PortSet>>(const PortOptions&)> Open;
    // Whether such a --port text names a port at all; says nothing about the device.
    std::function<Status(const std::string& port)> CheckName;
};

struct PortChoice {
    std::string Port;         // the --port text that opens it
    std::string Description;  // what it is, for a person
};

// A back end that can list the devices of its kind the machine has now (for a menu) registers
// the lister under its prefix; ListPorts asks every one.
void RegisterPortLister(const std::string& prefix, std::function<std::vector<PortChoice>()> list);
std::vector<PortChoice> ListPorts();

// A connector with nothing plugged in: every status line floats high, writes go nowhere.
std::unique_ptr<PortIo> MakeEmptyPort();

// Adds a back end, or replaces the one of the same prefix (so registering twice is harmless).
void RegisterPortBackEnd(PortBackEnd backEnd);

// Whether a --port text names a port at all (a registered back end, a known form, a base that is
// a number); the reason when not. Says nothing about whether the device can be opened.
Status CheckPortName(const std::string& port);

}  // namespace tondrel::core
