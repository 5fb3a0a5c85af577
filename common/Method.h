#pragma once
// The programming methods: which engine serves a chip, and what that says about its memory.
// The catalogue stores a method as a number (its "芯片编程方法代号" column); only the database
// layer converts, everything else speaks of a Method and asks its traits.
#include <array>
#include <cstdint>
#include <optional>

namespace tondrel {

enum class Method : int8_t {
    None = -1,  // a catalogue row with a code no engine serves: the plain pin layer
    Pic = 0,    // Tpic: PIC16F84A, PIC16F87x, PIC16F627/628
    At89s = 1,  // T89s: AT89S51/52
    At89s53 = 2,
    At89s8252 = 3,
    At89s8253 = 4,
    Avr = 5,   // Tavr
    PicA = 6,  // TpicA: PIC16F87xA
};

struct MethodTraits {
    Method Id;
    int32_t Code;             // the catalogue's number
    const char* EngineClass;  // "Tpic", "T89s", ...
    bool Pic;                 // 14-bit words behind a chip-kept address counter
    bool WordAddressed;       // program memory in 16-bit words, low byte first
    bool HasSignature;        // the engine can read an identification from the chip
    // Program memory blanks as the word 0x3FFF (bytes FF 3F) rather than as 0xFF bytes.
    bool BlankWord3FFF;
};

// The seven engines in the order the automatic search tries them.
inline constexpr std::array<Method, 7> kSearchOrder = {
    Method::Pic,       Method::At89s, Method::At89s53, Method::At89s8252,
    Method::At89s8253, Method::Avr,   Method::PicA};

const MethodTraits& Traits(Method method);
// The catalogue's number for a method (-1 for None) and back; an unknown number is None.
int32_t MethodCode(Method method);
Method MethodFromCode(int64_t code);

inline bool IsPic(Method m) {
    return Traits(m).Pic;
}
inline bool IsWordAddressed(Method m) {
    return Traits(m).WordAddressed;
}

}  // namespace tondrel
