#pragma once
// The simulated bench: a PC parallel-port connector with an adapter (or a plain cable, or
// nothing) plugged in, and a simulated chip on the adapter's target lines.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/Status.h"
#include "port/Clock.h"
#include "sim/TargetChip.h"

namespace tondrel::sim {

enum class AdapterKind {
    Gen1Fw1,        // generation one, controller firmware 1.0
    Gen1Fw2,        // generation one, controller firmware 2.0
    Gen2,           // generation two
    ByteBlaster,    // Altera cable without controller: pin 12 loops back D7
    ByteBlasterMV,  // as ByteBlaster, and pin 15 held high
    Nothing,        // nothing plugged in: every status line floats high
};

struct BenchOptions {
    AdapterKind Adapter = AdapterKind::Gen2;
    std::string ChipName;           // catalogue name for CreateChip; empty = adapter with no chip
    std::string StateFile;          // loaded at construction when it exists, saved by SaveState()
    std::optional<bool> MisoStuck;  // fault: the data-in line stuck high (true) or low (false)
    ChipFaults Faults;              // copied into the chip
    // Someone beside the bench with so many more fresh chips of the same kind: a chip the adapter
    // programmed is taken out once the adapter has let go of it for a while (kTakeOutMs), and
    // the next fresh one is put in a while later (kPutInMs). "@swapN" in a bench name.
    int SpareChips = 0;
};

inline constexpr uint32_t kTakeOutMs = 300;
inline constexpr uint32_t kPutInMs = 1000;

class Bench {
  public:
    // Never throws: an unknown chip or an unusable state file is told by Error().
    Bench(Clock& clock, BenchOptions options);
    // With a chip model of the caller's own (options.ChipName is then ignored); for tests that
    // need a probe or a model the factory does not know.
    Bench(Clock& clock, BenchOptions options, std::unique_ptr<TargetChip> chip);
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Registers exactly as a PC parallel port presents them to a ppdev client.
    uint8_t ReadData();
    void WriteData(uint8_t value);
    // Bits 7..3 from pins 11 (inverted), 10, 12, 13, 15; bits 2..0 read 1.
    uint8_t ReadStatus();
    // Bits 0..3 only, as written (the port keeps the inversions of bits 0, 1 and 3).
    uint8_t ReadControl();
    // Bits 0..3 drive pins 1, 14, 16, 17; bit 5 set turns the data lines into inputs.
    void WriteControl(uint8_t value);
    // Reverse = data lines are inputs; reading the data register then gives the floating lines.
    void SetDataReverse(bool reverse);

    TargetChip* Chip();
    int DownloadMode() const;      // mode code of the last mode command (0 = none yet)
    bool TargetConnected() const;  // enable pin 14 at its active (low) level
    Status SaveState();            // writes the chip memory to StateFile
    // Lets another run take the state file (after the last SaveState of this one).
    void ReleaseState();
    const Status& Error() const;  // fine when the bench was built as asked
    std::string Name() const;     // "sim:AT89S52@gen2", "sim:none", ...
    const BenchOptions& Options() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "sim:ATmega16", "sim:ATmega16@swap4" (four more fresh chips put in one after another),
// "sim:AT89S52@gen1" (@gen1 = generation one firmware 1.0, @gen1v2 = firmware
// 2.0, @gen2 the default), "sim:empty" (adapter, no chip), "sim:none" (nothing connected),
// "sim:byteblaster", "sim:byteblastermv", the board's clock as in "sim:ATmega16@16MHz" (a 16 MHz
// crystal; a new chip on it has its fuses set for it). Keywords are case-insensitive. Sets the
// adapter, the chip and its board's clock; the rest stays at its default.
Result<BenchOptions> ParseBenchName(const std::string& text);

}  // namespace tondrel::sim
