// tondrel-manual-gen: writes the parts of the user manual that restate facts kept in code, so
// they cannot drift from it: the chip list (from the catalogue the program creates), the
// adapter's pin map per engine (from the pin table and the wiring records the engines load their
// pins from, with the levels measured on the simulated bench while the engine holds a chip in
// programming mode), the target's ISP pins
// joined to those LPT pins, the wiring picture of the DB-25 plug and the troubleshooting table
// keyed by the message-board texts.
//
// The manual is hand-written HTML with marked sections; the generator replaces what lies between
//   <!-- generated:NAME -->  and  <!-- end generated:NAME -->
// and leaves the rest alone.
//
//   tondrel-manual-gen --template IN.html --html OUT.html --svg OUT.svg --db SCRATCH.db
//   tondrel-manual-gen ... --check     exit 1 when OUT.html or OUT.svg differ from what it makes
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "adapter/Pins.h"
#include "adapter/Wiring.h"
#include "common/Messages.h"
#include "common/Version.h"
#include "config/ConfigLayouts.h"
#include "db/Database.h"
#include "engines/Engines.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"

namespace {

using namespace tondrel;

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Bytes(int32_t size) {
    if (size <= 0) return "—";
    if (size % 1024 == 0) return std::to_string(size / 1024) + " KiB";
    return std::to_string(size) + " B";
}

// ---- the PC side of the connector: the adapter's pin table ----

using adapter::Role;

const adapter::Pin& Lpt(int pin) {
    static const adapter::Pin none{0, "?",   adapter::Register::Data,
                                   0, false, adapter::Direction::Input};
    const adapter::Pin* p = adapter::FindPin(pin);
    return p ? *p : none;
}

const char* RegisterName(adapter::Register reg) {
    switch (reg) {
        case adapter::Register::Data:
            return "data";
        case adapter::Register::Status:
            return "status";
        case adapter::Register::Control:
            return "control";
    }
    return "?";
}

// The physical level of an output pin, from the registers as the program wrote them.
bool OutputLevel(int pin, uint8_t data, uint8_t control) {
    const adapter::Pin& p = Lpt(pin);
    return adapter::LevelIn(p, p.Reg == adapter::Register::Data ? data : control);
}

// ---- the engines' pin maps ----

struct PinUse {
    Role What;
    int Pin;
    std::string Signal;
    std::string Programming;  // level while the chip is in programming mode
    std::string Idle;         // level after the engine left programming mode
};

struct EngineMap {
    std::string Engines;  // class names sharing this map, "T89s, T89s53"
    std::string Family;
    std::vector<PinUse> Uses;
};

enum class Fam { At89, Avr, Pic };

Fam FamilyOf(Method method) {
    if (method == Method::Avr) return Fam::Avr;
    if (IsPic(method)) return Fam::Pic;
    return Fam::At89;
}

const char* FamilyName(Fam f) {
    switch (f) {
        case Fam::At89:
            return "AT89S (8051)";
        case Fam::Avr:
            return "AVR";
        case Fam::Pic:
            return "PIC16";
    }
    return "";
}

std::string SignalName(Fam f, Role r) {
    switch (r) {
        case Role::Enable:
            return "adapter driver enable";
        case Role::Reset:
            return f == Fam::At89  ? "RST (target reset)"
                   : f == Fam::Avr ? "RESET (target reset)"
                                   : "MCLR/VPP control (programming voltage)";
        case Role::Mode:
            return "second programming-mode line";
        case Role::Clock:
            return f == Fam::Pic ? "PGC clock (RB6)" : "SCK serial clock";
        case Role::DataOut:
            return f == Fam::Pic ? "PGD data to the chip (RB7)" : "MOSI data to the chip";
        case Role::DataIn:
            return f == Fam::Pic ? "PGD data from the chip (RB7)" : "MISO data from the chip";
    }
    return "";
}

// The pins of a family's adapter wiring, in the order the manual lists them.
std::vector<std::pair<Role, int>> Pins(Fam f) {
    const adapter::Wiring& w = f == Fam::Pic ? adapter::kPicWiring : adapter::kSerialIspWiring;
    std::vector<std::pair<Role, int>> out;
    for (Role r : adapter::kRoles)
        if (w.PinOf(r) != 0) out.push_back({r, w.PinOf(r)});
    return out;
}

// Runs the engine on a simulated bench holding the first chip of its method code that the bench
// can build, and reads the connector while the chip is in programming mode and after it left.
bool MeasureEngine(Method method, const std::vector<ChipRecord>& chips, EngineMap& out,
                   std::string& error) {
    for (const ChipRecord& chip : chips) {
        if (chip.MethodCode != method) continue;
        VirtualClock clock;
        sim::BenchOptions options;
        options.ChipName = chip.Name;
        sim::Bench bench(clock, options);
        if (!bench.Error().Ok()) continue;
        sim::SimPort port(bench, &clock);
        CurrentChip current;
        current.Assign(chip);
        EngineEnv env{&port, &clock, &current};
        auto engine = MakeEngine(method, env);
        engine->InitPinMap();
        engine->SetPortBase(0x378);
        const Fam fam = FamilyOf(method);
        (void)engine->EnterProgramming();
        const uint8_t dataOn = bench.ReadData(), controlOn = bench.ReadControl();
        (void)engine->LeaveProgramming();
        const uint8_t dataOff = bench.ReadData(), controlOff = bench.ReadControl();

        out.Engines = engine->ClassName();
        out.Family = FamilyName(fam);
        out.Uses.clear();
        for (auto [role, pin] : Pins(fam)) {
            PinUse use{role, pin, SignalName(fam, role), "", ""};
            auto level = [](bool high) { return std::string(high ? "high" : "low"); };
            if (role == Role::DataIn) {
                use.Programming = use.Idle = "input";
            } else if (role == Role::Clock || role == Role::DataOut) {
                use.Programming = "pulses";
                use.Idle = level(OutputLevel(pin, dataOff, controlOff));
            } else {
                use.Programming = level(OutputLevel(pin, dataOn, controlOn));
                use.Idle = level(OutputLevel(pin, dataOff, controlOff));
            }
            out.Uses.push_back(use);
        }
        return true;
    }
    error = std::string("no chip of method ") + Traits(method).EngineClass +
            " can be put on the simulated bench";
    return false;
}

bool SameMap(const EngineMap& a, const EngineMap& b) {
    if (a.Uses.size() != b.Uses.size() || a.Family != b.Family) return false;
    for (size_t i = 0; i < a.Uses.size(); ++i) {
        const auto &x = a.Uses[i], &y = b.Uses[i];
        if (x.What != y.What || x.Pin != y.Pin || x.Programming != y.Programming ||
            x.Idle != y.Idle)
            return false;
    }
    return true;
}

bool EngineMaps(const std::vector<ChipRecord>& chips, std::vector<EngineMap>& maps,
                std::string& error) {
    // By family: AT89S, AVR, PIC.
    for (Method method : {Method::At89s, Method::At89s53, Method::At89s8252, Method::At89s8253,
                          Method::Avr, Method::Pic, Method::PicA}) {
        EngineMap map;
        if (!MeasureEngine(method, chips, map, error)) return false;
        bool merged = false;
        for (EngineMap& m : maps) {
            if (SameMap(m, map)) {
                m.Engines += ", " + map.Engines;
                merged = true;
                break;
            }
        }
        if (!merged) maps.push_back(map);
    }
    return true;
}

int PinOf(const EngineMap& map, Role role) {
    for (const auto& u : map.Uses)
        if (u.What == role) return u.Pin;
    return 0;
}

// ---- the target side: ISP pins of common packages (from the chips' datasheets) ----

struct PackagePin {
    Role What;
    std::string ChipPin;  // "6 (PB5)"
};

struct Package {
    Fam Family;
    std::string Chips;    // chip names; only those the catalogue holds are listed
    std::string Housing;  // "DIP-40"
    std::vector<PackagePin> Pins;
    std::string Supply;  // VCC and GND pins
};

const std::vector<Package>& Packages() {
    static const std::vector<Package> packages = {
        {Fam::At89,
         "AT89S51, AT89S52, AT89S53, AT89S8252, AT89S8253",
         "DIP-40",
         {{Role::Reset, "9 (RST)"},
          {Role::DataOut, "6 (P1.5 MOSI)"},
          {Role::DataIn, "7 (P1.6 MISO)"},
          {Role::Clock, "8 (P1.7 SCK)"}},
         "VCC 40, GND 20"},
        {Fam::Avr,
         "ATmega16, ATmega32, ATmega163, ATmega323, ATmega8535, AT90S8535, AT90S4434",
         "DIP-40",
         {{Role::Reset, "9 (RESET)"},
          {Role::DataOut, "6 (PB5 MOSI)"},
          {Role::DataIn, "7 (PB6 MISO)"},
          {Role::Clock, "8 (PB7 SCK)"}},
         "VCC 10, GND 11"},
        {Fam::Avr,
         "ATmega8, ATmega48, ATmega88, ATmega168, AT90S4433, AT90S2333",
         "DIP-28",
         {{Role::Reset, "1 (PC6 RESET)"},
          {Role::DataOut, "17 (PB3 MOSI)"},
          {Role::DataIn, "18 (PB4 MISO)"},
          {Role::Clock, "19 (PB5 SCK)"}},
         "VCC 7, GND 8"},
        {Fam::Avr,
         "ATtiny2313, AT90S2313",
         "DIP-20",
         {{Role::Reset, "1 (RESET)"},
          {Role::DataOut, "17 (PB5 MOSI)"},
          {Role::DataIn, "18 (PB6 MISO)"},
          {Role::Clock, "19 (PB7 SCK)"}},
         "VCC 20, GND 10"},
        {Fam::Avr,
         "ATtiny13, ATtiny25, ATtiny45, ATtiny85, ATtiny12, ATtiny15, AT90S2323, AT90S2343",
         "DIP-8",
         {{Role::Reset, "1 (PB5 RESET)"},
          {Role::DataOut, "5 (PB0 MOSI)"},
          {Role::DataIn, "6 (PB1 MISO)"},
          {Role::Clock, "7 (PB2 SCK)"}},
         "VCC 8, GND 4"},
        {Fam::Pic,
         "PIC16F84A, PIC16F628, PIC16F628A",
         "DIP-18",
         {{Role::Reset, "4 (MCLR/VPP)"},
          {Role::Clock, "12 (RB6 PGC)"},
          {Role::DataOut, "13 (RB7 PGD)"},
          {Role::DataIn, "13 (RB7 PGD)"}},
         "VDD 14, VSS 5"},
        {Fam::Pic,
         "PIC16F877A, PIC16F874A, PIC16F877, PIC16F874, PIC16F871",
         "DIP-40",
         {{Role::Reset, "1 (MCLR/VPP)"},
          {Role::Clock, "39 (RB6 PGC)"},
          {Role::DataOut, "40 (RB7 PGD)"},
          {Role::DataIn, "40 (RB7 PGD)"}},
         "VDD 11 and 32, VSS 12 and 31; tie RB3/PGM (36) low"},
        {Fam::Pic,
         "PIC16F876A, PIC16F873A, PIC16F876, PIC16F873, PIC16F872, PIC16F870",
         "DIP-28",
         {{Role::Reset, "1 (MCLR/VPP)"},
          {Role::Clock, "27 (RB6 PGC)"},
          {Role::DataOut, "28 (RB7 PGD)"},
          {Role::DataIn, "28 (RB7 PGD)"}},
         "VDD 20, VSS 8 and 19; tie RB3/PGM (24) low"},
    };
    return packages;
}

const EngineMap* MapOfFamily(const std::vector<EngineMap>& maps, Fam f) {
    for (const auto& m : maps)
        if (m.Family == FamilyName(f)) return &m;
    return nullptr;
}

// ---- sections ----

std::string ChipSection(const std::vector<ChipRecord>& chips) {
    std::ostringstream o;
    o << "<p>" << chips.size()
      << " chips, as the program's own catalogue lists them (<code>tondrel-cli chips</code> "
         "prints the same list). The signature is what the chip answers during the automatic "
         "search; chips without one are chosen by hand (<code>--chip NAME</code>, or "
         "<b>select chip manually</b>). A configuration view is the <i>other operations…</i> "
         "dialog (<code>tondrel-cli config</code>).</p>\n";
    o << "<table class=\"chips\">\n<tr><th>Chip</th><th>Family</th><th>Signature</th>"
         "<th>Flash</th><th>EEPROM</th><th>Flash page</th><th>Configuration view</th></tr>\n";
    for (const ChipRecord& c : chips) {
        const config::LayoutDesc* layout = config::FindLayout(c.Name);
        std::string signature = c.Signature;
        while (!signature.empty() && signature.back() == ' ') signature.pop_back();
        o << "<tr id=\"chip-" << Escape(c.Name) << "\"><td>" << Escape(c.Name) << "</td><td>"
          << FamilyName(FamilyOf(c.MethodCode)) << "</td><td>"
          << (signature.empty() ? "— (chosen by hand)" : "<code>" + Escape(signature) + "</code>")
          << "</td><td>" << Bytes(c.FlashSize) << "</td><td>" << Bytes(c.EEPROMSize) << "</td><td>"
          << (FamilyOf(c.MethodCode) != Fam::Avr ? "—"
              : c.PageSize > 0                   ? std::to_string(c.PageSize) + " B"
                                                 : "byte mode")
          << "</td><td>" << (layout ? "yes" : "no") << "</td></tr>\n";
    }
    o << "</table>\n";
    return o.str();
}

std::string PinSection(const std::vector<EngineMap>& maps) {
    std::ostringstream o;
    for (const EngineMap& m : maps) {
        o << "<h3>" << Escape(m.Family) << " <small>(engine " << Escape(m.Engines)
          << ")</small></h3>\n";
        o << "<table class=\"pins\">\n<tr><th>LPT pin</th><th>Port line</th><th>Register, bit"
             "</th><th>Signal</th><th>Level while programming</th><th>Level when idle</th>"
             "</tr>\n";
        for (const PinUse& u : m.Uses) {
            const adapter::Pin& p = Lpt(u.Pin);
            o << "<tr><td>" << u.Pin << "</td><td>" << p.Name << "</td><td>" << RegisterName(p.Reg)
              << ", bit " << int{p.Bit} << (p.Inverted ? " (inverted by the PC)" : "")
              << "</td><td>" << Escape(u.Signal) << "</td><td>" << u.Programming << "</td><td>"
              << u.Idle << "</td></tr>\n";
        }
        o << "<tr><td>18–25</td><td>GND</td><td>—</td><td>ground, joined to the target's "
             "ground</td><td>—</td><td>—</td></tr>\n</table>\n";
    }
    return o.str();
}

std::string PackageSection(const std::vector<EngineMap>& maps, const std::vector<ChipRecord>& chips,
                           std::string& error) {
    std::ostringstream o;
    o << "<table class=\"packages\">\n<tr><th>Chip, package</th><th>Target pin ← LPT pin"
         "</th><th>Supply</th></tr>\n";
    for (const Package& p : Packages()) {
        // Only chips the program serves; a package none of them uses is left out.
        std::string names;
        std::istringstream list(p.Chips);
        for (std::string name; std::getline(list >> std::ws, name, ',');) {
            for (const auto& c : chips)
                if (c.Name == name) names += (names.empty() ? "" : ", ") + name;
        }
        if (names.empty()) continue;
        const EngineMap* map = MapOfFamily(maps, p.Family);
        if (!map) {
            error = std::string("no engine pin map for ") + FamilyName(p.Family);
            return {};
        }
        o << "<tr><td>" << Escape(names) << ", " << p.Housing << "</td><td>";
        bool firstPin = true;
        for (const PackagePin& pin : p.Pins) {
            o << (firstPin ? "" : "<br>") << Escape(pin.ChipPin) << " "
              << (pin.What == Role::DataIn ? "→" : "←") << " LPT " << PinOf(*map, pin.What)
              << " <small>(" << Escape(SignalName(p.Family, pin.What)) << ")</small>";
            firstPin = false;
        }
        o << "</td><td>" << Escape(p.Supply) << "</td></tr>\n";
    }
    o << "</table>\n";
    return o.str();
}

struct Trouble {
    std::vector<std::string> Keys;  // message-table keys of the board lines
    std::string Remedy;
};

std::string TroubleSection(std::string& error) {
    static const std::vector<Trouble> troubles = {
        {{"CoreHwDisconnected", "CoreHwNotLaunched"},
         "The adapter does not answer. Check that it is plugged into the port the program uses "
         "(<b>Options → port</b>, <code>--lpt</code>, <code>--port</code>), that the target "
         "board powers it, and that the cable is a straight DB-25 cable, not a null-printer "
         "cable. <code>tondrel-cli hardware</code> repeats the check."},
        {{"CoreNoChipFound"},
         "The adapter answered but no chip gave a known signature. Check the four ISP wires and "
         "ground against the tables above, that the chip is powered and has a working clock "
         "(an AVR set to an external crystal needs one), and move the speed bar towards slow. "
         "AT89S53, AT89S8252 and AT89S8253 never answer the search: choose them by hand."},
        {{"CoreChipInitFail"},
         "The chip did not enter programming mode. As above: wiring, supply, clock; an AVR whose "
         "SPIEN fuse is unprogrammed, or whose RESET pin is disabled (RSTDISBL), cannot be "
         "reached by serial programming at all."},
        {{"CoreWriteFlashFailByte", "CoreWriteEEPROMFail"},
         "A byte did not read back as written within one second. Move the speed bar towards "
         "slow and write again; if the same address keeps failing, erase the chip first (a "
         "locked or worn chip does not take new data) or try another chip."},
        {{"CoreVerifyFlashFail", "CoreVerifyEEPROMFail"},
         "The chip differs from the buffer. Write again at a slower speed; check that auto "
         "verify was on while writing."},
    };
    std::ostringstream o;
    o << "<table class=\"trouble\">\n<tr><th>The board says</th><th>What to do</th></tr>\n";
    for (const Trouble& t : troubles) {
        o << "<tr><td>";
        bool first = true;
        for (const std::string& key : t.Keys) {
            if (!HasMessage(key)) {
                error = "troubleshooting names message " + key + ", which does not exist";
                return {};
            }
            std::string english = Tr(key, Language::English);
            std::string chinese = Tr(key, Language::Chinese);
            for (std::string* text : {&english, &chinese})
                if (auto at = text->find("0x{0}"); at != std::string::npos)
                    text->replace(at, 5, "0x…");
            o << (first ? "" : "<br>") << "<code>" << Escape(english) << "</code><br><code>"
              << Escape(chinese) << "</code>";
            first = false;
        }
        o << "</td><td>" << t.Remedy << "</td></tr>\n";
    }
    o << "</table>\n";
    return o.str();
}

// ---- the wiring picture: the adapter's DB-25 plug seen from its pins ----

std::string WiringSvg(const std::vector<EngineMap>& maps) {
    // Every signal on each pin, with the families that use the pin for it.
    std::map<int, std::vector<std::pair<std::string, std::string>>> labels;
    std::map<int, Role> roles;
    for (const EngineMap& m : maps) {
        const std::string family = m.Family.substr(0, m.Family.find(' '));
        for (const PinUse& u : m.Uses) {
            auto& list = labels[u.Pin];
            auto same = std::find_if(list.begin(), list.end(),
                                     [&](const auto& e) { return e.first == u.Signal; });
            if (same == list.end())
                list.push_back({u.Signal, family});
            else
                same->second += ", " + family;
            roles[u.Pin] = u.What;
        }
    }
    // In the order of adapter::Role: enable, reset, mode, clock, data out, data in.
    static constexpr const char* kColours[] = {"#7b3fa0", "#c0392b", "#d35400",
                                               "#2471a3", "#1e8449", "#b7950b"};
    static_assert(std::size(kColours) == adapter::kRoles.size());
    auto colour = [](Role r) { return kColours[static_cast<size_t>(r)]; };
    // Pin centres: 1..13 on the upper row from the left, 14..25 on the lower row.
    auto x = [](int pin) { return pin <= 13 ? 120 + (pin - 1) * 40 : 140 + (pin - 14) * 40; };
    auto y = [](int pin) { return pin <= 13 ? 170 : 210; };

    std::ostringstream o;
    const int width = 840, height = 560;
    o << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<title>tondrel adapter: DB-25 plug seen from its pins</title>\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n"
      << "<text x=\"20\" y=\"24\" font-size=\"15\" font-weight=\"bold\">DB-25 plug of the "
         "adapter cable, seen from its pins (the PC's socket shows the mirror image)</text>\n"
      // The shell: the wide row on top.
      << "<path d=\"M 90 140 L 630 140 L 610 240 L 110 240 Z\" fill=\"#e8e8e8\" "
         "stroke=\"#555\" stroke-width=\"2\"/>\n";
    for (int pin = 1; pin <= 25; ++pin) {
        const bool ground = pin >= 18;
        const bool used = labels.count(pin) != 0;
        const char* fill = used ? colour(roles[pin]) : ground ? "#333" : "#fff";
        o << "<circle cx=\"" << x(pin) << "\" cy=\"" << y(pin) << "\" r=\"12\" fill=\"" << fill
          << "\" stroke=\"#333\"/>\n"
          << "<text x=\"" << x(pin) << "\" y=\"" << y(pin) + 4
          << "\" text-anchor=\"middle\" font-size=\"11\" font-weight=\"bold\" fill=\""
          << (used || ground ? "#fff" : "#333") << "\">" << pin << "</text>\n";
    }
    // Labels: upper-row pins lead upwards to the legend on the left, lower-row pins downwards.
    int row = 0;
    for (const auto& [pin, texts] : labels) {
        const int legendY = 290 + row * 34;
        const char* c = colour(roles[pin]);
        o << "<polyline points=\"" << x(pin) << "," << y(pin) + (pin <= 13 ? -12 : 12) << " "
          << x(pin) << "," << (pin <= 13 ? 120 : 255) << "\" stroke=\"" << c
          << "\" fill=\"none\" stroke-width=\"2\"/>\n";
        if (pin <= 13)
            o << "<text x=\"" << x(pin) << "\" y=\"112\" text-anchor=\"middle\" fill=\"" << c
              << "\" font-weight=\"bold\">" << Lpt(pin).Name << "</text>\n";
        else
            o << "<text x=\"" << x(pin) << "\" y=\"270\" text-anchor=\"middle\" fill=\"" << c
              << "\" font-weight=\"bold\">" << Lpt(pin).Name << "</text>\n";
        o << "<circle cx=\"30\" cy=\"" << legendY - 4 << "\" r=\"9\" fill=\"" << c << "\"/>"
          << "<text x=\"30\" y=\"" << legendY
          << "\" text-anchor=\"middle\" font-size=\"10\" fill=\"#fff\">" << pin << "</text>\n";
        std::string joined;
        for (const auto& [signal, families] : texts)
            joined += (joined.empty() ? "" : "; ") + families + ": " + signal;
        o << "<text x=\"48\" y=\"" << legendY << "\">pin " << pin << " (" << Lpt(pin).Name
          << "): " << Escape(joined) << "</text>\n";
        ++row;
    }
    const int groundY = 290 + row * 34;
    o << "<circle cx=\"30\" cy=\"" << groundY - 4 << "\" r=\"9\" fill=\"#333\"/>"
      << "<text x=\"48\" y=\"" << groundY
      << "\">pins 18–25: ground, joined to the target's ground</text>\n"
      << "<text x=\"20\" y=\"" << groundY + 34
      << "\" fill=\"#555\">The adapter buffers these lines and switches the target's lines only "
         "while pin 14 is low.</text>\n"
      << "</svg>\n";
    return o.str();
}

// ---- splicing ----

bool Splice(std::string& html, const std::string& name, const std::string& content,
            std::string& error) {
    const std::string begin = "<!-- generated:" + name + " -->";
    const std::string end = "<!-- end generated:" + name + " -->";
    const size_t b = html.find(begin);
    const size_t e = html.find(end);
    if (b == std::string::npos || e == std::string::npos || e < b) {
        error = "the manual has no section marked " + begin + " … " + end;
        return false;
    }
    html.replace(b + begin.size(), e - b - begin.size(), "\n" + content);
    return true;
}

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::error_code ec;
    const auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
    std::string templatePath, htmlPath, svgPath, dbPath;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= argc) return false;
            v = argv[++i];
            return true;
        };
        bool ok = true;
        if (a == "--template")
            ok = value(templatePath);
        else if (a == "--html")
            ok = value(htmlPath);
        else if (a == "--svg")
            ok = value(svgPath);
        else if (a == "--db")
            ok = value(dbPath);
        else if (a == "--check")
            check = true;
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr,
                         "usage: %s --template IN --html OUT --svg OUT --db SCRATCH [--check]\n",
                         argv[0]);
            return 2;
        }
    }
    if (templatePath.empty() || htmlPath.empty() || svgPath.empty() || dbPath.empty()) {
        std::fprintf(stderr, "tondrel-manual-gen: --template, --html, --svg and --db are needed\n");
        return 2;
    }

    // The catalogue exactly as a first start creates it.
    std::error_code ec;
    std::filesystem::remove(dbPath, ec);
    std::string error;
    std::vector<ChipRecord> chips;
    {
        auto db = db::Database::Open(dbPath);
        auto listed = db ? (*db)->ListChips() : Result<std::vector<ChipRecord>>(db.GetStatus());
        if (!listed) {
            std::fprintf(stderr, "tondrel-manual-gen: %s\n",
                         listed.Error().Text(Language::English).c_str());
            return 1;
        }
        chips = std::move(*listed);
    }
    std::filesystem::remove(dbPath, ec);

    std::vector<EngineMap> maps;
    std::string html;
    if (!EngineMaps(chips, maps, error) || !ReadFile(templatePath, html)) {
        std::fprintf(stderr, "tondrel-manual-gen: %s\n",
                     error.empty() ? ("cannot read " + templatePath).c_str() : error.c_str());
        return 1;
    }
    const std::string packages = PackageSection(maps, chips, error);
    const std::string trouble = error.empty() ? TroubleSection(error) : "";
    if (!error.empty() ||
        !Splice(html, "version", std::string("<p class=\"version\">tondrel ") + kVersion + "</p>\n",
                error) ||
        !Splice(html, "chips", ChipSection(chips), error) ||
        !Splice(html, "pins", PinSection(maps), error) ||
        !Splice(html, "packages", packages, error) || !Splice(html, "trouble", trouble, error)) {
        std::fprintf(stderr, "tondrel-manual-gen: %s\n", error.c_str());
        return 1;
    }
    const std::string svg = WiringSvg(maps);

    if (check) {
        std::string oldHtml, oldSvg;
        ReadFile(htmlPath, oldHtml);
        ReadFile(svgPath, oldSvg);
        bool same = true;
        if (oldHtml != html) {
            std::fprintf(stderr, "%s is not what the code says today\n", htmlPath.c_str());
            same = false;
        }
        if (oldSvg != svg) {
            std::fprintf(stderr, "%s is not what the code says today\n", svgPath.c_str());
            same = false;
        }
        if (!same) std::fprintf(stderr, "regenerate it: ninja -C BUILD update-manual\n");
        return same ? 0 : 1;
    }
    if (!WriteFile(htmlPath, html) || !WriteFile(svgPath, svg)) {
        std::fprintf(stderr, "tondrel-manual-gen: cannot write %s or %s\n", htmlPath.c_str(),
                     svgPath.c_str());
        return 1;
    }
    return 0;
}
