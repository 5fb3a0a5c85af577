#include "cli/CliArgs.h"

#include <cstdint>
#include <set>

#include "common/Text.h"
#include "config/ConfigCommands.h"

namespace tondrel::cli {

namespace {

// One to four hexadecimal digits, 0x allowed, at most 0x3FFF: a PIC program word.
bool IsPicWord(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    return text.size() <= 4 && ParseNumber(text, NumberStyle::Hex, 0, 0x3FFF).has_value();
}

// How many arguments each command takes: minimum and maximum (-1 = any).
struct Arity {
    int Min;
    int Max;
};

const std::vector<std::pair<std::string, Arity>>& Commands() {
    static const std::vector<std::pair<std::string, Arity>> commands = {
        {"hardware", {0, 0}},     {"search", {0, 0}},        {"chips", {0, 1}},
        {"signature", {0, 0}},    {"erase", {0, 0}},         {"write-flash", {1, 1}},
        {"write-eeprom", {1, 1}}, {"read-flash", {1, 1}},    {"read-eeprom", {1, 1}},
        {"verify-flash", {1, 1}}, {"verify-eeprom", {1, 1}}, {"auto", {0, 0}},
        {"reset", {0, 0}},        {"mode", {1, 1}},          {"tool-path", {2, 2}},
        {"config", {1, -1}},
    };
    return commands;
}

// The options that only switch something on.
bool* FlagOf(const std::string& name, CliArgs& out) {
    if (name == "--no-verify") return &out.NoVerify;
    if (name == "--write-ff") return &out.WriteFF;
    if (name == "--yes-end-serial-programming") return &out.YesEndSerial;
    if (name == "--yes-external-clock") return &out.YesExternalClock;
    if (name == "--yes-lock") return &out.YesLock;
    if (name == "--dry-run") return &out.DryRun;
    if (name == "--write-fuses-from-file") return &out.WriteFusesFromFile;
    if (name == "--repeat" && out.Command == "auto") return &out.Repeat;
    if (name == "--json") return &out.Json;
    return nullptr;
}

const std::set<std::string>& ConfigVerbs() {
    static const std::set<std::string> verbs = {"show",        "write",  "set",  "mode",
                                                "calibration", "userid", "word", "erase"};
    return verbs;
}

}  // namespace

std::string UsageText() {
    return R"(usage: tondrel-cli [options] COMMAND [ARGS]

Commands:
  hardware                 identify the programming adapter
  search                   find the chip on the adapter by its signature
  chips [FRAGMENT]         list the chip catalogue (names containing FRAGMENT)
  signature                show the chip and the signature it answers with
  erase                    erase the chip
  write-flash FILE         load FILE and write it to the Flash, then read the written range
                           back and compare (see --no-verify-after)
  write-eeprom FILE        load FILE and write it to the EEPROM, then compare likewise
  read-flash FILE          read the whole Flash and save it to FILE (- for standard output)
  read-eeprom FILE         read the whole EEPROM and save it to FILE (- for standard output)
  verify-flash FILE        read the Flash back and compare it with FILE
  verify-eeprom FILE       read the EEPROM back and compare it with FILE
  auto [--flash FILE] [--eeprom FILE]
                           auto programming: reload files, erase, write Flash and EEPROM,
                           each write compared with the chip afterwards (see --no-verify-after);
                           stops before erasing when a file does not load or holds no data
      --[no-]update-flash  --[no-]update-eeprom  --[no-]erase  --[no-]write-flash
      --[no-]write-eeprom  the five steps (default: the stored choice)
      --serial [flash:|eeprom:]ADDRESS:LENGTH[:little|big][:bin|bcd|dec|hex]
                           write a number of its own into each chip: LENGTH bytes at
                           ADDRESS of the Flash (the default) or the EEPROM, as a binary
                           number (bin, the default, least significant byte first unless
                           big), packed BCD, or ASCII decimal or hexadecimal digits (most
                           significant first unless little); refused before anything is
                           written when the number does not fit, the field lies beyond the
                           memory or overlaps the file's data
      --serial-start N     the first number of a new counter (default 0)
      --serial-step N      how far the counter moves per chip (default 1)
                           The counter is kept in the database for the Flash file (else the
                           EEPROM file) by its full path, and moves on only for a chip that
                           was written and read back; a failed chip's number goes to the next
                           chip. Runs at the same time never write the same number.
      --repeat             after each chip, wait until it is taken out and the next one put
                           in, and program that one, until Ctrl+C; a failed chip does not end
                           the loop; the count and the tally of passed and failed chips close it
  reset                    restart the target (enter and leave programming mode)
  mode MCU|ALTERA|XILINX|LATTICE|EPROM3|ARM|MSP430
                           switch the adapter's download mode
  tool-path MODE PATH      store the external program launched for MODE
  config show              the configuration bytes of the chip as hex, then each field as
                           NAME=value (meaning), then the boxes and their states
  config set NAME=VALUE ...
                           set fields (CKSEL=0010 EESAVE=0), whole bytes (lfuse=0xE2, hfuse,
                           efuse, lock) or boxes (FL1=on), then write and read back each byte
  config write GROUP BOX=on|off ...
                           tick or clear boxes of GROUP as clicks would, then write it
      --dry-run            say what a config write would change and write nothing
  config mode N            apply protection mode N (1-based)
  config calibration       read the calibration bytes
  config userid N WORD     write PIC user ID N (0..3) as WORD (hexadecimal)
  config word WORD         write the PIC configuration word (hexadecimal)
  config erase             PIC: erase everything, code protection included

FILE: .hex (and .eep for the EEPROM) is Intel HEX, .bin raw binary, anything else a
decimal list (idf). Loading also reads .elf (an AVR program: its Flash sections, or .eeprom for
the EEPROM) and Motorola S-records (.srec, .s19, .s28, .s37, .mot); an ELF file or S-records
are recognised by their content whatever the name. Saving writes Intel HEX, raw binary or idf
by the same extensions.

Every chip command first checks that a chip answers (the programming-enable echo, a
signature that is not all 00 or all FF, a PIC device ID) and fails when none does; the
AT89S8252 and AT89S8253 have no signature, so for them this is said to be unchecked.

Options:
  --port PORT        sim:CHIP[@gen1|@gen1v2|@gen2][@CLOCK], sim:empty, sim:none,
                     sim:byteblaster, sim:byteblastermv, ppdev[:DEVICE], direct[:0xBASE],
                     ftdi[:VID:PID[:SERIAL]] (a USB bit-bang adapter: AT89S and AVR only)
                     (CLOCK: the board's crystal, such as 16MHz)
                     (default: ppdev on the chosen LPT)
  --ftdi-pins MAP    bit-bang pins of an FTDI adapter, e.g. RESET=4,SCK=0,MOSI=2,MISO=1,BUFF=~3
                     (default: the FT232R ISP boards' RESET=4,SCK=0,MOSI=2,MISO=1)
  --lpt 1|2|3        parallel port (default: the stored choice)
  --sim-state FILE   keep the simulated chip's memory in FILE between runs
                     (default: ~/.local/state/tondrel/CHIP.state)
  --database PATH    the chip database (default: $XDG_DATA_HOME/tondrel/chip.db)
  --lang en|zh       language of the messages (stored for the next run)
  --speed N          each serial clock phase N ns long, 0..300000: SCK = 500000/N kHz, at
                     most 500 kHz (a port access per phase); 2000 gives 250 kHz, 65536 7.6 kHz.
                     Slowed down by itself for a chip that needs it; stored after a good
                     Flash write
  --chip NAME        take the chip from the catalogue instead of searching
  --no-verify        do not poll each byte (or, in page mode, one byte of each page)
                     while writing it
  --verify-after, --no-verify-after
                     after a write, read the whole written range back and compare it,
                     naming the first differing addresses and their count (default: on,
                     the stored choice)
  --check-blank, --no-check-blank
                     with that read-back, also check that the addresses the file does not
                     fill read blank (default: off, the stored choice)
  --write-ff         also write bytes that are 0xFF
  --yes, --no        answer every question Yes / No (but see below); without them and
                     without a terminal, the answer that destroys nothing (No to erasing
                     or overwriting, Yes to "terminate?")
  --yes-end-serial-programming
                     with --yes: answer Yes to a configuration write after which the chip
                     no longer answers serial programming (RSTDISBL, DWEN, SPIEN, SerialPrg)
  --yes-external-clock
                     with --yes: answer Yes to a clock source other than the internal RC
                     (the chip then runs only on the board's crystal or clock)
  --yes-lock         with --yes: answer Yes to lock bits and code protection (CP, CPD)
  --write-fuses-from-file
                     with write-flash, write-eeprom or auto: afterwards write the fuses and
                     lock bits the ELF file carries (avr-gcc's FUSES and LOCKBITS) as config
                     set would, with the same questions and read-back; refused when the file
                     is for another chip; with --dry-run, write nothing and say what they
                     would change
                     --yes alone answers none of these three
  --quiet            print results and errors only (errors always go to standard error)
  --json             print one JSON object a line on standard output for each operation
                     (each chip of auto): chip, signature, files and their CRC-32, bytes
                     written and verified, speed, serial number, result, duration; and a
                     last one for the run; everything else then goes to standard error
  --log FILE         append the same JSON lines to FILE
  -h, --help         this text
  --version          print the program's version

Exit status: 0 success, 1 the operation failed (no adapter, no chip, a byte that does not
write or verify, a bad file, auto programming that ended without programming), 2 usage
error.
)";
}

bool ParseArgs(const std::vector<std::string>& argv, CliArgs& out, std::string& error) {
    auto need = [&](size_t& i, const std::string& name, std::string& value) {
        if (i + 1 >= argv.size()) {
            error = "option " + name + " needs a value";
            return false;
        }
        value = argv[++i];
        return true;
    };
    struct Flag {
        const char* Name;
        std::optional<bool> CliArgs::*Member;
    };
    static const Flag flags[] = {
        {"update-flash", &CliArgs::UpdateFlash},
        {"update-eeprom", &CliArgs::UpdateEEPROM},
        {"erase", &CliArgs::Erase},
        {"write-flash", &CliArgs::WriteFlash},
        {"write-eeprom", &CliArgs::WriteEEPROM},
    };

    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        std::string value;
        if (a.size() > 2 && a.rfind("--", 0) == 0) {
            // --name=value is the same as --name value
            std::string name = a;
            std::optional<std::string> inlineValue;
            if (auto eq = a.find('='); eq != std::string::npos) {
                name = a.substr(0, eq);
                inlineValue = a.substr(eq + 1);
            }
            auto take = [&](std::string& v) {
                if (inlineValue) {
                    v = *inlineValue;
                    return true;
                }
                return need(i, name, v);
            };
            auto noValue = [&]() {
                if (!inlineValue) return true;
                error = "option " + name + " takes no value";
                return false;
            };
            if (name == "--port") {
                if (!take(out.Port)) return false;
            } else if (name == "--lpt") {
                if (!take(value)) return false;
                const auto lpt = ParseNumber(value, NumberStyle::Decimal, 1, 3);
                if (!lpt) {
                    error = "--lpt takes 1, 2 or 3, not '" + value + "'";
                    return false;
                }
                out.Lpt = static_cast<int>(*lpt);
            } else if (name == "--sim-state") {
                if (!take(out.SimState)) return false;
            } else if (name == "--ftdi-pins") {
                if (!take(out.FtdiPins)) return false;
            } else if (name == "--database") {
                if (!take(out.Database)) return false;
            } else if (name == "--lang") {
                if (!take(value)) return false;
                if (value == "en") {
                    out.Language = 1;
                } else if (value == "zh") {
                    out.Language = 2;
                } else {
                    error = "--lang takes en or zh, not '" + value + "'";
                    return false;
                }
            } else if (name == "--speed") {
                if (!take(value)) return false;
                const auto speed = ParseNumber(value, NumberStyle::Decimal, 0, 300000);
                if (!speed) {
                    error = "--speed takes a number from 0 to 300000, not '" + value + "'";
                    return false;
                }
                out.Speed = static_cast<int>(*speed);
            } else if (name == "--chip") {
                if (!take(out.ChipName)) return false;
            } else if (name == "--flash" && out.Command == "auto") {
                if (!take(out.AutoFlash)) return false;
            } else if (name == "--eeprom" && out.Command == "auto") {
                if (!take(out.AutoEEPROM)) return false;
            } else if (name == "--serial" && out.Command == "auto") {
                if (!take(value)) return false;
                auto field = ParseSerialField(value);
                if (!field) {
                    // The parser names the part that is wrong; the board's ">>" has no place here.
                    std::string why = field.Error().Text(Language::English);
                    if (why.rfind(">>", 0) == 0) why.erase(0, 2);
                    error = "--serial: " + why;
                    return false;
                }
                out.Serial = *field;
            } else if ((name == "--serial-start" || name == "--serial-step") &&
                       out.Command == "auto") {
                if (!take(value)) return false;
                const bool step = name == "--serial-step";
                const auto number =
                    ParseNumber(value, NumberStyle::DecimalOrHex, step ? 1 : 0, INT64_MAX / 2);
                if (!number) {
                    error = name + " takes a number from " + (step ? "1" : "0") + ", not '" +
                            value + "'";
                    return false;
                }
                (step ? out.SerialStep : out.SerialStart) = *number;
            } else if (name == "--log") {
                if (!take(out.LogFile)) return false;
            } else if (bool* flag = FlagOf(name, out)) {
                if (!noValue()) return false;
                *flag = true;
            } else if (name == "--yes" || name == "--no") {
                if (!noValue()) return false;
                out.Answer = name == "--yes";
            } else if (name == "--quiet") {
                if (!noValue()) return false;
                out.Quiet = true;
            } else if (name == "--verify-after" || name == "--no-verify-after") {
                if (!noValue()) return false;
                out.VerifyAfter = name == "--verify-after";
            } else if (name == "--check-blank" || name == "--no-check-blank") {
                if (!noValue()) return false;
                out.CheckBlank = name == "--check-blank";
            } else if (name == "--help") {
                out.Help = true;
            } else if (name == "--version") {
                if (!noValue()) return false;
                out.Version = true;
            } else {
                bool matched = false;
                if (out.Command == "auto") {
                    for (const Flag& f : flags) {
                        if (name == std::string("--") + f.Name) {
                            out.*(f.Member) = true;
                            matched = true;
                        } else if (name == std::string("--no-") + f.Name) {
                            out.*(f.Member) = false;
                            matched = true;
                        }
                    }
                }
                if (!matched) {
                    error = "unknown option " + name;
                    return false;
                }
                if (!noValue()) return false;
            }
            continue;
        }
        if (a == "-h") {
            out.Help = true;
            continue;
        }
        if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        }
        if (out.Command.empty()) {
            out.Command = a;
        } else {
            out.Args.push_back(a);
        }
    }
    if (out.Help || out.Version) return true;
    if (out.Command.empty()) {
        error = "no command given (try --help)";
        return false;
    }
    const Arity* arity = nullptr;
    for (const auto& [name, ar] : Commands())
        if (name == out.Command) arity = &ar;
    if (!arity) {
        error = "unknown command " + out.Command + " (try --help)";
        return false;
    }
    const int n = static_cast<int>(out.Args.size());
    if (n < arity->Min || (arity->Max >= 0 && n > arity->Max)) {
        error = "wrong number of arguments for " + out.Command + " (try --help)";
        return false;
    }
    if (out.WriteFusesFromFile && out.Command != "write-flash" && out.Command != "write-eeprom" &&
        out.Command != "auto") {
        error = "--write-fuses-from-file goes with write-flash, write-eeprom or auto";
        return false;
    }
    if (out.DryRun && out.Command != "config" && !out.WriteFusesFromFile) {
        error = "--dry-run goes with config or --write-fuses-from-file";
        return false;
    }
    if (out.DryRun && out.Command == "auto" && (out.Repeat || out.Serial || out.Json)) {
        error = "--dry-run goes with one auto programming, not with --repeat, --serial or --json";
        return false;
    }
    if (out.Json && out.Command.rfind("read-", 0) == 0 && out.Args.size() == 1 &&
        out.Args[0] == "-") {
        error = "--json keeps standard output for its lines: read into a file, not -";
        return false;
    }
    // Whether the read-back is on is known once the stored plan is read: checked then.
    if (out.Serial && out.AutoFlash.empty() && out.AutoEEPROM.empty()) {
        error = "--serial needs --flash or --eeprom: the counter belongs to the project file";
        return false;
    }
    if (out.Command == "config") {
        const std::string& verb = out.Args[0];
        if (!ConfigVerbs().count(verb)) {
            error = "unknown config operation " + verb + " (try --help)";
            return false;
        }
        const size_t need_args = verb == "write"    ? 2
                                 : verb == "set"    ? 2
                                 : verb == "mode"   ? 2
                                 : verb == "userid" ? 3
                                 : verb == "word"   ? 2
                                                    : 1;
        const bool open = verb == "write" || verb == "set";
        if (out.Args.size() < need_args || (!open && out.Args.size() != need_args)) {
            error = "wrong number of arguments for config " + verb + " (try --help)";
            return false;
        }
        // Numbers are checked here, so a typing error is a usage error before any port opens.
        const auto& a = out.Args;
        if (verb == "mode" && !ParseNumber(a[1], NumberStyle::Decimal, 1, 99)) {
            error = "config mode takes a protection mode number, not '" + a[1] + "'";
            return false;
        }
        // One reading of the settings and the numbers for the parser and the command.
        if (open) {
            const std::vector<std::string> settings(a.begin() + (verb == "write" ? 2 : 1), a.end());
            if (const auto twice = config::RepeatedName(settings)) {
                error = "config " + verb + " names " + *twice + " twice";
                return false;
            }
        }
        if (verb == "userid" && !config::ParseUserIdIndex(a[1])) {
            error = "config userid takes an ID number 0..3 (or 0x2000..0x2003), not '" + a[1] + "'";
            return false;
        }
        if ((verb == "userid" || verb == "word") && !IsPicWord(a.back())) {
            error = "config " + verb + " takes a 14-bit hexadecimal word, not '" + a.back() + "'";
            return false;
        }
    }
    return true;
}

}  // namespace tondrel::cli
