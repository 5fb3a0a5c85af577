#pragma once
// What an "ftdi" port name and a bit-bang pin map say, apart from any device.
#include <cstdint>
#include <string>

#include "common/Status.h"

namespace tondrel::ftdi {

// The vendor and product IDs of the FTDI chips with a bit-bang mode that libftdi1 looks for when
// none is named: FT232R/FT245R, FT2232, FT4232H, FT232H, and the X series (FT231X, FT230X, ...).
inline constexpr const char* kKnownIds = "0403:6001, 0403:6010, 0403:6011, 0403:6014, 0403:6015";

// Which device a port name picks: "ftdi" the first one found, "ftdi:0403:6014" the first with
// these IDs, "ftdi:0403:6001:A9XYZ" the one with that serial number.
struct DeviceChoice {
    int Vendor = 0;  // 0: any of kKnownIds
    int Product = 0;
    std::string Serial;  // empty: any
    // The IDs looked for, as the no-device message names them.
    std::string IdsText() const;
};

Result<DeviceChoice> ParseDeviceName(const std::string& port);

// Bit-bang pins (0 to 7: D0..D7 of the chip's first port; on an FT232R TXD, RXD, RTS, CTS, DTR,
// DSR, DCD, RI). The defaults are those of the common FT232R boards wired for ISP on their
// serial header: SCK on TXD, MISO on RXD, MOSI on RTS, RESET on DTR.
struct PinMap {
    uint8_t Reset = 4;
    uint8_t Sck = 0;
    uint8_t Mosi = 2;
    uint8_t Miso = 1;
    int Buffer = -1;              // a line that switches a level shifter's outputs on; -1: none
    bool BufferActiveLow = true;  // "BUFF=~3": on while low (a 74HC125's /OE); "BUFF=3": while high
    uint8_t Outputs() const;      // the direction mask: every pin but MISO that is used
    bool operator==(const PinMap&) const = default;
};

// "RESET=4,SCK=0,MOSI=2,MISO=1,BUFF=~3" (names in any case, in any order; a pin left out keeps
// its default); "" gives the defaults. Two roles on one pin are refused.
Result<PinMap> ParsePinMap(const std::string& text);

}  // namespace tondrel::ftdi
