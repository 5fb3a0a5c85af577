#include "core/View.h"

#include <cstdio>
#include <string>

namespace tondrel::core {

std::string SckText(int32_t speed) {
    const uint32_t hz = SckHz(speed);
    char text[32];
    // Three significant digits are all a busy-wait clock is good for.
    if (hz >= 100'000)
        std::snprintf(text, sizeof text, "%u kHz", (hz + 500) / 1000);
    else if (hz >= 10'000)
        std::snprintf(text, sizeof text, "%.1f kHz", hz / 1000.0);
    else
        std::snprintf(text, sizeof text, "%.2f kHz", hz / 1000.0);
    return text;
}

AdapterLabels LabelsOf(const AdapterInfo& adapter, bool checked) {
    (void)checked;  // before any identification the adapter is as unknown as after a failed one
    switch (adapter.Kind) {
        case AdapterKind::Gen1:
            return {Msg("CoreHwBrisk"), Msg("CoreHwVersion10"),
                    Msg(adapter.Firmware == 2 ? "CoreHwKernel20" : "CoreHwKernel10")};
        case AdapterKind::Gen2:
            return {Msg("CoreHwRegal"), Msg("CoreHwVersion20"), Msg("CoreHwKernel10")};
        case AdapterKind::Altera:
            return {Msg("CoreHwAltera"), Msg("CoreHwVersion"), Verbatim(adapter.Cable)};
        case AdapterKind::None:
            break;
    }
    return {Msg("CoreHwUnknown"), {}, {}};
}

Message ModeStatusOf(const SessionState& state) {
    if (!state.ModeActive || state.Mode < kModeMcu || state.Mode > kModeMsp430)
        return Msg("CoreHwNotLaunched");
    return Msg("CoreModeState" + std::to_string(state.Mode));
}

}  // namespace tondrel::core
