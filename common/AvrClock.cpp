// The clock tables of the AVR datasheets ("System Clock and Clock Options", "Device Clocking
// Options Select"), one per generation of the clock system; each chip is told to its table by
// its name and fuse bit names.
#include "common/AvrClock.h"

#include <array>
#include <cctype>
#include <string_view>

namespace tondrel {
namespace {

using K = AvrClockKind;

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// "ATMEGA3250PA" -> "ATMEGA3250": the family part of a name, without its suffix letters.
std::string Base(std::string_view upper) {
    size_t end = upper.size();
    while (end > 0 && std::isalpha(static_cast<unsigned char>(upper[end - 1]))) --end;
    return std::string(upper.substr(0, end));
}

bool OneOf(const std::string& base, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (base == n) return true;
    return false;
}

bool Named(const std::array<const char*, 8>& bits, std::string_view name) {
    for (const char* b : bits)
        if (b != nullptr && name == b) return true;
    return false;
}

// The bit of the low fuse avr-libc gives `name`; -1 when there is none.
int LowBit(const AvrPartData& p, std::string_view name) {
    for (int i = 0; i < 8; ++i)
        if (p.LowBits[static_cast<size_t>(i)] && name == p.LowBits[static_cast<size_t>(i)])
            return i;
    return -1;
}

std::string Mhz(uint32_t hz) {
    if (hz % 1'000'000 == 0) return std::to_string(hz / 1'000'000) + " MHz";
    if (hz >= 1'000'000) {
        const uint32_t tenths = hz / 100'000;
        return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MHz";
    }
    return std::to_string(hz / 1000) + " kHz";
}

AvrClockSource Rc(uint32_t hz) {
    return {K::InternalRc, hz, "internal " + Mhz(hz) + " RC"};
}
AvrClockSource Slow(uint32_t hz, const char* what) {
    return {K::InternalSlow, hz, std::string("internal ") + Mhz(hz) + " " + what};
}
const AvrClockSource kExternal{K::ExternalClock, 0, "external clock on XTAL1"};
const AvrClockSource kExternalRc{K::ExternalRc, 0, "external RC oscillator"};
const AvrClockSource kWatchCrystal{K::SlowCrystal, 0, "low-frequency crystal (32.768 kHz)"};
const AvrClockSource kReserved{K::Reserved, 0, "reserved"};

// CKSEL3..1 of the crystal oscillators whose ranges the datasheets give in four steps.
AvrClockSource CrystalRange(uint8_t cksel, bool lowPower) {
    static const char* const kRanges[] = {"0.4-0.9 MHz", "0.9-3.0 MHz", "3.0-8.0 MHz",
                                          "8.0-16.0 MHz"};
    const std::string kind = lowPower ? "low-power crystal oscillator " : "crystal or resonator ";
    return {K::Crystal, 0, kind + kRanges[(cksel >> 1) & 3]};
}

// ATmega8/16/32 ("External Crystal/Ceramic Resonator 1111-1010" ...): CKOPT widens the ranges.
AvrClockSource CkoptCode(uint8_t c) {
    if (c == 0) return kExternal;
    if (c <= 4) return Rc(1'000'000u << (c - 1));
    if (c <= 8) return kExternalRc;
    if (c == 9) return kWatchCrystal;
    static const char* const kRanges[] = {"0.4-0.9 MHz", "0.9-3.0 MHz", "3.0-8.0 MHz"};
    return {K::Crystal, 0,
            std::string("crystal or resonator ") + kRanges[((c >> 1) & 7) - 5] +
                " (1.0 MHz and up with CKOPT)"};
}

AvrClockSource Code(AvrClockScheme scheme, uint8_t c) {
    switch (scheme) {
        case AvrClockScheme::None:
        case AvrClockScheme::Tiny15:
            return kReserved;
        case AvrClockScheme::Ckopt:
            return CkoptCode(c);
        case AvrClockScheme::Mega163:  // ATmega163 "Clock Options"
            if (c <= 1) return kExternal;
            if (c <= 4) return Rc(1'000'000);
            if (c <= 7) return kExternalRc;
            if (c <= 9) return kWatchCrystal;
            return {K::Crystal, 0, "crystal or resonator"};
        case AvrClockScheme::Mega161:  // no internal oscillator
            return c <= 1 ? kExternal : AvrClockSource{K::Crystal, 0, "crystal or resonator"};
        case AvrClockScheme::Tiny12:
            if (c <= 1) return kExternal;
            if (c <= 4) return Rc(1'200'000);
            if (c <= 7) return kExternalRc;
            if (c <= 9) return kWatchCrystal;
            return {K::Crystal, 0, "crystal or resonator"};
        case AvrClockScheme::Tiny13: {
            static const AvrClockSource kCodes[] = {kExternal, Rc(4'800'000), Rc(9'600'000),
                                                    Slow(128'000, "watchdog oscillator")};
            return kCodes[c & 3];
        }
        case AvrClockScheme::Tiny48:
        case AvrClockScheme::Tiny828: {
            if ((c & 3) == 0) return kExternal;
            if ((c & 3) == 1) return kReserved;
            if ((c & 3) == 2) return Rc(8'000'000);
            return scheme == AvrClockScheme::Tiny48 ? Slow(128'000, "oscillator")
                                                    : Slow(32'000, "ultra-low-power oscillator");
        }
        case AvrClockScheme::Tiny25:
        case AvrClockScheme::Tiny24: {
            // The ATtiny25/45/85 have their PLL at 0001 and 0011; the ATtiny24/44/84 reserve them.
            const bool pll = scheme == AvrClockScheme::Tiny25;
            if (c == 0) return kExternal;
            if (pll && c == 1) return {K::Pll, 16'000'000, "high-frequency PLL (16 MHz)"};
            if (c == 2) return Rc(8'000'000);
            if (pll && c == 3) return {K::Pll, 1'600'000, "ATtiny15 compatibility mode (1.6 MHz)"};
            if (c == 4) return Slow(128'000, pll ? "oscillator" : "ultra-low-power oscillator");
            if (c == 6) return kWatchCrystal;
            return c >= 8 ? CrystalRange(c, false) : kReserved;
        }
        case AvrClockScheme::Tiny261:
            if (c == 0) return kExternal;
            if (c == 1) return {K::Pll, 16'000'000, "high-frequency PLL (16 MHz)"};
            if (c == 2) return Rc(8'000'000);
            if (c == 3) return Slow(128'000, "oscillator");
            if (c <= 7) return kWatchCrystal;
            return CrystalRange(c, false);
        case AvrClockScheme::Tiny2313:
        case AvrClockScheme::TinyUlp: {
            // The ATtiny2313 has a 4 MHz RC at 0010 and the 8 MHz one at 0100, where the
            // ATtiny441/841/1634 have their 8 MHz RC and the 32 kHz ULP.
            const bool ulp = scheme == AvrClockScheme::TinyUlp;
            if (c == 0) return kExternal;
            if (c == 2) return Rc(ulp ? 8'000'000 : 4'000'000);
            if (c == 4) return ulp ? Slow(32'000, "ultra-low-power oscillator") : Rc(8'000'000);
            if (c == 6 && !ulp) return Slow(128'000, "watchdog oscillator");
            return c >= 8 ? CrystalRange(c, false) : kReserved;
        }
        case AvrClockScheme::Classic:
        case AvrClockScheme::ClassicLcd:
            if (c == 0) return kExternal;
            if (c == 2) return Rc(8'000'000);
            if (c >= 8) return CrystalRange(c, false);
            if (c >= 6 || (c >= 4 && scheme == AvrClockScheme::Classic)) return kWatchCrystal;
            return kReserved;
        case AvrClockScheme::Usb:
            if (c == 0) return kExternal;
            if (c == 2) return Rc(8'000'000);
            return c >= 8 ? CrystalRange(c, true) : kReserved;
        case AvrClockScheme::Psc:
            if (c == 0) return kExternal;
            if (c == 1 || c == 3) return {K::Pll, 16'000'000, "PLL (16 MHz)"};
            if (c == 2) return Rc(8'000'000);
            return c >= 8 ? CrystalRange(c, false) : kReserved;
        case AvrClockScheme::Modern:
            if (c == 0) return kExternal;
            if (c == 2) return Rc(8'000'000);
            if (c == 3) return Slow(128'000, "RC oscillator");
            if (c == 4 || c == 5) return kWatchCrystal;
            if (c == 6 || c == 7) return {K::Crystal, 0, "full-swing crystal oscillator"};
            if (c >= 8) return CrystalRange(c, true);
            return kReserved;
    }
    return kReserved;
}

}  // namespace

AvrClockScheme ClockSchemeOf(const AvrPartData& p) {
    const std::string name = Upper(p.Name);
    const std::string base = Base(name);
    using S = AvrClockScheme;
    if (p.Style != AvrConfigStyle::Modern && p.Style != AvrConfigStyle::Tiny12) return S::None;
    if (base == "ATMEGA161") return S::Mega161;
    if (OneOf(base, {"ATMEGA163", "ATMEGA323"})) return S::Mega163;
    if (base == "ATTINY12") return S::Tiny12;
    if (base == "ATTINY15") return S::Tiny15;
    if (base == "ATTINY13") return S::Tiny13;
    if (OneOf(base, {"ATTINY48", "ATTINY88"})) return S::Tiny48;
    if (base == "ATTINY828") return S::Tiny828;
    if (OneOf(base, {"ATTINY25", "ATTINY45", "ATTINY85"})) return S::Tiny25;
    if (OneOf(base, {"ATTINY24", "ATTINY44", "ATTINY84", "ATTINY43U"})) return S::Tiny24;
    if (OneOf(base, {"ATTINY261", "ATTINY461", "ATTINY861", "ATTINY87", "ATTINY167"}))
        return S::Tiny261;
    if (OneOf(base, {"ATTINY2313", "ATTINY4313"})) return S::Tiny2313;
    if (OneOf(base, {"ATTINY441", "ATTINY841", "ATTINY1634"})) return S::TinyUlp;
    if (Named(p.HighBits, "CKOPT") || Named(p.LowBits, "CKOPT")) return S::Ckopt;
    if (name.rfind("AT90CAN", 0) == 0 || base == "ATMEGA162") return S::Classic;
    if (OneOf(base, {"ATMEGA165", "ATMEGA169", "ATMEGA325", "ATMEGA329", "ATMEGA3250", "ATMEGA3290",
                     "ATMEGA645", "ATMEGA649", "ATMEGA6450", "ATMEGA6490"}))
        return S::ClassicLcd;
    if (OneOf(base, {"AT90USB82", "AT90USB162", "ATMEGA8U2", "ATMEGA16U2", "ATMEGA32U2"}) ||
        OneOf(name, {"ATMEGA8U2", "ATMEGA16U2", "ATMEGA32U2"}))
        return S::Usb;
    if (name.rfind("AT90PWM", 0) == 0 ||
        OneOf(name, {"ATMEGA16M1", "ATMEGA32M1", "ATMEGA64M1", "ATMEGA32C1", "ATMEGA64C1"}))
        return S::Psc;
    if (Named(p.LowBits, "CKDIV8")) return S::Modern;
    return S::None;
}

std::optional<uint8_t> CkselOf(const AvrPartData& p, uint8_t low, int* width) {
    const AvrClockScheme scheme = ClockSchemeOf(p);
    if (scheme == AvrClockScheme::None) return std::nullopt;
    // The headers call the clock-select bits CKSELn, or SUT_CKSELn / CKSEL_SUTn where the
    // datasheet tables the two fields together; bits 3..0 of those are CKSEL3..0 (on the
    // ATtiny828 only bits 1..0 are).
    const int wide = scheme == AvrClockScheme::Tiny828 ? 2 : 4;
    uint8_t value = 0;
    int count = 0;
    for (int k = 0; k < wide; ++k) {
        int at = -1;
        for (const char* prefix : {"CKSEL", "SUT_CKSEL", "CKSEL_SUT"}) {
            if (at < 0) at = LowBit(p, std::string(prefix) + std::to_string(k));
        }
        if (at < 0) continue;
        value = static_cast<uint8_t>(value | (((low >> at) & 1u) << k));
        ++count;
    }
    if (count == 0) return std::nullopt;
    if (width) *width = count;
    return value;
}

std::vector<std::pair<uint8_t, AvrClockSource>> CkselTable(const AvrPartData& p) {
    std::vector<std::pair<uint8_t, AvrClockSource>> out;
    int width = 0;
    if (!CkselOf(p, 0xFF, &width)) return out;
    const AvrClockScheme scheme = ClockSchemeOf(p);
    for (int c = 0; c < (1 << width); ++c)
        out.emplace_back(static_cast<uint8_t>(c), Code(scheme, static_cast<uint8_t>(c)));
    return out;
}

std::optional<AvrClockSource> ClockOf(const AvrPartData& p, uint8_t low, uint8_t high) {
    const AvrClockScheme scheme = ClockSchemeOf(p);
    if (scheme == AvrClockScheme::Tiny15)
        return AvrClockSource{K::InternalRc, 1'600'000, "internal 1.6 MHz RC"};
    const auto cksel = CkselOf(p, low);
    if (!cksel) return std::nullopt;
    // ATtiny26: PLLCK programmed with CKSEL 0001 clocks the chip from the PLL.
    if (const int pllck = LowBit(p, "PLLCK"); pllck >= 0 && *cksel == 1 && !((low >> pllck) & 1))
        return AvrClockSource{K::Pll, 16'000'000, "PLL (16 MHz)"};
    (void)high;
    return Code(scheme, *cksel);
}

bool DividedByEight(const AvrPartData& p, uint8_t low) {
    const int at = LowBit(p, "CKDIV8");
    return at >= 0 && ((low >> at) & 1u) == 0;
}

bool NeedsBoardClock(AvrClockKind kind) {
    return kind == K::ExternalClock || kind == K::ExternalRc || kind == K::SlowCrystal ||
           kind == K::Crystal;
}

bool IsSlowSource(const AvrClockSource& s) {
    return s.Kind == K::SlowCrystal || (s.Kind == K::InternalSlow && s.Hz < 400'000);
}

bool HasCrystalOscillator(const AvrPartData& p) {
    const AvrClockScheme s = ClockSchemeOf(p);
    return s != AvrClockScheme::Tiny13 && s != AvrClockScheme::Tiny48 &&
           s != AvrClockScheme::Tiny828 && s != AvrClockScheme::Tiny15;
}

std::optional<uint32_t> RunningClock(const AvrPartData& p, uint8_t low, uint8_t high,
                                     const BoardClock& board) {
    const auto source = ClockOf(p, low, high);
    if (!source) return board.Hz;  // no clock fuses: the board's crystal, if it is known
    uint32_t hz = 0;
    switch (source->Kind) {
        case K::InternalRc:
        case K::InternalSlow:
        case K::Pll:
            hz = source->Hz;
            break;
        case K::Crystal:
            if (!board.Crystal || board.Hz < 400'000) return std::nullopt;
            hz = board.Hz;
            break;
        case K::SlowCrystal:
            if (!board.Crystal || board.Hz == 0 || board.Hz >= 400'000) return std::nullopt;
            hz = board.Hz;
            break;
        case K::ExternalClock:
            if (board.Crystal || board.Hz == 0) return std::nullopt;
            hz = board.Hz;
            break;
        case K::ExternalRc:
            return std::nullopt;  // no RC network on the board
        case K::Reserved:
            return 0;  // not modelled: the chip runs, at a speed nobody knows
    }
    return DividedByEight(p, low) ? hz / 8 : hz;
}

BoardClock FactoryBoard(const AvrPartData& p) {
    const auto source = ClockOf(p, p.FuseLow, p.FuseHigh);
    if (!source) return {};
    switch (source->Kind) {
        case K::Crystal:
            return {8'000'000, true};
        case K::SlowCrystal:
            return {32'768, true};
        case K::ExternalClock:
            return {8'000'000, false};
        default:
            return {};
    }
}

void FitFusesToBoard(const AvrPartData& p, const BoardClock& board, uint8_t& low, uint8_t& high) {
    const AvrClockScheme scheme = ClockSchemeOf(p);
    if (board.Hz == 0 || scheme == AvrClockScheme::None || scheme == AvrClockScheme::Tiny15) return;
    int width = 0;
    if (!CkselOf(p, low, &width)) return;
    // The code the board needs: the fastest crystal range, the watch crystal, or (for a clock
    // signal, or a chip without a crystal oscillator) the external clock.
    std::optional<uint8_t> want;
    const bool crystal = board.Crystal && HasCrystalOscillator(p);
    for (const auto& [code, source] : CkselTable(p)) {
        const bool fits = !crystal             ? source.Kind == K::ExternalClock
                          : board.Hz < 400'000 ? source.Kind == K::SlowCrystal
                                               : source.Kind == K::Crystal;
        if (fits && (!want || (crystal && board.Hz >= 400'000))) want = code;  // the top range
    }
    if (!want) return;
    auto set = [&low](int at, bool one) {
        if (at < 0) return;
        low = static_cast<uint8_t>(one ? (low | (1u << at)) : (low & ~(1u << at)));
    };
    for (int k = 0; k < width; ++k) {
        for (const char* prefix : {"CKSEL", "SUT_CKSEL", "CKSEL_SUT"})
            set(LowBit(p, std::string(prefix) + std::to_string(k)), ((*want >> k) & 1u) != 0);
    }
    // The slowest start-up suits every crystal; the clock runs undivided.
    for (const char* sut :
         {"SUT0", "SUT1", "SUT", "SUT_CKSEL4", "SUT_CKSEL5", "CKSEL_SUT4", "CKSEL_SUT5"})
        set(LowBit(p, sut), true);
    if (scheme == AvrClockScheme::Tiny828) {
        set(LowBit(p, "SUT_CKSEL2"), true);
        set(LowBit(p, "SUT_CKSEL3"), true);
    }
    set(LowBit(p, "CKDIV8"), true);
    // Above 8 MHz the ATmega8/16/32 crystal oscillator needs CKOPT programmed.
    if (scheme == AvrClockScheme::Ckopt && crystal && board.Hz > 8'000'000) {
        set(LowBit(p, "CKOPT"), false);
        for (int i = 0; i < 8; ++i)
            if (p.HighBits[static_cast<size_t>(i)] &&
                std::string_view(p.HighBits[static_cast<size_t>(i)]) == "CKOPT")
                high = static_cast<uint8_t>(high & ~(1u << i));
    }
}

}  // namespace tondrel
