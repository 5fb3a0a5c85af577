#pragma once
// Programs built by avr-gcc while the tests run, so that a file is what the compiler of the day
// makes of it; and the tools' presence, for tests that skip without them.
#include <cstdlib>
#include <string>

namespace tondrel::testsupport {

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Code, initialised data (loaded after .text), EEPROM data, fuses for the ATmega16's internal
// 8 MHz RC without JTAG, and lock bits that stop further programming, by avr-libc's macros.
inline constexpr const char* kFusedProgram = R"(#include <avr/io.h>
#include <avr/eeprom.h>
FUSES = { .low = 0xE4, .high = 0xD9 };
LOCKBITS = 0xFE;
uint8_t EEMEM table[5] = {1, 2, 3, 4, 5};
volatile uint8_t ram[3] = {7, 8, 9};
int main(void) { for (;;) PORTB = ram[1] + eeprom_read_byte(&table[1]); }
)";

// Compiles the C file `source` for `mcu` into `elf`; false when avr-gcc failed.
inline bool CompileAvr(const std::string& source, const std::string& mcu, const std::string& elf) {
    const std::string command =
        "avr-gcc -mmcu=" + mcu + " -Os -o '" + elf + "' '" + source + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

}  // namespace tondrel::testsupport

// A test that needs a tool skips, saying so, where the tool is missing.
#define TONDREL_NEED_TOOL(name)                  \
    if (!::tondrel::testsupport::HaveTool(name)) \
    GTEST_SKIP() << name << " not found (scripts/install-deps.sh installs it)"
