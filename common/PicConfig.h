#pragma once
// What a PIC16's configuration word means to the programmer, from the programming
// specifications and gputils' headers: which bits the chip implements (the others read back 1),
// which of them protect program and data memory, and how the chip is erased.
#include <cstdint>
#include <string_view>

namespace tondrel {

enum class PicErase : uint8_t {
    SetupSequence,  // 16F87x (DS39025): commands 1 and 7 around Begin Programming
    Bulk,           // 16F84A (DS30262), 16F628 (DS30034): Bulk Erase Program / Data Memory
    BulkAndChip,    // 16F87xA (DS39589): bulk erase, and Chip Erase for a protected chip
};

struct PicConfigFacts {
    const char* Name;
    uint16_t Implemented;  // bits the configuration word holds
    uint16_t CodeProtect;  // all 1: program memory readable
    uint16_t DataProtect;  // CPD; 0 = data memory is never protected on its own
    PicErase Erase;
    // Begin Programming Only on program memory that an erase left blank: how long it runs
    // (internally timed, or before End Programming on the 16F87xA); 0 = the erase/program cycle
    // every time.
    uint16_t ProgramOnlyUs;
};

// Nothing for a name that is not a PIC of the catalogue (any case).
const PicConfigFacts* FindPicConfig(std::string_view name);

inline bool CodeProtected(const PicConfigFacts& f, uint16_t word) {
    return (word & f.CodeProtect) != f.CodeProtect;
}
inline bool DataProtected(const PicConfigFacts& f, uint16_t word) {
    return f.DataProtect != 0 && (word & f.DataProtect) == 0;
}

}  // namespace tondrel
