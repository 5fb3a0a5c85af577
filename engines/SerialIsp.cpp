#include "engines/SerialIsp.h"

#include "adapter/Wiring.h"
#include "common/Text.h"

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

namespace {
// The next slower delay the speed search tries after `delay`: four times slower per step, from
// the fastest setting to the slowest in about ten tries.
int32_t SlowerBitDelay(int32_t delay) {
    if (delay < 16) return 16;
    if (delay >= SerialIsp::kSlowestBitDelay / 4) return SerialIsp::kSlowestBitDelay;
    return delay * 4;
}
}  // namespace

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

Status SerialIsp::FinishWrite(Memory memory, int32_t address, uint8_t value,
                              const std::function<uint8_t()>& readBack, bool alwaysPoll) {
    const bool eeprom = memory == Memory::EEPROM;
    const int32_t worstUs = eeprom ? Chip().EepromWriteDelayUs : Chip().FlashWriteDelayUs;
    const int32_t readback = eeprom ? Chip().EepromReadback : Chip().FlashReadback;
    const uint32_t fallbackMs = eeprom ? kEepromFallbackMs : kFlashFallbackMs;
    if (!AutoVerify && !alwaysPoll) {
        SleepUs(worstUs, fallbackMs);
        return Outcome();
    }
    if (LooksBusy(value, readback)) SleepUs(worstUs, fallbackMs);
    uint8_t last = value;
    const bool ok = PollReadBack([&] { return (last = readBack()) == value; });
    return Outcome(ok ? Status()
                      : WriteNeverReadBack(HexText(static_cast<uint32_t>(address)), last, value));
}

bool SerialIsp::LooksBusy(uint8_t value, int32_t readback) {
    if (value == 0xFF) return true;
    if (readback < 0) return false;
    return value == ((readback >> 8) & 0xFF) || value == (readback & 0xFF);
}

}  // namespace tondrel
