#pragma once
// Tpro: the parallel-port pin layer and the engine interface of thirteen operations that every
// chip-family engine overrides, plus the PIC configuration operations. A plain Tpro is a working
// pin layer whose operations do nothing. Operations return a Status (or a value or a Status), so
// a failure is known where it happens.
#include <cstdint>
#include <functional>
#include <string>

#include "adapter/PinLayer.h"
#include "common/ChipRecord.h"
#include "common/Status.h"
#include "port/Clock.h"
#include "port/PortIo.h"

namespace tondrel {

class SerialLink;

// What an engine works with: the port back end, the clock and the current chip record. Owned by
// whoever owns the session; the port may be swapped (another LPT, another back end) between
// operations.
struct EngineEnv {
    PortIo* Io = nullptr;
    Clock* Clk = nullptr;
    const CurrentChip* Chip = nullptr;
    // The link the serial engines send their commands over when the port set brings its own (a
    // USB bit-bang adapter); null: they bit-bang Io.
    SerialLink* Link = nullptr;
};

// The pin layer (SetPortBase, ReadStatusPort, WriteDataPort, WriteControlPort, SetPin, GetPin and
// the three register addresses) is the adapter's; Tpro adds the engine interface over it.
class Tpro : public adapter::PinLayer {
  public:
    explicit Tpro(EngineEnv& env) : PinLayer(env.Io), env_(env) {}
    ~Tpro() override = default;
    Tpro(const Tpro&) = delete;
    Tpro& operator=(const Tpro&) = delete;

    // ---- engine interface, in slot order ----
    // A plain Tpro does nothing: its operations say so ("EngineNotSupported"), and it reads the
    // empty signature of an engine that reads none. Every operation of a real engine ends by
    // asking the port: when an access failed meanwhile, the port's failure is the outcome.
    virtual Result<std::string> ReadSignature() { return std::string(); }        // 0
    virtual Status EnterProgramming() { return NotSupported(); }                 // 1
    virtual Status LeaveProgramming() { return NotSupported(); }                 // 2
    virtual Status EraseChip() { return NotSupported(); }                        // 3
    virtual void InitPinMap() {}                                                 // 4
    virtual Status WriteFlashByte(int32_t, uint8_t) { return NotSupported(); }   // 5
    virtual Result<uint8_t> ReadFlashByte(int32_t) { return NotSupported(); }    // 6
    virtual Status WriteEepromByte(int32_t, uint8_t) { return NotSupported(); }  // 7
    virtual Result<uint8_t> ReadEepromByte(int32_t) { return NotSupported(); }   // 8
    virtual Result<uint16_t> RawCommand(uint8_t, uint8_t, uint8_t, uint8_t) {    // 9
        return NotSupported();
    }
    virtual void SetAutoVerify(bool) {}   // 10
    virtual void SetWriteBlank(bool) {}   // 11
    virtual void SetBitDelay(int32_t) {}  // 12

    // PIC configuration memory, each a whole programming session of its own. Index 0 to 3 are
    // the user IDs (words 0x2000 to 0x2003), 7 the configuration word. EraseEverything wipes
    // program memory, data memory and configuration whatever the code protection says.
    virtual Result<uint16_t> ReadConfigWord(int) { return NotSupported(); }
    virtual Status WriteConfigWord(int, uint16_t) { return NotSupported(); }
    virtual Status EraseEverything() { return NotSupported(); }

    // The bit delay the engine last worked at: the serial engines slow down by themselves for a
    // chip that misreads the clock. -1 for an engine that only keeps what SetBitDelay gave.
    virtual int32_t WorkingBitDelay() const { return -1; }

    // Class name as the catalogue's method code names it ("Tpro", "T89s", "Tavr", ...).
    virtual const char* ClassName() const { return "Tpro"; }

    std::string LastSignature;

  protected:
    static Status NotSupported() { return Status::Error("EngineNotSupported"); }
    // The first port access that failed since the last look, as the port's own status; fine
    // when every access worked. The only place an engine learns of a port failure.
    Status PortStatus();
    // What an operation returns: `own`, unless the port failed meanwhile, which then is the cause
    // of whatever else went wrong.
    Status Outcome(Status own = {});
    template <typename T>
    Result<T> Outcome(T value) {
        if (Status port = PortStatus(); !port) return port;
        return value;
    }

    // The wait after a clock edge: the speed is the clock phase in nanoseconds, of which the
    // edge's own port access takes one microsecond; none at or below that.
    void BitDelayCountdown(int32_t bitDelay);
    // The read-back poll: true as soon as `matches` does, false once more than 1000 ms passed.
    bool PollReadBack(const std::function<bool()>& matches);
    // Why a written value never read back, from what the location held at the end: bits still 1
    // come from a slow or absent chip, but bits at 0 that the value wants at 1 only stay so on
    // a location that was not erased, since programming only clears bits.
    static Status WriteNeverReadBack(const std::string& address, uint32_t got, uint32_t want);
    void Sleep(uint32_t ms);
    Clock& Clk() { return *env_.Clk; }
    const CurrentChip& Chip() const { return *env_.Chip; }

    EngineEnv& env_;

  private:
    Status portFailure_;  // taken from the port by a poll, for the operation's outcome
};

}  // namespace tondrel
