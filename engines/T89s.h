#pragma once
// The AT89S engines: one serial engine for the AT89S51/52, AT89S53, AT89S8252 and AT89S8253,
// driven by a record of what differs between the chips (command length, the address form of
// the memory commands, the erase opcode, the waits, the enable check, the data EEPROM). The
// four classes the catalogue's method codes name construct it with their chip's record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engines/SerialIsp.h"

namespace tondrel {

// How a memory command carries its address and operation.
enum class At89AddressForm : uint8_t {
    // 0x40 write / 0x20 read, then address bits 15..8 and 7..0, then the data (four bytes).
    HighLow,
    // First byte: bits 7..3 = address bits 12..8, bit 2 = address bit 13, then 10 for a write
    // or 01 for a read; second byte address bits 7..0; third the data.
    A13InBit2,
    // First byte: address bits 12..8 shifted left by 3 (kept to a byte), or'ed with a three-bit
    // operation code; second byte address bits 7..0; third the data.
    OpCodeInBits2to0,
};

struct At89Variant {
    const char* ClassName;
    size_t FrameLength;  // bytes per command: 4 or 3; RawCommand sends as many
    At89AddressForm Form;
    uint8_t Erase2;  // second byte of the chip erase 0xAC xx
    // The power-up: drivers on, `SettleMs`, lines low, 1 ms, RST high, `ResetMs` (the
    // datasheets' 10 ms for the oscillator after RST goes high). The release: RST low, drivers
    // off, `ReleaseMs`: the chip runs at once, nothing waits for it.
    uint32_t SettleMs = 1, ResetMs = 10, ReleaseMs = 0;
    // Reads the three signature bytes and checks programming enable's echo in the fourth byte
    // (with the speed search); the others cannot be identified.
    bool Identifies = false;
    // Without a signature, answers programming enable with the same echo: a chip is there, though
    // which one cannot be told. The other two answer nothing at all, so every write of theirs is
    // read back, verification on or off: an empty socket then fails at the first byte.
    bool Echoes = false;
    bool HasEeprom = false;
    // The data-memory read and write opcodes of the four-byte form (AT89S8253: 0xA0 / 0xC0).
    uint8_t ReadData = 0, WriteData = 0;
    // SCK at most the crystal over this (the AT89S53/8252/8253 datasheets: 1/40); 0 = no limit
    // the port could reach. These chips give no answer that shows a misread clock.
    uint32_t SckDivider = 0;
};

// The crystal an AT89S board usually carries, which the SCK limit is taken at.
inline constexpr uint64_t kAt89CrystalHz = 12'000'000;

// The AT89S51/52 answer programming enable with this byte in the fourth position.
inline constexpr uint8_t kAt89EnableEcho = 0x69;

inline constexpr At89Variant kAt89s5x{.ClassName = "T89s",
                                      .FrameLength = 4,
                                      .Form = At89AddressForm::HighLow,
                                      .Erase2 = SerialIsp::kAvrErase2,
                                      .Identifies = true};
inline constexpr At89Variant kAt89s53{.ClassName = "T89s53",
                                      .FrameLength = 3,
                                      .Form = At89AddressForm::A13InBit2,
                                      .Erase2 = SerialIsp::kOldErase2,
                                      .SckDivider = 40};
inline constexpr At89Variant kAt89s8252{.ClassName = "T89s8252",
                                        .FrameLength = 3,
                                        .Form = At89AddressForm::OpCodeInBits2to0,
                                        .Erase2 = SerialIsp::kOldErase2,
                                        .HasEeprom = true,
                                        .SckDivider = 40};
inline constexpr At89Variant kAt89s8253{.ClassName = "T89s8253",
                                        .FrameLength = 4,
                                        .Form = At89AddressForm::HighLow,
                                        .Erase2 = SerialIsp::kAvrErase2,
                                        .Echoes = true,
                                        .HasEeprom = true,
                                        .ReadData = 0xA0,
                                        .WriteData = 0xC0,
                                        .SckDivider = 40};

class At89Engine : public SerialIsp {
  public:
    At89Engine(EngineEnv& env, const At89Variant& variant)
        : SerialIsp(env, variant.FrameLength), variant_(variant) {}

    // The empty text, with no port traffic, on a chip that cannot be identified.
    Result<std::string> ReadSignature() override;
    Status EnterProgramming() override;
    Status LeaveProgramming() override;
    Status EraseChip() override;
    Status WriteFlashByte(int32_t address, uint8_t value) override;
    Result<uint8_t> ReadFlashByte(int32_t address) override;
    // The AT89S8252 and AT89S8253 have data EEPROM; the others say it is not supported.
    Status WriteEepromByte(int32_t address, uint8_t value) override;
    Result<uint8_t> ReadEepromByte(int32_t address) override;
    const char* ClassName() const override { return variant_.ClassName; }
    // Half an SCK period at the chip's limit, rounded up.
    uint64_t MinPhaseNs() const override {
        const uint64_t cycles = variant_.SckDivider;
        return (cycles * 1'000'000'000ull + 2 * kAt89CrystalHz - 1) / (2 * kAt89CrystalHz);
    }

  private:
    enum class Access : uint8_t { ReadCode, WriteCode, ReadData, WriteData };
    // Sets the command bytes of `access` at `address` (the data byte of a write is the
    // caller's) and sends them; a read answers in the last byte.
    uint8_t Send(Access access, int32_t address, uint8_t data = 0);
    size_t DataByte() const { return variant_.FrameLength - 1; }
    bool Echoed();
    // Neither a signature nor an echo: only reading a write back shows that a chip is there.
    bool Silent() const { return !variant_.Identifies && !variant_.Echoes; }

    const At89Variant& variant_;
};

// The engine of one chip record; the catalogue's method codes name these.
template <const At89Variant& ChipVariant>
class At89ChipEngine final : public At89Engine {
  public:
    explicit At89ChipEngine(EngineEnv& env) : At89Engine(env, ChipVariant) {}
};
using T89s = At89ChipEngine<kAt89s5x>;
using T89s53 = At89ChipEngine<kAt89s53>;
using T89s8252 = At89ChipEngine<kAt89s8252>;
using T89s8253 = At89ChipEngine<kAt89s8253>;

}  // namespace tondrel
