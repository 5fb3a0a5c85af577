#pragma once
// One simulated AVR, parameterised by the facts of the chip it stands for: signature, memory
// sizes, page or byte mode, fuse/lock layout and defaults, calibration bytes. It follows the
// datasheets' serial programming interface: /RESET low enters programming mode, commands are
// 32-bit frames clocked in on rising SCK (SPI mode 0), the output shift register echoes the
// previous byte unless a read puts data there, Flash and EEPROM writes are self-timed.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/AvrPartData.h"
#include "sim/SpiSlave.h"
#include "sim/TargetChip.h"

namespace tondrel::sim {

// The facts of one chip, taken from its generated part data (common/AvrPartData.h says what each
// means), with the calibration bytes it answers.
struct AvrFacts {
    const char* Name;
    std::array<uint8_t, 3> Signature;
    int32_t FlashSize;   // bytes
    int32_t EepromSize;  // bytes
    int32_t PageSize;    // bytes; 0 = byte mode
    AvrConfigStyle Style;
    // Factory values; a byte the chip does not have is absent from UsedMask (reads 0xFF).
    uint8_t FuseLow, FuseHigh, FuseExt;
    uint8_t LowUsed, HighUsed, ExtUsed;
    uint8_t LockUsed;  // Modern: bits 1..0 = LB2 LB1 (+ boot lock bits); others: bits 2..1
    // Bits the serial interface cannot change (SPIEN) in the low and high fuse byte.
    uint8_t LowFixed, HighFixed;
    // Low-fuse bit 0 of a CombinedStatus chip (FSTRT/RCEN) is writable by 0xAC 0xBE/0xBF.
    bool CombinedFuseWritable;
    AvrFuseByte EesaveByte;
    uint8_t EesaveBit;
    uint8_t CalCount;
    std::array<uint8_t, 4> Cal;
    bool EchoesEnable;
    // Timing from the part data (µs) and the values a location reads while its write is in
    // progress ((first << 8) | second, -1 = none). Zero delays fall back to the class constants.
    uint32_t FlashWriteMinUs = 0, FlashWriteMaxUs = 0;
    uint32_t EepromWriteMinUs = 0, EepromWriteMaxUs = 0;
    uint32_t ChipEraseUs = 0;
    int32_t FlashReadback = -1, EepromReadback = -1;
    // The clock the chip runs on as it leaves the factory (Hz); 0 = no serial-clock limit.
    uint32_t FactoryClockHz = 0;
    // Modern chips whose lock write carries the bits in the second byte (0xAC 1111 11ii 0x00
    // 0x00, ATtiny26) instead of the fourth.
    bool LockInByte2 = false;
    // EEPROM page mode (0xC1 loads a byte, 0xC2 writes the bytes loaded); 0: none.
    int32_t EepromPageSize = 0;
    // The part data the facts come from: the clock tables and the fuse bit names follow it.
    const AvrPartData* Part = nullptr;
};

// The facts of every AVR in the catalogue; nullptr for a name that is not an AVR.
const AvrFacts* FindAvrFacts(const std::string& upperName);
const std::vector<AvrFacts>& AllAvrFacts();
// The AVR family's part of CreateChip: nullptr for a name that is not an AVR.
std::unique_ptr<TargetChip> CreateAvrChip(const std::string& upperName);

class AvrChip : public TargetChip {
  public:
    // Self-timed operations (ns) of a chip whose facts give no delay.
    static constexpr uint64_t kPageWriteNs = 4'500'000;
    static constexpr uint64_t kByteWriteNs = 4'000'000;
    static constexpr uint64_t kEepromWriteNs = 9'000'000;
    static constexpr uint64_t kChipEraseNs = 9'000'000;

    explicit AvrChip(const AvrFacts& facts);

    std::string Name() const override { return facts_.Name; }
    void SetLines(const TargetLines& lines, uint64_t nowNs) override;
    bool DataOut(uint64_t nowNs) override;
    void SaveState(std::ostream& out) const override;
    bool LoadState(std::istream& in) override;
    void FitToBoard() override;

