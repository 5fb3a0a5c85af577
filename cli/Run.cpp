#include "cli/Run.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/Text.h"
#include "config/ConfigCommands.h"
#include "config/ConfigForm.h"
#include "core/Ports.h"
#include "core/Session.h"
#include "db/Database.h"

namespace tondrel::cli {

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// The configuration dialogs' boxes and messages, on the terminal.
class TerminalPrompts : public config::ConfigPrompts {
  public:
    explicit TerminalPrompts(TerminalView& view) : view_(view) {}
    bool AskYesNo(const std::string& text) override { return view_.AskYesNo(text); }
    bool Ask(const std::string& text, core::QuestionKind kind) override {
        return view_.Ask(text, kind);
    }
    void Inform(const std::string& text) override { view_.Result(text); }
    void AppendMessage(const std::string& line) override { view_.AppendLine(line); }

  private:
    TerminalView& view_;
};

std::string ChipLine(const ChipRecord& c) {
    char text[160];
    std::snprintf(text, sizeof text, "%-14s method %d  Flash %6d  EEPROM %5d  page %3d  %s",
                  c.Name.c_str(), MethodCode(c.MethodCode), c.FlashSize, c.EEPROMSize, c.PageSize,
                  c.Signature.c_str());
    return text;
}

// Without --sim-state a simulated chip still keeps its memory between runs, as a real one
// would: one file per bench name under $XDG_STATE_HOME/tondrel (~/.local/state/tondrel).
std::string DefaultSimState(const std::string& port) {
    if (port.rfind("sim:", 0) != 0) return {};
    namespace fs = std::filesystem;
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    fs::path dir;
    if (state && *state == '/') {
        dir = fs::path(state) / "tondrel";
    } else if (home && *home) {
        dir = fs::path(home) / ".local" / "state" / "tondrel";
    } else {
        return {};
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return {};
    std::string name = port.substr(4);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return (dir / (name + ".state")).string();
}

bool NeedsChip(const std::string& command) {
    return command != "hardware" && command != "mode" && command != "tool-path";
}

class Runner {
  public:
    Runner(const CliArgs& args, TerminalView& view, db::Database& db, core::PortSet& ports)
        : args_(args), view_(view), session_(view, db, ports), db_(db) {}

    int Go() {
        if (args_.Lpt != 0) session_.PortBaseOverride = core::BaseForLpt(args_.Lpt);
        // A script asked for one command: the adapter's stored download mode and its external
        // tool are the window's start-up business.
        session_.RestoreModeAtStart = false;
        std::string error;
        if (!session_.Start(error)) {
            view_.Error("cannot read the settings: " + error);
            return kFailed;
        }
        if (args_.Language != 0) session_.SetLanguageCode(args_.Language);
        // One-off flags of this run; the stored choices are put back before the settings are
        // written, so a flag never changes the next run's defaults.
        const bool stored[6] = {session_.isUpdateFlashFile, session_.isUpdateEEPROMfile,
                                session_.isEraseAll,        session_.isWriteFlash,
                                session_.isWriteEEPROM,     session_.isVerifyAfter};
        if (args_.VerifyAfter) session_.isVerifyAfter = *args_.VerifyAfter;
        const int status = Command();
        session_.isUpdateFlashFile = stored[0];
        session_.isUpdateEEPROMfile = stored[1];
        session_.isEraseAll = stored[2];
        session_.isWriteFlash = stored[3];
        session_.isWriteEEPROM = stored[4];
        session_.isVerifyAfter = stored[5];
        // A refused settings update is said on the board; the command's own result stands.
        session_.SaveSettings();
        return status;
    }

  private:
    // The chip: from the catalogue (--chip) or found on the adapter.
    bool GetChip() {
        if (args_.NoVerify && session_.MisautoVerify) session_.ToggleAutoVerify();
        if (args_.WriteFF && !session_.Miswrite0xff) session_.ToggleWriteBlank();
        if (!args_.ChipName.empty()) {
            auto record = db_.ChipByName(args_.ChipName);
            if (!record) {
                view_.Error("no chip named " + args_.ChipName + " in the catalogue (see: chips)");
                return false;
            }
            // The chip dialog does not look at the adapter; a command line should, or every
            // later step would fail byte by byte on an empty port.
            if (!session_.DetectHardware()) return false;
            session_.SelectChip(*record);
        } else if (!session_.AutoSearch()) {
            return false;
        }
        // An explicit speed wins over the chip's stored one.
        if (args_.Speed) session_.SetSpeed(*args_.Speed);
        return true;
    }

    bool Load(bool flash, const std::string& path) {
        return flash ? session_.LoadFlashFile(path) : session_.LoadEEPROMFile(path);
    }

    bool HasSide(bool flash) {
        const int32_t size = flash ? session_.Chip.FlashSize : session_.Chip.EEPROMSize;
        if (size >= 1) return true;
        view_.Error(session_.Chip.CurrentChipName + " has no " + (flash ? "Flash" : "EEPROM"));
        return false;
    }

    int Command() {
        const std::string& c = args_.Command;
        if (c == "hardware") {
            if (!session_.DetectHardware()) return kFailed;
            view_.Result(view_.Label("HardwareVer") + "  " + view_.Label("hardware1") + "  " +
                         view_.Label("hardware2"));
            return kOk;
        }
        if (c == "mode") {
            const int mode = core::ModeFromName(args_.Args[0]);
            if (mode == 0) {
                view_.Error("unknown mode " + args_.Args[0] +
                            " (MCU, ALTERA, XILINX, LATTICE, EPROM3, ARM, MSP430)");
                return kUsage;
            }
            session_.SwitchMode(mode);
            if (!session_.AdapterPresent()) return kFailed;
            view_.Result(view_.Label("ispstatus"));
            return kOk;
        }
        if (c == "tool-path") {
            const int mode = core::ModeFromName(args_.Args[0]);
            if (mode == 0) {
                view_.Error("unknown mode " + args_.Args[0]);
                return kUsage;
            }
            return session_.SetToolPath(mode, args_.Args[1]) ? kOk : kFailed;
        }
        if (!NeedsChip(c) || !GetChip()) return kFailed;
        if (c == "search") {
            view_.Result(session_.Chip.CurrentChipName);
            return kOk;
        }
        if (c == "signature") {
            std::string signature;
            if (!session_.ReadSignature(signature)) return kFailed;
            view_.Result(session_.Chip.CurrentChipName + "  " +
                         (signature.empty() ? std::string("(this chip has no readable signature)")
                                            : signature));
            return kOk;
        }
        if (c == "erase") return session_.EraseTarget() ? kOk : kFailed;
        if (c == "reset") return session_.CheckChip() && session_.ResetTarget() ? kOk : kFailed;
        if (c == "write-flash" || c == "write-eeprom") {
            const bool flash = c == "write-flash";
            if (!HasSide(flash) || !Load(flash, args_.Args[0])) return kFailed;
            return (flash ? session_.WriteFlash() : session_.WriteEEPROM()) ? kOk : kFailed;
        }
        if (c == "read-flash" || c == "read-eeprom") {
            const bool flash = c == "read-flash";
            if (!HasSide(flash)) return kFailed;
            if (!(flash ? session_.ReadFlash() : session_.ReadEEPROM())) return kFailed;
            return (flash ? session_.SaveFlashFile(args_.Args[0])
                          : session_.SaveEEPROMFile(args_.Args[0]))
                       ? kOk
                       : kFailed;
        }
        if (c == "verify-flash" || c == "verify-eeprom") {
            const bool flash = c == "verify-flash";
            if (!HasSide(flash) || !Load(flash, args_.Args[0])) return kFailed;
            return (flash ? session_.VerifyFlash() : session_.VerifyEEPROM()) ? kOk : kFailed;
        }
        if (c == "auto") return Auto();
        if (c == "config") return Config();
        return kUsage;
    }

    int Auto() {
        if (!args_.AutoFlash.empty() && !Load(true, args_.AutoFlash)) return kFailed;
        if (!args_.AutoEEPROM.empty() && !Load(false, args_.AutoEEPROM)) return kFailed;
        if (args_.UpdateFlash) session_.isUpdateFlashFile = *args_.UpdateFlash;
        if (args_.UpdateEEPROM) session_.isUpdateEEPROMfile = *args_.UpdateEEPROM;
        if (args_.Erase) session_.isEraseAll = *args_.Erase;
        if (args_.WriteFlash) session_.isWriteFlash = *args_.WriteFlash;
        if (args_.WriteEEPROM) session_.isWriteEEPROM = *args_.WriteEEPROM;
        return session_.AutoProgram() ? kOk : kFailed;
    }

    int Config() {
        // The configuration bits of an empty socket would read as all set and "write" fine.
        if (!session_.CheckChip()) return kFailed;
        TerminalPrompts prompts(view_);
        auto& engine = session_.CurrentEngine();
        auto form =
            config::OpenConfigForm(session_.Chip.CurrentChipId, engine, session_.PortBase, prompts);
        if (!form) {
            view_.Error(session_.Chip.CurrentChipName + " has no configuration bits to show");
            return kFailed;
        }
        const auto& a = args_.Args;
        const std::string& verb = a[0];
        config::CommandResult result;
        if (verb == "show") {
            view_.Result(config::DescribeForm(*form));
        } else if (verb == "write") {
            result = config::WriteGroupSettings(*form, a[1], {a.begin() + 2, a.end()});
        } else if (verb == "mode") {
            // The command line checked the number already.
            const auto mode = ParseNumber(a[1], NumberStyle::Decimal, 1, 99);
            if (!mode) return kUsage;
            result = config::ApplyLockMode(*form, static_cast<int>(*mode));
        } else if (verb == "calibration") {
            std::string text;
            result = config::ReadCalibrationBytes(*form, text);
            if (result.Ok) view_.Result(text);
        } else if (verb == "userid") {
            result = config::WriteUserId(*form, a[1], a[2]);
        } else if (verb == "word") {
            result = config::WriteConfigWord(*form, a[1]);
        } else if (verb == "erase") {
            result = config::EraseAll(*form);
        }
        if (!result.Ok) {
            view_.Error(result.Error);
            return kFailed;
        }
        const Status portError = session_.Ports.TakeError();
        if (!portError.Ok()) {
            view_.Error(portError.Text(session_.CurrentLanguage()));
            return kFailed;
        }
        return kOk;
    }

    const CliArgs& args_;
    TerminalView& view_;
    core::Session session_;
    db::Database& db_;
};

}  // namespace

int Run(const CliArgs& args, TerminalView& view, const std::string& exeDir) {
    if ((args.Command == "read-flash" || args.Command == "read-eeprom") && args.Args.size() == 1 &&
        args.Args[0] == "-")
        view.KeepOutputForData();
    const std::string dbPath = db::ResolveDatabasePath(args.Database, exeDir);
    std::string error;
    auto database = db::Database::Open(dbPath, error);
    if (!database) {
        view.Error(error);
        return kFailed;
    }
    if (args.Command == "chips") {
        // Listing the catalogue needs no port and no adapter.
        const auto chips =
            args.Args.empty() ? database->ListChips() : database->SearchChips(args.Args[0]);
        if (!database->LastError().empty()) {
            view.Error(database->LastError());
            return kFailed;
        }
        for (const auto& chip : chips) view.Result(ChipLine(chip));
        return kOk;
    }
    if (const Status name = core::CheckPortName(args.Port); !name.Ok()) {
        view.Error(name.Text(Language::English));
        return kUsage;
    }
    core::PortOptions options;
    options.Port = args.Port;
    options.Lpt = args.Lpt;
    options.SimState = args.SimState.empty() ? DefaultSimState(args.Port) : args.SimState;
    options.FallBackToBench = false;  // a script must know which port it drives
    auto opened = core::PortSet::Open(options);
    if (!opened) {
        view.Error(opened.Error().Text(Language::English));
        if (args.Port.empty())
            view.Error("to try without hardware, run on the simulated bench: --port sim:ATmega16");
        return kFailed;
    }
    const std::unique_ptr<core::PortSet> ports = std::move(opened).Value();
    int status = kFailed;
    {
        Runner runner(args, view, *database, *ports);
        status = runner.Go();
    }
    if (const Status closed = ports->Close(); !closed.Ok()) {
        view.Error("cannot keep the simulated chip: " + closed.Text(Language::English));
        if (status == kOk) status = kFailed;
    }
    if (status != kOk) view.ShowHeldReport();
    return status;
}

}  // namespace tondrel::cli
