#pragma once
// SerialIsp: what the AT89S and AVR engines share. The adapter's pin fields, the four private pin
// operations, one byte-shift routine (SPI mode 0, MSB first), the speed search that slows the
// serial clock down for a chip on a slow clock, the chip erase, the raw command and the waits
// after a byte write. BitDelay is a time: the length of each clock phase in nanoseconds. Each
// engine adds its framing and its chip steps. Commands go over a SerialLink: the parallel port's
// own, or the one the port set brings.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/Memory.h"
#include "engines/ParallelLink.h"
#include "engines/Tpro.h"

namespace tondrel {

class SerialIsp : public Tpro {
  public:
    // Opcodes and command bytes of the serial programming interfaces.
    static constexpr uint8_t kEnable1 = 0xAC;  // programming enable: 0xAC 0x53 ...
    static constexpr uint8_t kEnable2 = 0x53;
    static constexpr uint8_t kAvrErase2 = 0x80;  // chip erase: 0xAC 0x80 (AVR, AT89S51/52/8253)
    static constexpr uint8_t kOldErase2 = 0x04;  // chip erase: 0xAC 0x04 (AT89S53/8252)
    static constexpr uint8_t kWriteCode = 0x40;  // AVR: load / write program byte, low byte
    static constexpr uint8_t kWriteCodeHigh = 0x48;
    static constexpr uint8_t kReadCode = 0x20;  // AVR: read program byte, low byte
    static constexpr uint8_t kReadCodeHigh = 0x28;
    static constexpr uint8_t kAt89Signature = 0x28;
    static constexpr uint8_t kAvrSignature = 0x30;
    static constexpr uint8_t kWritePage = 0x4C;
    static constexpr uint8_t kExtendedAddress = 0x4D;
    static constexpr uint8_t kWriteEeprom = 0xC0;
    static constexpr uint8_t kReadEeprom = 0xA0;

    // Slowest clock the search tries: phases of 65.5 us, enough for a chip running on a 32 kHz
    // crystal (two of its cycles). Slower settings stay for the user to choose on the speed bar.
    static constexpr int32_t kSlowestBitDelay = 65536;
    // The speed bar's slowest setting.
    static constexpr int32_t kSpeedLimit = 300000;
    // One step slower than `delay`, the margin the search keeps: a sixteenth. The waits never
    // come short (the monotonic clock has the last word), so it only has to cover the chip's own
    // drift during a run; a write that fails all the same is retried at NextSlower.
    static int32_t MarginAbove(int32_t delay);
    // The next slower speed a write that failed is tried again at (an eighth slower).
    static int32_t NextSlower(int32_t delay);
    // Byte-write waits where the chip's data gives none: the fixed waits for blank bytes.
    static constexpr uint32_t kFlashFallbackMs = 5;
    static constexpr uint32_t kEepromFallbackMs = 10;
    // No answer byte is sampled.
    static constexpr size_t kNoAnswer = 4;

    SerialIsp(EngineEnv& env, size_t commandLength)
        : Tpro(env), length_(commandLength), parallel_(*this) {}

    void InitPinMap() override;
    // Sends the command's bytes (b4 only on an engine of four-byte commands) and answers with the
    // last byte clocked in, after 20 ms for whatever the command started.
    Result<uint16_t> RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) override;
    void SetAutoVerify(bool on) override { AutoVerify = on ? 1 : 0; }
    void SetWriteBlank(bool on) override { WriteBlank = on ? 1 : 0; }
    void SetBitDelay(int32_t count) override { BitDelay = count; }
    int32_t WorkingBitDelay() const override { return BitDelay; }

    uint16_t RstPin = 0;
    uint16_t MosiPin = 0;
    uint16_t MisoPin = 0;
    uint16_t SckPin = 0;
    uint16_t EnablePin = 0;
    uint16_t EnableActiveLevel = 0;
    uint16_t EnableIdleLevel = 0;
    int32_t BitDelay = 0;
    uint8_t WriteBlank = 0;
    uint8_t AutoVerify = 0;
    // Bytes clocked in during the last command; only its answer byte is sampled, the others
    // read 0. TxBytes: the command, kept between commands (a byte a command does not set still
    // holds the previous command's byte, which the chip ignores).
    std::array<uint8_t, 4> RxBytes{};
    std::array<uint8_t, 4> TxBytes{};

    // The clock phase the engine gives now: BitDelay, at least the chip's own limit and one port
    // access (the edge's write). What a link with a rate of its own is asked for.
    uint64_t PhaseNs() const;
    // The shortest clock phase the chip's datasheet allows where no answer of the chip tells
    // (its SCK limit at the crystal it is normally run on); 0 where the search finds it.
    virtual uint64_t MinPhaseNs() const { return 0; }

