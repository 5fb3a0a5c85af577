#pragma once
// The adapter's own controller, as the program speaks to it: a five-write handshake that
// carries a control code, the identification request (code 14) and the answers a controller
// gives on status bits 7..3, the loop-back test that recognises the two plain Altera cables,
// and the download modes the adapter can be switched to. The simulated adapter answers from
// the same tables.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "adapter/PinLayer.h"
#include "adapter/Pins.h"

namespace tondrel::adapter {

// ---- handshake ----

// The code of the identification request; also the rest handshake at shut-down.
inline constexpr uint8_t kIdentifyCode = 14;
// The data bytes the controller latches between the control code and the closing control 0.
inline constexpr std::array<uint8_t, 3> kHandshakeData = {0xAC, 0xAA, 0x00};

// Control `code`, data 0xAC, 0xAA, 0x00, control 0, with no delay: the controller latches each.
void SendHandshake(PinLayer& pins, uint8_t code);

// The adapter at rest, as the program leaves it: the handshake with code 14, then the driver
// enable (pin 14) back at its idle level. The handshake's closing control 0 drives pin 14 low,
// the drivers' active level; left there with the data lines low, the adapter would hold the
// target's reset line low after the program ended.
void SendRest(PinLayer& pins);

// ---- identification ----

// The kinds of adapter; the numbers are the ones the program stores (support texts are kept
// under them).
enum class AdapterKind : uint8_t { None = 0, Gen1 = 1, Gen2 = 2, Altera = 3 };

struct AdapterIdentity {
    AdapterKind Kind = AdapterKind::None;
    int Firmware = 0;        // controller firmware 1 or 2 (1.0 / 2.0); 0 without a controller
    std::string_view Cable;  // the Altera cable's name; empty otherwise
};

// What a controller puts on status bits 7..3 (physical levels) after the request.
struct IdentAnswer {
    AdapterKind Kind;
    int Firmware;
    uint8_t Status;
};
inline constexpr uint8_t kIdentMask = kStatusPins;  // bits 2..0 carry no pin
inline constexpr std::array<IdentAnswer, 3> kIdentAnswers = {{
    {AdapterKind::Gen1, 1, 0x00},
    {AdapterKind::Gen1, 2, 0x08},
    {AdapterKind::Gen2, 1, 0xA0},
}};
const IdentAnswer* FindIdentAnswer(AdapterKind kind, int firmware);

// The plain cables have no controller; they loop D7 (pin 9) back to the status lines. The
// levels of pins 12 and 15 with D7 high and with D7 low tell which cable it is.
inline constexpr uint8_t kLoopPin = 9;
inline constexpr uint8_t kLoopMask = PinMask(12) | PinMask(15);
struct CableLoopBack {
    std::string_view Name;
    uint8_t WithD7High;  // status levels & kLoopMask
    uint8_t WithD7Low;
};
inline constexpr std::array<CableLoopBack, 2> kCables = {{
    {"ByteBlaster", PinMask(12), 0x00},
    {"ByteBlasterMV", PinMask(12) | PinMask(15), PinMask(15)},
}};

// The identification request and, when no controller answers, the cable loop-back test, one
// cable after the other (the data lines other than D7 stay at 0 from the request). Kind None
// when nothing answered.
AdapterIdentity Identify(PinLayer& pins);

// ---- download modes ----

struct DownloadMode {
    int Number;           // 1 microcontrollers (this program) ... 7 MSP430
    uint8_t ControlCode;  // the handshake's control code that switches the adapter
    const char* CliName;  // the command line's name (any case)
    // Keys of the stored tool path: a lookup and an update spell some in another letter case.
    const char* LookupKey;
    const char* UpdateKey;
};
inline constexpr std::array<DownloadMode, 7> kDownloadModes = {{
    {1, 1, "MCU", "mcu", "mcu"},
    {2, 1, "ALTERA", "altera", "altera"},
    {3, 3, "XILINX", "xilinx", "xilinx"},
    {4, 8, "LATTICE", "lattice", "lattice"},
    {5, 11, "EPROM3", "EEProm", "eeprom"},
    {6, 10, "ARM", "ARM", "arm"},
    {7, 9, "MSP430", "Msp430", "msp430"},
}};
// nullptr for a number or name no mode has.
const DownloadMode* FindMode(int number);
const DownloadMode* FindModeByName(std::string_view name);

// The mode's handshake; an unknown mode only leaves data and control at 0.
void SendModeCommand(PinLayer& pins, int mode);

}  // namespace tondrel::adapter
