#pragma once
// Tpro: the parallel-port pin layer and the engine interface of thirteen operations that every
// chip-family engine overrides. A plain Tpro is a working pin layer whose operations do nothing.
#include <cstdint>
#include <functional>
#include <string>

#include "adapter/PinLayer.h"
#include "common/ChipRecord.h"
#include "port/Clock.h"
#include "port/PortIo.h"

namespace tondrel {

// What an engine works with: the port back end, the clock and the current chip record. Owned by
// whoever owns the session; the port may be swapped (another LPT, another back end) between
// operations.
struct EngineEnv {
    PortIo* Io = nullptr;
    Clock* Clk = nullptr;
    const CurrentChip* Chip = nullptr;
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
    virtual void ReadSignature(std::string& text) { (void)text; }         // 0
    virtual bool EnterProgramming() { return false; }                     // 1
    virtual bool LeaveProgramming() { return false; }                     // 2
    virtual void EraseChip() {}                                           // 3
    virtual void InitPinMap() {}                                          // 4
    virtual bool WriteFlashByte(int32_t address, uint8_t value) {         // 5
        (void)address, (void)value;
        return false;
    }
    virtual uint8_t ReadFlashByte(int32_t address) {                      // 6
        (void)address;
        return 0;
    }
    virtual bool WriteEepromByte(int32_t address, uint8_t value) {        // 7
        (void)address, (void)value;
        return true;
    }
    virtual uint8_t ReadEepromByte(int32_t address) {                     // 8
        (void)address;
        return 0;
    }
    virtual uint16_t RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {  // 9
        (void)b1, (void)b2, (void)b3, (void)b4;
        return 0;
    }
    virtual void SetAutoVerify(bool on) { (void)on; }                     // 10
    virtual void SetWriteBlank(bool on) { (void)on; }                     // 11
    virtual void SetBitDelay(int32_t count) { (void)count; }              // 12

    // The bit delay the engine last worked at: the serial engines slow down by themselves for a
    // chip that misreads the clock. -1 for an engine that only keeps what SetBitDelay gave.
    virtual int32_t WorkingBitDelay() const { return -1; }

    // Class name as the catalogue's method code names it ("Tpro", "T89s", "Tavr", ...).
    virtual const char* ClassName() const { return "Tpro"; }

    std::string LastSignature;

protected:
    // The bit-delay countdown after a clock edge: BitDelay + 1 iterations, none when negative.
    void BitDelayCountdown(int32_t bitDelay);
    // The read-back poll: true as soon as `matches` does, false once more than 1000 ms passed.
    bool PollReadBack(const std::function<bool()>& matches);
    void Sleep(uint32_t ms);
    Clock& Clk() { return *env_.Clk; }
    const CurrentChip& Chip() const { return *env_.Chip; }

    EngineEnv& env_;
};

}  // namespace tondrel