    // The wait after a clock edge that makes the phase last PhaseNs: the edge's own port write
    // counts as one access. Stands in for the pin layer's raw countdown.
    void BitDelayCountdown(int32_t bitDelay);
    // The same for a phase that holds `accesses` port accesses (the edge's write and, while SCK
    // is high in an answer byte, the read of MISO).
    void WaitRestOfPhase(uint64_t accesses);

  protected:
    void SetRst(bool level);
    void SetMosi(bool level);
    void SetSck(bool level);
    void SetEnable(bool active);
    // Shifts the command in TxBytes out and samples MISO only during byte `answer` (the byte
    // whose content the caller uses; kNoAnswer for none). Within Batch, the answer is kept for
    // the batch's end instead of landing in RxBytes.
    void TransferBytes(size_t answer);
    // Waits, after everything queued on the link has gone out.
    void Sleep(uint32_t ms);
    // Runs `queue` (commands through TransferBytes) as one batch; the answers, in order.
    std::vector<uint8_t> Batch(const std::function<void()>& queue);
    // How many answers the batch under way holds so far: the index the next one gets.
    size_t BatchAnswers() const { return batchAnswers_; }
    // A read of `address` on a link that batches, out of reads sent ahead: `send` queues the read
    // of one address (its answer byte the last). The answers stand until any other command goes
    // out; no read goes past `size`.
    uint8_t ReadAhead(Memory memory, int32_t address, int32_t size,
                      const std::function<void(int32_t)>& send);
    // Whether the link sends many commands at once (reads ahead, polls in batches).
    bool Batching() { return Link().BatchSize() > 1; }
    // The read-back poll in batches the link sends at once: true as soon as one of the reads
    // `send` queues answers `value`, false after the poll limit (`last` gets the last byte read).
    bool PollFor(uint8_t value, const std::function<void()>& send, uint8_t* last = nullptr);
    // Everything queued goes out, then the operation's outcome: the end of an operation that
    // leaves the lines as they should stay.
    Status Settled();
    // Sets the bytes given, sends the command, returns the answer byte (the last one).
    uint8_t Command(uint8_t b1, uint8_t b2, uint8_t b3);
    uint8_t Command(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4);
    size_t LastByte() const { return length_ - 1; }
    // Programming enable, 0xAC 0x53, with the other bytes kept; `answer` as in TransferBytes.
    void SendEnable(size_t answer);
    // Chip erase, 0xAC `second`, and the chip's erase time.
    Status SendErase(uint8_t second);

    // Runs `attempt` at BitDelay; while it fails, `resync` (leaves the chip's programming mode
    // and re-enters it) and tries again, first at the same speed, then twice as slow each time
    // until it works, then by bisection back towards the fastest phase that works, and settles
    // one step slower than that. A chip that still misreads at the slowest speed leaves BitDelay
    // as it was.
    bool SearchSpeed(const std::function<bool()>& attempt, const std::function<void()>& resync);

    // Sleeps for a chip's worst-case time in microseconds, whole milliseconds rounded up;
    // `fallbackMs` when the chip's data does not give it.
    void SleepUs(int32_t us, uint32_t fallbackMs);
    // What follows the byte write just sent to `memory`. Without verification, the chip's
    // worst-case write time: the next command must not land inside the write cycle. With it,
    // the read-back poll, after that same wait for a value the chip also shows while busy (the
    // poll would end too early there, and could not tell a byte that never programs from one
    // that did). `sendRead` queues the read of the location; the failure names `address`.
    // `alwaysPoll`: read back even with verification off.
    // `dataPolling`: a chip that reads bit 7 inverted until its write cycle ends; without
    // verification it is polled for that bit, no longer than the worst-case time, and with it
    // the read-back poll starts at once, 0xFF included.
    Status FinishWrite(Memory memory, int32_t address, uint8_t value,
                       const std::function<void()>& sendRead, bool alwaysPoll = false,
                       bool dataPolling = false);
    // Whether `value` is one the chip also shows while that write is still in progress (0xFF
    // always, plus the part data's read-back pair), so that reading it proves nothing.
    static bool LooksBusy(uint8_t value, int32_t readback);
    // Reads the location through `sendRead` until bit 7 reads as in `value`, at most `limitNs`.
    void PollBit7(uint8_t value, uint64_t limitNs, const std::function<void()>& sendRead);

  private:
    friend class ParallelLink;
    SerialLink& Link() { return env_.Link ? *env_.Link : parallel_; }

    struct ReadAheadBytes {
        Memory Of = Memory::Flash;
        int32_t First = 0;
        std::vector<uint8_t> Bytes;  // empty: nothing read ahead
    };

    size_t length_;
    ParallelLink parallel_;
    bool batching_ = false;
    size_t batchAnswers_ = 0;
    ReadAheadBytes readAhead_;
};

}  // namespace tondrel
