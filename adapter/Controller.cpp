#include "adapter/Controller.h"

#include "adapter/Wiring.h"
#include "common/Text.h"

namespace tondrel::adapter {

void SendHandshake(PinLayer& pins, uint8_t code) {
    pins.WriteControlPort(code);
    for (uint8_t byte : kHandshakeData) pins.WriteDataPort(byte);
    pins.WriteControlPort(0x00);
}

void SendRest(PinLayer& pins) {
    SendHandshake(pins, kIdentifyCode);
    pins.SetPin(kSerialIspWiring.Enable, !kSerialIspWiring.EnableActiveLevel);
}

const IdentAnswer* FindIdentAnswer(AdapterKind kind, int firmware) {
    for (const IdentAnswer& a : kIdentAnswers)
        if (a.Kind == kind && a.Firmware == firmware) return &a;
    return nullptr;
}

AdapterIdentity Identify(PinLayer& pins) {
    SendHandshake(pins, kIdentifyCode);
    const uint8_t status = pins.ReadStatusPort() & kIdentMask;
    for (const IdentAnswer& a : kIdentAnswers)
        if (a.Status == status) return {a.Kind, a.Firmware, {}};
    for (const CableLoopBack& cable : kCables) {
        pins.SetPin(kLoopPin, true);
        const uint8_t high = pins.ReadStatusPort() & kLoopMask;
        pins.SetPin(kLoopPin, false);
        const uint8_t low = pins.ReadStatusPort() & kLoopMask;
        if (high == cable.WithD7High && low == cable.WithD7Low)
            return {AdapterKind::Altera, 0, cable.Name};
    }
    return {};
}

const DownloadMode* FindMode(int number) {
    for (const DownloadMode& m : kDownloadModes)
        if (m.Number == number) return &m;
    return nullptr;
}

const DownloadMode* FindModeByName(std::string_view name) {
    const std::string lower = Lower(name);
    for (const DownloadMode& m : kDownloadModes)
        if (lower == Lower(m.CliName)) return &m;
    return nullptr;
}

void SendModeCommand(PinLayer& pins, int mode) {
    if (const DownloadMode* m = FindMode(mode)) {
        SendHandshake(pins, m->ControlCode);
        return;
    }
    pins.WriteDataPort(0x00);
    pins.WriteControlPort(0x00);
}

}  // namespace tondrel::adapter
