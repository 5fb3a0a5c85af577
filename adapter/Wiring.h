#pragma once
// How an adapter joins the connector's pins to the target's programming pins, one record per
// family of adapter wiring. The engines load their pin fields from these, the simulated
// adapter routes data bits to the target's lines by them, and the port test and the manual
// name the pins after them.
#include <array>
#include <cstdint>
#include <optional>

namespace tondrel::adapter {

// What a pin does for the target.
enum class Role : uint8_t { Enable, Reset, Mode, Clock, DataOut, DataIn };
inline constexpr std::array<Role, 6> kRoles = {Role::Enable, Role::Reset,   Role::Mode,
                                               Role::Clock,  Role::DataOut, Role::DataIn};

struct Wiring {
    uint8_t Rst;             // target reset (AT89S RST, AVR /RESET, PIC MCLR/VPP switch)
    uint8_t Sck;             // serial clock (PIC: programming clock)
    uint8_t Mosi;            // data to the chip (PIC: the data pin, driven side)
    uint8_t Miso;            // data from the chip (PIC: the data pin, read side)
    uint8_t Enable;          // the adapter's line drivers
    bool EnableActiveLevel;  // the level that switches the drivers on
    uint8_t Mode;            // PIC supply switch (programming-mode line); 0 = not wired

    // The pin of a role; 0 when this wiring does not use the role.
    constexpr uint8_t PinOf(Role role) const {
        constexpr uint8_t Wiring::*kField[] = {&Wiring::Enable, &Wiring::Rst,  &Wiring::Mode,
                                               &Wiring::Sck,    &Wiring::Mosi, &Wiring::Miso};
        return this->*kField[static_cast<size_t>(role)];
    }
    // The role of a pin, if this wiring uses it.
    constexpr std::optional<Role> RoleOf(int pin) const {
        for (Role r : kRoles)
            if (pin != 0 && PinOf(r) == pin) return r;
        return std::nullopt;
    }
};

// The serial-ISP adapter of the AT89S and AVR chips: D0 clock, D1 reset, D6 data out, BUSY
// data in, the drivers on while AUTOFEED is low.
inline constexpr Wiring kSerialIspWiring{
    .Rst = 3, .Sck = 2, .Mosi = 8, .Miso = 11, .Enable = 14, .EnableActiveLevel = false, .Mode = 0};
// The PIC adapter: the same lines, plus D2 switching the chip's supply for programming mode.
inline constexpr Wiring kPicWiring{
    .Rst = 3, .Sck = 2, .Mosi = 8, .Miso = 11, .Enable = 14, .EnableActiveLevel = false, .Mode = 4};

inline constexpr std::array<const Wiring*, 2> kWirings = {&kSerialIspWiring, &kPicWiring};

// Loads an engine's pin fields, named as every serial engine names them (RstPin, MosiPin,
// MisoPin, SckPin, EnablePin, the two enable levels and, on the PIC engines, ModePin).
template <typename Engine>
void LoadPinFields(const Wiring& w, Engine& e) {
    e.RstPin = w.Rst;
    e.MosiPin = w.Mosi;
    e.MisoPin = w.Miso;
    e.SckPin = w.Sck;
    e.EnablePin = w.Enable;
    e.EnableActiveLevel = w.EnableActiveLevel ? 1 : 0;
    e.EnableIdleLevel = w.EnableActiveLevel ? 0 : 1;
    if constexpr (requires { e.ModePin; }) e.ModePin = w.Mode;
}

}  // namespace tondrel::adapter
