#include "cli/CliArgs.h"

#include <charconv>
#include <set>

namespace tondrel::cli {

namespace {

bool ParseInt(const std::string& text, int& value) {
    if (text.empty()) return false;
    int base = 10;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        first += 2;
    }
    auto [ptr, ec] = std::from_chars(first, last, value, base);
    return ec == std::errc() && ptr == last;
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

const std::set<std::string>& ConfigVerbs() {
    static const std::set<std::string> verbs = {"show",   "write", "mode", "calibration",
                                                "userid", "word",  "erase"};
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
  write-flash FILE         load FILE and write it to the Flash, verifying each byte
  write-eeprom FILE        load FILE and write it to the EEPROM
  read-flash FILE          read the whole Flash and save it to FILE
  read-eeprom FILE         read the whole EEPROM and save it to FILE
  verify-flash FILE        read the Flash back and compare it with FILE
  verify-eeprom FILE       read the EEPROM back and compare it with FILE
  auto [--flash FILE] [--eeprom FILE]
                           auto programming: reload files, erase, write Flash and EEPROM
      --[no-]update-flash  --[no-]update-eeprom  --[no-]erase  --[no-]write-flash
      --[no-]write-eeprom  the five steps (default: the stored choice)
  reset                    restart the target (enter and leave programming mode)
  mode MCU|ALTERA|XILINX|LATTICE|EPROM3|ARM|MSP430
                           switch the adapter's download mode
  tool-path MODE PATH      store the external program launched for MODE
  config show              the configuration bits of the chip (groups, boxes, states)
  config write GROUP BOX=on|off ...
                           tick or clear boxes of GROUP as clicks would, then write it
  config mode N            apply protection mode N (1-based)
  config calibration       read the calibration bytes
  config userid N WORD     write PIC user ID N (0..3) as WORD (hexadecimal)
  config word WORD         write the PIC configuration word (hexadecimal)
  config erase             PIC: erase everything, code protection included

FILE: .hex (and .eep for the EEPROM) is Intel HEX, .bin raw binary, anything else a
decimal list (idf).

Options:
  --port PORT        sim:CHIP[@gen1|@gen1v2|@gen2], sim:empty, sim:none, sim:byteblaster,
                     sim:byteblastermv, ppdev[:DEVICE], direct[:0xBASE]
                     (default: ppdev on the chosen LPT)
  --lpt 1|2|3        parallel port (default: the stored choice)
  --sim-state FILE   keep the simulated chip's memory in FILE between runs
                     (default: ~/.local/state/tondrel/CHIP.state)
  --database PATH    the chip database (default: $XDG_DATA_HOME/tondrel/chip.db)
  --lang en|zh       language of the messages (stored for the next run)
  --speed N          clock delay 0..300000 (0 fastest); stored after a good Flash write
  --chip NAME        take the chip from the catalogue instead of searching
  --no-verify        do not read back each byte after writing it
  --write-ff         also write bytes that are 0xFF
  --yes, --no        answer every question Yes / No, except as below
  --yes-end-serial-programming
                     answer Yes to a configuration write after which the chip can no
                     longer be programmed serially (RSTDISBL, DWEN, SPIEN, SerialPrg);
                     --yes alone does not
  --quiet            print results and errors only
  --help             this text

Exit status: 0 success, 1 the operation failed, 2 usage error.
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
                if (!ParseInt(value, out.Lpt) || out.Lpt < 1 || out.Lpt > 3) {
                    error = "--lpt takes 1, 2 or 3, not '" + value + "'";
                    return false;
                }
            } else if (name == "--sim-state") {
                if (!take(out.SimState)) return false;
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
                int speed = 0;
                if (!ParseInt(value, speed) || speed < 0 || speed > 300000) {
                    error = "--speed takes a number from 0 to 300000, not '" + value + "'";
                    return false;
                }
                out.Speed = speed;
            } else if (name == "--chip") {
                if (!take(out.ChipName)) return false;
            } else if (name == "--flash" && out.Command == "auto") {
                if (!take(out.AutoFlash)) return false;
            } else if (name == "--eeprom" && out.Command == "auto") {
                if (!take(out.AutoEEPROM)) return false;
            } else if (name == "--no-verify") {
                if (!noValue()) return false;
                out.NoVerify = true;
            } else if (name == "--write-ff") {
                if (!noValue()) return false;
                out.WriteFF = true;
            } else if (name == "--yes-end-serial-programming") {
                if (!noValue()) return false;
                out.YesEndSerial = true;
            } else if (name == "--yes" || name == "--no") {
                if (!noValue()) return false;
                out.Answer = name == "--yes";
            } else if (name == "--quiet") {
                if (!noValue()) return false;
                out.Quiet = true;
            } else if (name == "--help") {
                out.Help = true;
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
        if (out.Command.empty()) {
            out.Command = a;
        } else {
            out.Args.push_back(a);
        }
    }
    if (out.Help) return true;
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
    if (out.Command == "config") {
        const std::string& verb = out.Args[0];
        if (!ConfigVerbs().count(verb)) {
            error = "unknown config operation " + verb + " (try --help)";
            return false;
        }
        const size_t need_args = verb == "write"    ? 2
                                 : verb == "mode"   ? 2
                                 : verb == "userid" ? 3
                                 : verb == "word"   ? 2
                                                    : 1;
        const bool open = verb == "write";
        if (out.Args.size() < need_args || (!open && out.Args.size() != need_args)) {
            error = "wrong number of arguments for config " + verb + " (try --help)";
            return false;
        }
    }
    return true;
}

}  // namespace tondrel::cli
