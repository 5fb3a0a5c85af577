#pragma once
// A simulated target chip as the adapter sees it: a few lines in, one data line out. Each model
// is written from how the real chip behaves (its datasheet and the maker's programming notes).
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace tondrel::sim {

// Physical levels the adapter presents to the target (true = high).
struct TargetLines {
    bool Connected = false;  // adapter drivers enabled (pin 14 at its active level, low)
    bool Rst = false;        // D1, DB-25 pin 3: AT89S RST, AVR /RESET, PIC MCLR/VPP
    bool Sck = false;        // D0, pin 2: serial clock (PIC: programming clock)
    bool Mosi = false;       // D6, pin 8: data to the chip (PIC: data line, driven side)
    bool Mode = false;       // D2, pin 4: PIC programming-mode line (VDD switch)
    bool operator==(const TargetLines&) const = default;
};

// Faults a test can switch on.
struct ChipFaults {
    // The chip needs each SCK phase (high and low) to last at least this long; a shorter phase
    // makes it latch the wrong level on MOSI (bits arrive wrong when the delay is too short).
    uint64_t MinPhaseNs = 0;
    // Forces the clock the chip runs on (Hz), whatever its configuration selects; 0 = the clock
    // its configuration and its board give it. A chip model that follows its datasheet's
    // serial-clock limits uses it.
    uint32_t ClockHz = 0;
    // The board's clock (Hz): a crystal, or a clock signal for a chip without a crystal
    // oscillator. 0 = a board with whatever clock the chip's factory setting needs.
    uint32_t BoardHz = 0;
    // A program-memory byte address (word address on PIC) that never programs; -1 = none.
    int64_t StuckAddress = -1;
    // So many signature-byte reads still to come back with their low bit flipped, as on a clock
    // the chip only just follows (counted down by the reads, hence mutable).
    mutable uint32_t GarbledSignatureReads = 0;
};

class TargetChip {
  public:
    virtual ~TargetChip() = default;
    // Catalogue name, e.g. "AT89S52", "ATmega16".
    virtual std::string Name() const = 0;
    // Called by the adapter whenever any of the lines changes; nowNs is bench time.
    virtual void SetLines(const TargetLines& lines, uint64_t nowNs) = 0;
    // Level the chip drives on its data-out line at nowNs (MISO; PIC: the data pin).
    virtual bool DataOut(uint64_t nowNs) = 0;
    // Memory image (Flash, EEPROM, fuses, locks, configuration) for the bench's state file.
    virtual void SaveState(std::ostream& out) const = 0;
    // False when the stream does not hold this chip's state; the chip then stays as it was.
    virtual bool LoadState(std::istream& in) = 0;
    // A new chip put on a board with a clock of its own (Faults.BoardHz): its configuration set
    // for that clock, as the board's maker would. Called before any state is loaded.
    virtual void FitToBoard() {}

    ChipFaults Faults;
};

// Builds a simulated chip by catalogue name (case-insensitive); nullptr for an unknown name.
std::unique_ptr<TargetChip> CreateChip(const std::string& name);

}  // namespace tondrel::sim
