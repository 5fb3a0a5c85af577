#pragma once
// What an AVR's clock fuses select, from the datasheets' "Device Clocking Options" tables: the
// source after the next reset, the frequency of the internal ones, and whether the chip needs a
// clock from its board to run at all. The simulated chips run on it and the configuration forms
// classify and describe a fuse write with it, so the two read the fuses the same way.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/AvrPartData.h"

namespace tondrel {

enum class AvrClockKind : uint8_t {
    ExternalClock,  // a clock signal on XTAL1/CLKI
    InternalRc,     // the calibrated internal RC oscillator
    InternalSlow,   // the 128 kHz watchdog / ultra-low-power oscillator
    Pll,            // the internal PLL (ATtiny25/45/85, 261/461/861, ATtiny26, AT90PWM)
    ExternalRc,     // an RC network on XTAL1
    SlowCrystal,    // a 32.768 kHz watch crystal
    Crystal,        // a crystal or ceramic resonator
    Reserved,       // a code the datasheet reserves
};

// The datasheet table a chip's clock fuses follow.
enum class AvrClockScheme : uint8_t {
    None,        // no clock fuses (AT90S, ATtiny22, ATmega103): the board's crystal
    Ckopt,       // ATmega8/16/32/64/128/8515/8535 and A variants, ATtiny26: CKSEL3..0 with CKOPT
    Mega163,     // ATmega163/323
    Mega161,     // ATmega161: crystal or external clock only
    Tiny12,      // ATtiny12
    Tiny15,      // ATtiny15: the internal 1.6 MHz oscillator whatever CKSEL says
    Tiny13,      // ATtiny13/13A: two CKSEL bits, no crystal oscillator
    Tiny48,      // ATtiny48/88: two CKSEL bits, no crystal oscillator
    Tiny828,     // ATtiny828: two CKSEL bits, no crystal oscillator, 32 kHz ULP
    Tiny25,      // ATtiny25/45/85
    Tiny24,      // ATtiny24/44/84 (A), ATtiny43U
    Tiny261,     // ATtiny261/461/861 (A), ATtiny87/167
    Tiny2313,    // ATtiny2313 (A), ATtiny4313
    TinyUlp,     // ATtiny441/841/1634
    Classic,     // AT90CAN, ATmega162: CKDIV8, a watch crystal at 0111-0100, no 128 kHz
    ClassicLcd,  // ATmega165/169/325/329/645/649 and kin: the watch crystal at 0111-0110
    Usb,         // AT90USB82/162, ATmega8U2/16U2/32U2
    Psc,         // AT90PWM, ATmega16M1/32M1/64M1, 32C1/64C1
    Modern,      // ATmega48..328, 164..1284, 640..2561, USB646/1286, xU4, RF chips
};

struct AvrClockSource {
    AvrClockKind Kind = AvrClockKind::Reserved;
    uint32_t Hz = 0;    // the internal oscillator's frequency (before CKDIV8); 0 = the board's
    std::string Words;  // the datasheet's words: "internal 8 MHz RC", "external clock on XTAL1"
};

AvrClockScheme ClockSchemeOf(const AvrPartData& part);
// The CKSEL code in a low fuse byte and its width in bits; nothing for a chip without one.
std::optional<uint8_t> CkselOf(const AvrPartData& part, uint8_t low, int* width = nullptr);
// Every CKSEL code of the chip with what it selects, in code order.
std::vector<std::pair<uint8_t, AvrClockSource>> CkselTable(const AvrPartData& part);
// What the fuses select; nothing for a chip without clock fuses.
std::optional<AvrClockSource> ClockOf(const AvrPartData& part, uint8_t low, uint8_t high);
// CKDIV8 programmed: the clock runs divided by eight.
bool DividedByEight(const AvrPartData& part, uint8_t low);
// True for a source that runs only on a clock or crystal the board provides.
bool NeedsBoardClock(AvrClockKind kind);
// True for a source slower than the serial interface usually runs (a 128 kHz or 32 kHz one).
bool IsSlowSource(const AvrClockSource& source);
// The chip has an oscillator for a crystal (the others take a board's clock on CLKI).
bool HasCrystalOscillator(const AvrPartData& part);

// The clock a board offers a chip: a crystal on XTAL1/XTAL2, or a clock signal on XTAL1.
struct BoardClock {
    uint32_t Hz = 0;  // 0 = nothing
    bool Crystal = true;
};

// How the chip runs after a reset with these fuses on that board: its clock in Hz, 0 when it
// runs on a clock whose frequency is not known (no limit to the serial clock), nothing when it
// has no clock at all and so does not run.
std::optional<uint32_t> RunningClock(const AvrPartData& part, uint8_t low, uint8_t high,
                                     const BoardClock& board);
// The board a chip's factory setting needs: the clock its factory fuses select (8 MHz, or a
// 32.768 kHz crystal), nothing for one that leaves the factory on an internal oscillator.
BoardClock FactoryBoard(const AvrPartData& part);
// Sets the clock fuses of a chip on a board with that clock, as a board's maker would: the
// crystal at its slowest start-up (or, without a crystal oscillator, the external clock), CKDIV8
// not programmed. Other bits keep their values.
void FitFusesToBoard(const AvrPartData& part, const BoardClock& board, uint8_t& low, uint8_t& high);

}  // namespace tondrel
