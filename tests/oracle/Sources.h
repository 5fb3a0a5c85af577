#pragma once
// Chip facts from sources nobody here wrote, read at test time: avrdude's part data, avr-libc's
// io headers (through avr-gcc) and gputils' PIC headers. The parsers take only what the oracle
// tests compare, and fail loudly rather than guess.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tondrel::oracle {

// ---- avrdude.conf ----

struct AvrdudeMemory {
    std::map<std::string, std::string> Keys;  // key -> value as written (quotes removed)
    std::string Get(const std::string& key) const;
    std::optional<long> Number(const std::string& key) const;
};

struct AvrdudePart {
    std::string Id;
    std::string Parent;
    std::map<std::string, std::string> Keys;
    std::map<std::string, AvrdudeMemory> Memories;
    const AvrdudeMemory* Memory(const std::string& name) const;
    std::string Get(const std::string& key) const;
};

class AvrdudeConf {
  public:
    // Parses the file; false with a reason when it cannot be read.
    bool Load(const std::string& path, std::string& error);
    // The part whose desc is name (letters compared without regard to case), with everything
    // it inherits from its parents filled in.
    std::optional<AvrdudePart> ByDesc(const std::string& name) const;

  private:
    std::optional<AvrdudePart> Resolved(const std::string& id, int depth) const;
    std::map<std::string, AvrdudePart> parts_;  // by id
};

// /etc/avrdude.conf, read once; a file that does not load fails the test that asked.
const AvrdudeConf& InstalledAvrdude();

// Where avrdude's part data leaves out or garbles a command the datasheet gives, the
// datasheet's pattern replaces it (the part is the chip's own, by its Id's description).
void CorrectFromDatasheet(AvrdudePart& part);

// One bit pattern of a serial command: "1010.1100--1010.1000--xxxx.xxxx--iiii.iiii".
struct BitPattern {
    // Per byte (b1..b4), per bit from 7 down to 0: '0', '1', 'x', 'a', 'i', 'o'.
    std::string Bits[4];
    static std::optional<BitPattern> Parse(const std::string& text);
    // True when the first `count` bytes fit every fixed bit (a read's fourth byte is the reply).
    bool Fits(const uint8_t bytes[4], int count = 4) const;
    // Bit mask of the positions marked c in byte n (0-based).
    uint8_t Mask(int n, char c) const;
    // The byte (0-based) that holds the 'i' bits, or -1 (none, or spread over several).
    int ValueByte() const;
};

// ---- avr-libc ----

enum class FuseByte { Low, High, Extended };

struct AvrLibcChip {
    bool Known = false;                                    // avr-gcc knows the device
    int FuseBytes = 0;                                     // FUSE_MEMORY_SIZE
    std::map<FuseByte, std::map<int, std::string>> Fuses;  // byte -> bit -> name
    bool LockBits = false;                                 // __LOCK_BITS_EXIST: LB1, LB2
    int BootLockPairs = 0;  // __BOOT_LOCK_BITS_0/1_EXIST: BLB01/02, BLB11/12
};

// Runs `avr-gcc -mmcu=MCU -E -dD` on <avr/io.h>; error set when the compiler cannot be run.
AvrLibcChip ReadAvrLibc(const std::string& mcu, std::string& error);

// ---- gputils ----

struct PicConfigOption {
    std::string Symbol;  // "_CP_ALL"
    uint16_t Cleared;    // the configuration-word bits this option programs (sets to 0)
};

// The configuration options of one p16fXXX.inc: every _NAME EQU H'xxxx' after _CONFIG.
std::vector<PicConfigOption> ReadGputilsConfig(const std::string& path, std::string& error);

}  // namespace tondrel::oracle
