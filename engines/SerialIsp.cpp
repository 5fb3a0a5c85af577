#include "engines/SerialIsp.h"

#include <algorithm>

#include "adapter/Wiring.h"

namespace tondrel {

namespace {
// Pin numbers are 16-bit fields; only values that fit a DB-25 pin can name one.
uint8_t PinNumber(uint16_t pin) {
    return pin > 0xFF ? 0 : static_cast<uint8_t>(pin);
}
}  // namespace

void SerialIsp::InitPinMap() {
    AutoVerify = 1;
    WriteBlank = 0;
    adapter::LoadPinFields(adapter::kSerialIspWiring, *this);
}

void SerialIsp::SetRst(bool level) {
    SetPin(PinNumber(RstPin), level);
}

void SerialIsp::SetMosi(bool level) {
    SetPin(PinNumber(MosiPin), level);
}

void SerialIsp::SetSck(bool level) {
    SetPin(PinNumber(SckPin), level);
    BitDelayCountdown(BitDelay);
}

bool SerialIsp::GetMiso() {
    return GetPin(PinNumber(MisoPin));
}

void SerialIsp::SetEnable(bool active) {
    const uint16_t level = active ? EnableActiveLevel : EnableIdleLevel;
    SetPin(PinNumber(EnablePin), (level & 0xFF) != 0);
}

void SerialIsp::TransferBytes(size_t answer) {
    for (size_t i = 0; i < length_; ++i) {
        uint8_t in = 0;
        for (int bit = 7; bit >= 0; --bit) {
            SetSck(false);
            SetMosi(((TxBytes[i] >> bit) & 1u) != 0);
            SetSck(true);
            if (i == answer && GetMiso()) in = static_cast<uint8_t>(in | (1u << bit));
        }
        SetSck(false);
        RxBytes[i] = in;
    }
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

void SerialIsp::At89PowerUp(uint32_t settleMs, uint32_t resetMs) {
    WriteControlPort(0);
    SetEnable(true);
    Sleep(settleMs);
    SetRst(false);
    SetMosi(false);
    SetSck(false);
    Sleep(10);
    SetRst(true);
    Sleep(resetMs);
}

void SerialIsp::At89Release(uint32_t settleMs) {
    SetRst(false);
    SetEnable(false);
    if (settleMs > 0) Sleep(settleMs);
}

int32_t SerialIsp::SlowerBitDelay(int32_t delay) {
    // Four times slower per step: from the fastest setting to the slowest in about ten tries.
    if (delay < 16) return 16;
    if (delay >= kSlowestBitDelay / 4) return kSlowestBitDelay;
    return delay * 4;
}

bool SerialIsp::SearchSpeed(const std::function<bool()>& attempt,
                            const std::function<void()>& resync) {
    const int32_t start = BitDelay;
    if (attempt()) return true;
    // Once more at the same speed: a chip that only lost step (noise on SCK) keeps the clock.
    resync();
    if (attempt()) return true;
    for (int32_t delay = start; delay < kSlowestBitDelay;) {
        delay = SlowerBitDelay(delay);
        BitDelay = delay;
        resync();
        if (attempt()) return true;
    }
    BitDelay = start;
    return false;
}

void SerialIsp::SleepUs(int32_t us, uint32_t fallbackMs) {
    Sleep(us > 0 ? static_cast<uint32_t>((us + 999) / 1000) : fallbackMs);
}

bool SerialIsp::FinishWrite(uint8_t value, int32_t worstUs, int32_t readback,
                            uint32_t fallbackMs, const std::function<bool()>& matches) {
    if (!AutoVerify) {
        SleepUs(worstUs, fallbackMs);
        return true;
    }
    if (LooksBusy(value, readback)) SleepUs(worstUs, fallbackMs);
    return PollReadBack(matches);
}

void SerialIsp::EraseWait() {
    const int32_t ms = Chip().EraseDelayMs;
    Sleep(ms > 0 ? static_cast<uint32_t>(ms) : 500u);
}

bool SerialIsp::LooksBusy(uint8_t value, int32_t readback) {
    if (value == 0xFF) return true;
    if (readback < 0) return false;
    return value == ((readback >> 8) & 0xFF) || value == (readback & 0xFF);
}

}  // namespace tondrel
