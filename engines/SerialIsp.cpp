#include "engines/SerialIsp.h"

#include <algorithm>
#include <utility>

#include "adapter/Wiring.h"
#include "common/Text.h"

namespace tondrel {

void SerialIsp::InitPinMap() {
    AutoVerify = 1;
    WriteBlank = 0;
    adapter::LoadPinFields(adapter::kSerialIspWiring, *this);
}

void SerialIsp::SetRst(bool level) {
    readAhead_.Bytes.clear();
    Link().SetLine(IspLine::Reset, level);
}

void SerialIsp::SetMosi(bool level) {
    Link().SetLine(IspLine::DataOut, level);
}

void SerialIsp::SetSck(bool level) {
    Link().SetLine(IspLine::Clock, level);
}

void SerialIsp::SetEnable(bool active) {
    readAhead_.Bytes.clear();
    Link().SetLine(IspLine::Enable, active);
}

uint64_t SerialIsp::PhaseNs() const {
    const uint64_t asked = BitDelay < 0 ? 0 : static_cast<uint64_t>(BitDelay);
    return std::max({asked, MinPhaseNs(), VirtualClock::kPortAccessNs});
}

void SerialIsp::BitDelayCountdown(int32_t bitDelay) {
    (void)bitDelay;  // the phase is PhaseNs, which BitDelay is part of
    WaitRestOfPhase(1);
}

void SerialIsp::WaitRestOfPhase(uint64_t accesses) {
    // A port access takes about a microsecond on a real port (its bus cycle), whatever the
    // processor: only the rest of the phase is waited for.
    const uint64_t phase = PhaseNs(), spent = accesses * VirtualClock::kPortAccessNs;
    if (phase > spent) Clk().WaitNs(phase - spent);
}

void SerialIsp::TransferBytes(size_t answer) {
    readAhead_.Bytes.clear();
    SerialLink& link = Link();
    link.SetPhaseNs(PhaseNs());
    const bool answered = answer < length_;
    link.Queue({TxBytes.data(), length_}, answered ? answer : SerialLink::kNoAnswer);
    for (size_t i = 0; i < length_; ++i) RxBytes[i] = 0;
    if (!answered) return;
    if (batching_) {
        ++batchAnswers_;
        return;
    }
    const std::vector<uint8_t> in = link.Collect();
    if (!in.empty()) RxBytes[answer] = in.back();
}

void SerialIsp::Sleep(uint32_t ms) {
    Link().Flush();
    Tpro::Sleep(ms);
}

Status SerialIsp::Settled() {
    Link().Flush();
    return Outcome();
}

std::vector<uint8_t> SerialIsp::Batch(const std::function<void()>& queue) {
    batching_ = true;
    batchAnswers_ = 0;
    queue();
    batching_ = false;
    std::vector<uint8_t> in = Link().Collect();
    // A link that failed meanwhile answers short; the missing answers read 0 as an unsampled
    // byte does, and the failure is the operation's outcome.
    in.resize(batchAnswers_, 0);
    return in;
}

uint8_t SerialIsp::ReadAhead(Memory memory, int32_t address, int32_t size,
                             const std::function<void(int32_t)>& send) {
    ReadAheadBytes& r = readAhead_;
    if (!r.Bytes.empty() && r.Of == memory && address >= r.First &&
        address - r.First < static_cast<int32_t>(r.Bytes.size()))
        return r.Bytes[static_cast<size_t>(address - r.First)];
    const int32_t count =
        std::clamp<int32_t>(size - address, 1, static_cast<int32_t>(Link().BatchSize()));
    // The answer of each read is the last one it queued (a bank selection may come first).
    std::vector<size_t> at;
    std::vector<uint8_t> in = Batch([&] {
        for (int32_t k = 0; k < count; ++k) {
            send(address + k);
            at.push_back(BatchAnswers() - 1);
        }
    });
    ReadAheadBytes ahead{memory, address, {}};
    for (size_t i : at) ahead.Bytes.push_back(i < in.size() ? in[i] : 0);
    readAhead_ = std::move(ahead);
    return readAhead_.Bytes.front();
}

bool SerialIsp::PollFor(uint8_t value, const std::function<void()>& send, uint8_t* last) {
    const size_t reads = Link().PollSize();
    return PollReadBack([&] {
        const std::vector<uint8_t> in = Batch([&] {
            for (size_t k = 0; k < reads; ++k) send();
        });
        if (last != nullptr && !in.empty()) *last = in.back();
        return std::find(in.begin(), in.end(), value) != in.end();
    });
}

uint8_t SerialIsp::Command(uint8_t b1, uint8_t b2, uint8_t b3) {
    TxBytes[0] = b1;
    TxBytes[1] = b2;
    TxBytes[2] = b3;
    TransferBytes(LastByte());
    return RxBytes[LastByte()];
}

uint8_t SerialIsp::Command(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    TxBytes[3] = b4;
    return Command(b1, b2, b3);
}

Result<uint16_t> SerialIsp::RawCommand(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
    // A three-byte engine never sends TxBytes[3]: setting it there changes nothing on the wire.
    const uint8_t answer = Command(b1, b2, b3, b4);
    Sleep(20);
    return Outcome<uint16_t>(answer);
}

void SerialIsp::SendEnable(size_t answer) {
    TxBytes[0] = kEnable1;
    TxBytes[1] = kEnable2;
    TransferBytes(answer);
}

Status SerialIsp::SendErase(uint8_t second) {
    TxBytes[0] = kEnable1;
    TxBytes[1] = second;
    TransferBytes(kNoAnswer);
    // The chip's own erase time from the catalogue; 500 ms where it is not known.
    const int32_t ms = Chip().EraseDelayMs;
    Sleep(ms > 0 ? static_cast<uint32_t>(ms) : 500u);
    return Outcome();
}

bool SerialIsp::SearchSpeed(const std::function<bool()>& attempt,
                            const std::function<void()>& resync) {
    const int32_t start = BitDelay;
    if (attempt()) return true;
    // Once more at the same speed: a chip that only lost step (noise on SCK) keeps the clock.
    resync();
    if (attempt()) return true;
    auto at = [&](int32_t delay) {
        BitDelay = delay;
        resync();
        return attempt();
    };
    // Below the phase a port access gives, or the chip's limit, every setting is the same.
    int32_t bad = std::max(start, static_cast<int32_t>(std::max(MinPhaseNs(), uint64_t{1000})));
    int32_t good = -1;
    while (bad < kSlowestBitDelay) {
        const int32_t next = std::min(bad * 2, kSlowestBitDelay);
        if (at(next)) {
            good = next;
            break;
        }
        bad = next;
    }
    if (good < 0) {
        BitDelay = start;
        return false;
    }
    const int32_t doubled = good;
    // The fastest phase that works lies between the two, to within a 64th.
    while (good - bad > good / 64) {
        const int32_t mid = bad + (good - bad) / 2;
        if (at(mid))
            good = mid;
        else
            bad = mid;
    }
    // One step of margin: a phase found at the very edge of what the chip follows works only
    // until the next bit that comes a little early. Where even that fails, a phase that came
    // out long (a busy processor) let a too-fast one pass: on slower, as far as twice the phase
    // the doubling found.
    for (int32_t delay = MarginAbove(good);; delay = NextSlower(delay)) {
        if (at(delay)) return true;
        if (delay >= std::min(doubled * 2, kSpeedLimit)) break;
    }
    BitDelay = start;
    return false;
}

int32_t SerialIsp::MarginAbove(int32_t delay) {
    return std::min(delay + std::max(delay / 16, 16), kSpeedLimit);
}

int32_t SerialIsp::NextSlower(int32_t delay) {
    const int32_t from = std::max(delay, 1000);
    return std::min(from + from / 8, kSpeedLimit);
}

void SerialIsp::SleepUs(int32_t us, uint32_t fallbackMs) {
    Sleep(us > 0 ? static_cast<uint32_t>((us + 999) / 1000) : fallbackMs);
}

Status SerialIsp::FinishWrite(Memory memory, int32_t address, uint8_t value,
                              const std::function<void()>& sendRead, bool alwaysPoll,
                              bool dataPolling) {
    const bool eeprom = memory == Memory::EEPROM;
    const int32_t worstUs = eeprom ? Chip().EepromWriteDelayUs : Chip().FlashWriteDelayUs;
    const int32_t readback = eeprom ? Chip().EepromReadback : Chip().FlashReadback;
    const uint32_t fallbackMs = eeprom ? kEepromFallbackMs : kFlashFallbackMs;
    if (!AutoVerify && !alwaysPoll && dataPolling) {
        const uint64_t limitMs =
            worstUs > 0 ? (static_cast<uint64_t>(worstUs) + 999) / 1000 : fallbackMs;
        PollBit7(value, limitMs * 1'000'000ull, sendRead);
        return Outcome();
    }
    if (!AutoVerify && !alwaysPoll) {
        SleepUs(worstUs, fallbackMs);
        return Outcome();
    }
    // A data-polling chip shows bit 7 inverted while busy, so no value reads as done early.
    if (!dataPolling && LooksBusy(value, readback)) SleepUs(worstUs, fallbackMs);
    uint8_t last = value;
    const bool ok = PollFor(value, sendRead, &last);
    return Outcome(ok ? Status()
                      : WriteNeverReadBack(HexText(static_cast<uint32_t>(address)), last, value));
}

void SerialIsp::PollBit7(uint8_t value, uint64_t limitNs, const std::function<void()>& sendRead) {
    const uint64_t start = Clk().NowNs();
    // A read takes far more than a microsecond: the count bounds the poll on a clock that
    // does not move (a port that failed).
    for (uint64_t reads = 0; reads <= limitNs / 1000; ++reads) {
        const std::vector<uint8_t> in = Batch(sendRead);
        const bool done = std::any_of(in.begin(), in.end(),
                                      [value](uint8_t b) { return ((b ^ value) & 0x80) == 0; });
        if (done || Clk().NowNs() - start > limitNs) return;
    }
}

bool SerialIsp::LooksBusy(uint8_t value, int32_t readback) {
    if (value == 0xFF) return true;
    if (readback < 0) return false;
    return value == ((readback >> 8) & 0xFF) || value == (readback & 0xFF);
}

}  // namespace tondrel