    const AvrFacts& Facts() const { return facts_; }
    // Memory and configuration as the chip holds them (what a parallel programmer would see).
    const std::vector<uint8_t>& Flash() const { return flash_; }
    const std::vector<uint8_t>& Eeprom() const { return eeprom_; }
    uint8_t FuseLow() const { return fuseLow_; }
    uint8_t FuseHigh() const { return fuseHigh_; }
    uint8_t FuseExt() const { return fuseExt_; }
    uint8_t Lock() const { return lock_; }
    bool InProgrammingMode() const { return inReset_ && enabled_; }
    // The clock the chip runs on since its last reset (Hz; 0 = not known); nothing when it has
    // no clock and so does not run.
    std::optional<uint32_t> RunningHz() const;
    // Since its last reset the chip ignores serial programming (RSTDISBL or DWEN programmed, or
    // no clock).
    bool SerialProgrammingOff() const;
    // Length of the next Flash or EEPROM write cycle (ns), drawn between the part data's
    // minimum and maximum; the same chip gives the same sequence on every run.
    uint64_t NextWriteNs(bool eeprom);
    // Length of a chip erase (ns).
    uint64_t EraseNs() const;

  private:
    enum class Busy : uint8_t { None, Flash, Eeprom, Erase };

    void EnterReset();
    // The configuration takes effect when the chip comes out of reset, as the datasheets say:
    // its clock source and whether /RESET still starts serial programming.
    void ApplyConfiguration();
    bool FuseProgrammed(const char* name) const;
    // Shortest SCK phase the chip reads right: its clock's limit or the fault knob's.
    uint64_t MinPhaseNs() const;
    void ByteDone(uint8_t byte, uint64_t nowNs);
    // The answer a read puts into the fourth byte of the current frame; none = plain echo.
    std::optional<uint8_t> ReadAnswerFor(uint64_t nowNs) const;
    void Execute(uint64_t nowNs);
    void ExecuteAc(uint64_t nowNs);
    void ChipErase(uint64_t nowNs);
    void WriteLockFromByte2(uint8_t v);
    void StartBusy(Busy kind, uint64_t nowNs, uint64_t durationNs);
    bool IsBusy(Busy kind, uint64_t nowNs) const;
    // What a read of the memory being written gives until its cycle ends.
    uint8_t BusyValue(uint64_t nowNs) const;
    bool HasExtendedAddress() const { return facts_.FlashSize > 0x20000; }
    bool IsBusy(uint64_t nowNs) const { return nowNs < busyUntil_; }
    bool WriteProtected() const;
    bool ReadProtected() const;
    uint8_t Lb1Mask() const;
    uint8_t Lb2Mask() const;
    uint8_t ReadFuse(uint8_t value, uint8_t used) const {
        return value | static_cast<uint8_t>(~used);
    }
    void WriteFuse(uint8_t& fuse, uint8_t v, uint8_t fixed);
    bool EesaveProgrammed() const;
    int32_t FlashWordMask() const { return facts_.FlashSize / 2 - 1; }
    int32_t FlashWord(uint8_t b1, uint8_t b2) const {
        return ((extAddress_ << 16) | (b1 << 8) | b2) & FlashWordMask();
    }
    void ProgramFlashByte(int32_t byteAddress, uint8_t value);

    AvrFacts facts_;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> eeprom_;
    std::vector<uint8_t> pageBuffer_;
    // The EEPROM page buffer: the bytes loaded since the last page write, by offset.
    std::vector<std::optional<uint8_t>> eepromPage_;
    uint8_t fuseLow_, fuseHigh_, fuseExt_, lock_;

    // Serial interface.
    TargetLines lines_{};
    bool inReset_ = false;  // /RESET low while the adapter drives it
    bool enabled_ = false;  // programming enable accepted
    SpiSlave spi_;
    size_t byteInFrame_ = 0;
    std::array<uint8_t, 4> frame_{};

    Busy busy_ = Busy::None;
    uint64_t busyStart_ = 0;
    uint64_t busyUntil_ = 0;
    uint64_t draws_ = 0;      // write cycles timed so far (the random sequence's position)
    uint8_t extAddress_ = 0;  // "load extended address byte": word address bits 23..16

    // The configuration in effect since the last reset.
    std::optional<uint32_t> runningHz_ = 0;
    bool resetPinOff_ = false;  // RSTDISBL or DWEN programmed
};

}  // namespace tondrel::sim
