#pragma once
// The PC side of the DB-25 connector, written out once: for every signal pin its register and
// bit, whether the PC's port hardware inverts it, and whether this program drives it or reads
// it. The pin layer, the simulated connector, the port test and the manual all read this table;
// the inversion masks of the control and status registers are derived from it.
#include <array>
#include <cstdint>

namespace tondrel::adapter {

enum class Register : uint8_t { Data = 0, Status = 1, Control = 2 };  // offset from the base
enum class Direction : uint8_t { Output, Input };

struct Pin {
    uint8_t Number;    // DB-25 pin, 1 to 17 (18 to 25 are ground)
    const char* Name;  // the port line's name: "STROBE", "D0", "BUSY", ...
    Register Reg;
    uint8_t Bit;
    bool Inverted;  // the register holds the line's complement
    Direction Dir;

    constexpr uint8_t Mask() const { return static_cast<uint8_t>(1u << Bit); }
};

inline constexpr std::array<Pin, 17> kPins = {{
    {1, "STROBE", Register::Control, 0, true, Direction::Output},
    {2, "D0", Register::Data, 0, false, Direction::Output},
    {3, "D1", Register::Data, 1, false, Direction::Output},
    {4, "D2", Register::Data, 2, false, Direction::Output},
    {5, "D3", Register::Data, 3, false, Direction::Output},
    {6, "D4", Register::Data, 4, false, Direction::Output},
    {7, "D5", Register::Data, 5, false, Direction::Output},
    {8, "D6", Register::Data, 6, false, Direction::Output},
    {9, "D7", Register::Data, 7, false, Direction::Output},
    {10, "ACK", Register::Status, 6, false, Direction::Input},
    {11, "BUSY", Register::Status, 7, true, Direction::Input},
    {12, "PAPER END", Register::Status, 5, false, Direction::Input},
    {13, "SELECT", Register::Status, 4, false, Direction::Input},
    {14, "AUTOFEED", Register::Control, 1, true, Direction::Output},
    {15, "ERROR", Register::Status, 3, false, Direction::Input},
    {16, "INIT", Register::Control, 2, false, Direction::Output},
    {17, "SELECT IN", Register::Control, 3, true, Direction::Output},
}};

// The pin with this number; nullptr for 0, the ground pins and anything else.
constexpr const Pin* FindPin(int number) {
    for (const Pin& p : kPins)
        if (p.Number == number) return &p;
    return nullptr;
}

// The pin's mask in its register; 0 for a number that is no signal pin. (No pointer on the way:
// the sanitizers' null checks would keep this out of constant expressions.)
constexpr uint8_t PinMask(int number) {
    for (const Pin& p : kPins)
        if (p.Number == number) return p.Mask();
    return 0;
}

// The bits of a register that carry pins, and those of them the port inverts.
constexpr uint8_t PinBits(Register reg) {
    uint8_t bits = 0;
    for (const Pin& p : kPins)
        if (p.Reg == reg) bits = static_cast<uint8_t>(bits | p.Mask());
    return bits;
}
constexpr uint8_t InvertedBits(Register reg) {
    uint8_t bits = 0;
    for (const Pin& p : kPins)
        if (p.Reg == reg && p.Inverted) bits = static_cast<uint8_t>(bits | p.Mask());
    return bits;
}

inline constexpr uint8_t kControlInverted = InvertedBits(Register::Control);  // STROBE, AUTOFEED,
                                                                              // SELECT IN
inline constexpr uint8_t kStatusInverted = InvertedBits(Register::Status);    // BUSY
inline constexpr uint8_t kControlPins = PinBits(Register::Control);
inline constexpr uint8_t kStatusPins = PinBits(Register::Status);

// Control bit 5 is no pin: set, it turns the data lines into inputs (the port's bidirectional
// mode), and a read of the data register then gives the lines, not the latch.
inline constexpr uint8_t kControlDataInput = 0x20;

// Register value <-> physical levels of its pins: the same exchange both ways.
constexpr uint8_t FlipInverted(Register reg, uint8_t value) {
    return static_cast<uint8_t>(value ^ InvertedBits(reg));
}

// The physical level of a pin in a register value as the port holds it.
constexpr bool LevelIn(const Pin& pin, uint8_t registerValue) {
    return ((registerValue & pin.Mask()) != 0) != pin.Inverted;
}

}  // namespace tondrel::adapter
