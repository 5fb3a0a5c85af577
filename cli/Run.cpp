#include "cli/Run.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cli/LogSink.h"
#include "common/Text.h"
#include "config/ConfigCommands.h"
#include "config/ConfigForm.h"
#include "core/Ports.h"
#include "core/ProductionRun.h"
#include "core/RunLog.h"
#include "core/Session.h"
#include "core/View.h"
#include "db/Database.h"

namespace tondrel::cli {

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

std::string ChipLine(const ChipRecord& c) {
    char text[160];
    std::snprintf(text, sizeof text, "%-14s method %d  Flash %6d  EEPROM %5d  page %3d  %s",
                  c.Name.c_str(), MethodCode(c.MethodCode), c.FlashSize, c.EEPROMSize, c.PageSize,
                  c.Signature.c_str());
    return text;
}

// Without --sim-state a simulated chip still keeps its memory between runs, as a real one
// would: one file per chip under $XDG_STATE_HOME/tondrel (~/.local/state/tondrel), whatever
// the spelling, adapter or clock of the bench name. "" without a home to keep it in; a folder
// that cannot be made fails the run, or its writes would be lost without a word.
Result<std::string> DefaultSimState(const std::string& port, db::Database& db) {
    if (Lower(port.substr(0, 4)) != "sim:") return std::string();
    // The chip is the bench name up to its first option, spelt as the catalogue spells it.
    std::string name = port.substr(
        4, port.find('@') == std::string::npos ? std::string::npos : port.find('@') - 4);
    if (const auto row = db.ChipByName(name); row && *row) name = (*row)->Name;
    namespace fs = std::filesystem;
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    fs::path dir;
    if (state && *state == '/') {
        dir = fs::path(state) / "tondrel";
    } else if (home && *home) {
        dir = fs::path(home) / ".local" / "state" / "tondrel";
    } else {
        return std::string();
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || ::access(dir.c_str(), W_OK | X_OK) != 0)
        return Status::Error("SimStateCannotCreate", (dir / (name + ".state")).string(),
                             dir.string(), ec ? ec.message() : std::strerror(errno));
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return (dir / (name + ".state")).string();
}

bool NeedsChip(const std::string& command) {
    return command != "hardware" && command != "mode" && command != "tool-path";
}

// The project a serial counter belongs to: the file written, by its full path, so that the
// same firmware started from another folder continues the same counter.
std::string ProjectOf(const CliArgs& args) {
    const std::string& file = args.AutoFlash.empty() ? args.AutoEEPROM : args.AutoFlash;
    std::error_code ec;
    const auto full = std::filesystem::weakly_canonical(std::filesystem::absolute(file, ec), ec);
    return ec ? file : full.string();
}

std::vector<core::FileDigest> Digests(const std::vector<std::pair<Memory, std::string>>& files) {
    std::vector<core::FileDigest> digests;
    for (const auto& [memory, path] : files) {
        if (path.empty() || path == "-") continue;
        digests.push_back(
            {memory == Memory::Flash ? "flash" : "eeprom", path, core::FileCrc32(path)});
    }
    return digests;
}

class Runner {
  public:
    Runner(const CliArgs& args, TerminalView& view, db::Database& db, core::PortSet& ports,
           LogSink& sink, core::RunSummary& summary)
        : args_(args),
          view_(view),
          session_(view, db, ports),
          db_(db),
          ports_(ports),
          sink_(sink),
          summary_(summary) {}
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    int Go() {
        core::StartOptions start;
        if (args_.Lpt != 0) start.PortBaseOverride = core::BaseForLpt(args_.Lpt);
        // A script asked for one command: the adapter's stored download mode and its external
        // tools are the window's business.
        start.RestoreMode = false;
        start.LaunchTools = false;
        // The search probes at an explicit speed too, and it wins over the chip's stored one.
        start.Speed = args_.Speed;
        if (auto started = session_.Start(start); !started) {
            view_.Error("cannot read the settings: " + started.Error().Args.front());
            return kFailed;
        }
        if (args_.Language != 0) session_.SetLanguageCode(args_.Language);
        // One-off flags of this run: used, never stored, so a flag never changes the next
        // run's defaults.
        core::AutoPlan plan = session_.State().Plan;
        if (args_.VerifyAfter) plan.VerifyAfter = *args_.VerifyAfter;
        if (args_.CheckBlank) plan.CheckRestBlank = *args_.CheckBlank;
        if (args_.UpdateFlash) plan.UpdateFlashFile = *args_.UpdateFlash;
        if (args_.UpdateEEPROM) plan.UpdateEEPROMFile = *args_.UpdateEEPROM;
        if (args_.Erase) plan.EraseAll = *args_.Erase;
        if (args_.WriteFlash) plan.WriteFlash = *args_.WriteFlash;
        if (args_.WriteEEPROM) plan.WriteEEPROM = *args_.WriteEEPROM;
        session_.SetPlan(plan, core::PlanScope::ThisRun);
        const auto began = std::chrono::steady_clock::now();
        (void)view_.Counter().Take();
        const int status = Command();
        if (sink_.Active() && !produced_ && NeedsChip(args_.Command))
            Record(status,
                   std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
        // A refused settings update is said on the board; the command's own result stands.
        (void)session_.SaveSettings();
        return status;
    }

  private:
    int Outcome(const Status& status) {
        last_ = status;
        return status ? kOk : kFailed;
    }

    // The log line of a command other than a production auto run.
    void Record(int status, double seconds) {
        core::OperationRecord record;
        record.Operation = args_.Command;
        const core::SessionState state = session_.State();
        record.ChipName = state.ChipName;
        record.Signature = session_.Chip().Signature;
        if (!args_.Args.empty() && args_.Command.find("-flash") != std::string::npos)
            record.Files = Digests({{Memory::Flash, args_.Args[0]}});
        else if (!args_.Args.empty() && args_.Command.find("-eeprom") != std::string::npos)
            record.Files = Digests({{Memory::EEPROM, args_.Args[0]}});
        else if (args_.Command == "auto")
            record.Files =
                Digests({{Memory::Flash, args_.AutoFlash}, {Memory::EEPROM, args_.AutoEEPROM}});
        const auto counts = view_.Counter().Take();
        record.BytesWritten = counts.Written;
        record.BytesVerified = counts.Verified;
        record.Speed = state.Speed;
        record.Result = status == kOk ? "pass" : view_.StopSignal() != 0 ? "stopped" : "fail";
        if (status != kOk && !last_.Ok()) {
            record.ErrorKey = last_.Key();
            record.ErrorText = last_.Text(state.Lang());
        }
        record.Seconds = seconds;
        sink_.Emit(core::JsonLine(record));
        ++summary_.Operations;
        ++(status == kOk ? summary_.Passed : summary_.Failed);
    }

    // The chip: from the catalogue (--chip) or found on the adapter.
    bool GetChip() {
        if (args_.NoVerify) session_.SetAutoVerify(false);
        if (args_.WriteFF) session_.SetWriteBlank(true);
        if (!args_.ChipName.empty()) {
            const auto record = db_.ChipByName(args_.ChipName);
            if (!record || !*record) {
                view_.Error("no chip named " + args_.ChipName + " in the catalogue (see: chips)");
                return false;
            }
            // The chip dialog does not look at the adapter; a command line should, or every
            // later step would fail byte by byte on an empty port.
            if (!session_.DetectHardware()) return false;
            session_.SelectChip(**record);
        } else if (!session_.AutoSearch()) {
            return false;
        }
        return true;
    }

    bool HasMemory(Memory memory) {
        const bool flash = memory == Memory::Flash;
        const CurrentChip& chip = session_.Chip();
        if ((flash ? chip.FlashSize : chip.EEPROMSize) >= 1) return true;
        view_.Error(chip.CurrentChipName + " has no " + (flash ? "Flash" : "EEPROM"));
        return false;
    }

    static bool IsFlashCommand(const std::string& c) {
        return c.size() > 6 && c.compare(c.size() - 6, 6, "-flash") == 0;
    }

    int Command() {
        const std::string& c = args_.Command;
        if (c == "hardware") {
            auto adapter = session_.DetectHardware();
            if (!adapter) return kFailed;
            const core::AdapterLabels labels = core::LabelsOf(*adapter, true);
            view_.Result(view_.Text(labels.Name) + "  " + view_.Text(labels.Version) + "  " +
                         view_.Text(labels.Detail));
            return kOk;
        }
        if (c == "mode") {
            const int mode = core::ModeFromName(args_.Args[0]);
            if (mode == 0) {
                view_.Error("unknown mode " + args_.Args[0] +
                            " (MCU, ALTERA, XILINX, LATTICE, EPROM3, ARM, MSP430)");
                return kUsage;
            }
            if (!session_.SwitchMode(mode)) return kFailed;
            view_.Result(view_.Text(core::ModeStatusOf(session_.State())));
            return kOk;
        }
        if (c == "tool-path") {
            const int mode = core::ModeFromName(args_.Args[0]);
            if (mode == 0) {
                view_.Error("unknown mode " + args_.Args[0]);
                return kUsage;
            }
            return Outcome(session_.SetToolPath(mode, args_.Args[1]));
        }
        if (!NeedsChip(c) || !GetChip()) return kFailed;
        if (c == "search") {
            // A chip named on the command line is only found once the socket answers as it.
            if (!args_.ChipName.empty() && !session_.CheckChip()) return kFailed;
            view_.Result(session_.Chip().CurrentChipName);
            return kOk;
        }
        if (c == "signature") {
            auto signature = session_.ReadSignature();
            if (!signature) return kFailed;
            view_.Result(session_.Chip().CurrentChipName + "  " +
                         (signature->empty() ? std::string("(this chip has no readable signature)")
                                             : *signature));
            return kOk;
        }
        if (c == "erase") return Outcome(session_.Erase());
        if (c == "reset") return session_.CheckChip() && session_.ResetTarget() ? kOk : kFailed;
        const Memory memory = IsFlashCommand(c) ? Memory::Flash : Memory::EEPROM;
        if (c == "write-flash" || c == "write-eeprom") {
            if (!HasMemory(memory) || !session_.LoadFile(memory, args_.Args[0])) return kFailed;
            // A script that asked to write a file wrote nothing when the file is empty.
            if (session_.LastAddress(memory) == -1) {
                view_.Error(view_.Text(Msg("CoreFileNoData", EscapeControls(args_.Args[0]))));
                return kFailed;
            }
            if (!FileFusesFit() || !MemoriesUnlessDryRun([&] { return session_.Write(memory); }))
                return kFailed;
            return FusesFromFile();
        }
        if (c == "read-flash" || c == "read-eeprom") {
            if (!HasMemory(memory) || !session_.Read(memory)) return kFailed;
            return Outcome(session_.SaveFile(memory, args_.Args[0]));
        }
        if (c == "verify-flash" || c == "verify-eeprom") {
            if (!HasMemory(memory) || !session_.LoadFile(memory, args_.Args[0])) return kFailed;
            return Outcome(session_.Verify(memory));
        }
        if (c == "auto") return Auto();
        if (c == "config") return Config();
        return kUsage;
    }

    int Auto() {
        if (!args_.AutoFlash.empty() && !session_.LoadFile(Memory::Flash, args_.AutoFlash))
            return kFailed;
        if (!args_.AutoEEPROM.empty() && !session_.LoadFile(Memory::EEPROM, args_.AutoEEPROM))
            return kFailed;
        if (!args_.Serial && !args_.Repeat && !sink_.Active()) {
            if (!FileFusesFit() || !MemoriesUnlessDryRun([&] { return session_.AutoProgram(); }))
                return kFailed;
            return FusesFromFile();
        }
        // Chip after chip, the file's fuses are the last step of each chip's auto programming.
        if (args_.WriteFusesFromFile) {
            core::AutoPlan plan = session_.State().Plan;
            plan.WriteFileFuses = true;
            session_.SetPlan(plan, core::PlanScope::ThisRun);
        }
        return Production();
    }

    // Fuses for another chip stop the run before the memories are written, not after.
    bool FileFusesFit() { return !args_.WriteFusesFromFile || session_.CheckFileConfiguration(); }

    // --dry-run writes nothing at all: a preview of the file's fuses must not program the chip
    // on the way.
    template <typename Write>
    bool MemoriesUnlessDryRun(Write write) {
        if (!args_.DryRun) return static_cast<bool>(write());
        view_.Say(Msg("CliDryRunNoMemories"));
        return session_.CheckChip().Ok();
    }

    // Asked for with --write-fuses-from-file: after the memories, as a last step.
    int FusesFromFile() {
        if (!args_.WriteFusesFromFile) return kOk;
        return Outcome(session_.WriteFileConfiguration(view_, args_.DryRun));
    }

    // Auto programming chip by chip, each with its serial number and its log line.
    int Production() {
        if (args_.Repeat && session_.Chip().Signature.empty()) {
            view_.Error(view_.Text(Msg("RepeatNeedsSignature", session_.Chip().CurrentChipName)));
            return kFailed;
        }
        // A number is kept only by a chip read back; --no-verify-after or the stored plan may
        // have the read-back off.
        if (args_.Serial && !session_.State().Plan.VerifyAfter) {
            view_.Error(view_.Text(Msg("SerialNeedsVerify")));
            return kFailed;
        }
        core::ProductionOptions options;
        if (args_.Serial)
            options.Serial = core::SerialPlan{*args_.Serial, ProjectOf(args_), args_.SerialStart,
                                              args_.SerialStep};
        options.Repeat = args_.Repeat;
        options.Files =
            Digests({{Memory::Flash, args_.AutoFlash}, {Memory::EEPROM, args_.AutoEEPROM}});
        core::ProductionHooks hooks;
        hooks.StopWanted = [this] { return view_.StopAsked(); };
        hooks.Sleep = [this](uint32_t ms) {
            ports_.GetClock().SleepMs(ms);
            // The bench's clock sleeps at once: a tenth of it in real time keeps a loop that
            // waits for a chip that never comes from taking a whole processor.
            if (ports_.Simulated()) ::usleep(ms * 100);
        };
        hooks.Report = [this](const core::OperationRecord& record) {
            if (sink_.Active()) sink_.Emit(core::JsonLine(record));
            if (args_.Repeat)
                view_.Result("chip " + std::to_string(record.Chip) + ": " + record.Result +
                             (record.Serial ? " serial " + std::to_string(*record.Serial) : ""));
        };
        hooks.Counter = &view_.Counter();
        core::ProductionRun run(session_, view_, db_, std::move(options), std::move(hooks));
        const core::RunSummary result = run.Run();
        produced_ = true;
        summary_.Operations += result.Operations;
        summary_.Passed += result.Passed;
        summary_.Failed += result.Failed;
        summary_.Serials = result.Serials;
        return result.Result == "pass" ? kOk : kFailed;
    }

    int Config() {
        auto opened = session_.OpenConfiguration(view_);
        if (!opened) {
            // A chip that did not answer has said so on the board; the rest is said here.
            if (opened.Error().Key == "CoreNoConfiguration")
                view_.Error(view_.Text(opened.Error()));
            return kFailed;
        }
        config::ConfigForm& form = **opened;
        form.SetDryRun(args_.DryRun);
        const auto& a = args_.Args;
        const std::string& verb = a[0];
        Status result;
        if (verb == "show") {
            view_.Result(config::DescribeForm(form));
        } else if (verb == "write") {
            result = config::WriteGroupSettings(form, a[1], {a.begin() + 2, a.end()});
        } else if (verb == "set") {
            result = config::SetFields(form, {a.begin() + 1, a.end()});
        } else if (verb == "mode") {
            // The command line checked the number already.
            const auto mode = ParseNumber(a[1], NumberStyle::Decimal, 1, 99);
            if (!mode) return kUsage;
            result = config::ApplyLockMode(form, static_cast<int>(*mode));
        } else if (verb == "calibration") {
            Message text;
            result = config::ReadCalibrationBytes(form, text);
        } else if (verb == "userid") {
            result = config::WriteUserId(form, a[1], a[2]);
        } else if (verb == "word") {
            result = config::WriteConfigWord(form, a[1]);
        } else if (verb == "erase") {
            result = config::EraseAll(form);
        }
        if (!result) {
            view_.Error(view_.Text(result.Error()));
            // Two settings of one bit contradict or repeat each other: a usage error.
            return result.Key() == "CfgBoxTwice" ? kUsage : kFailed;
        }
        if (auto port = session_.TakePortError(); !port) {
            view_.Error(view_.Text(port.Error()));
            return kFailed;
        }
        return kOk;
    }

    const CliArgs& args_;
    TerminalView& view_;
    core::Session session_;
    db::Database& db_;
    core::PortSet& ports_;
    LogSink& sink_;
    core::RunSummary& summary_;
    Status last_;            // the last outcome a command returned
    bool produced_ = false;  // the production run wrote its own log lines
};

int RunCommand(const CliArgs& args, TerminalView& view, const std::string& exeDir, LogSink& sink,
               core::RunSummary& summary) {
    if ((args.Command == "read-flash" || args.Command == "read-eeprom") && args.Args.size() == 1 &&
        args.Args[0] == "-")
        view.KeepOutputForData();
    const std::string dbPath = db::ResolveDatabasePath(args.Database, exeDir);
    // No language is chosen before the database is read: its failures are said in English.
    auto opened = db::Database::Open(dbPath);
    if (!opened) {
        view.Error(opened.Error().Text(Language::English));
        return kFailed;
    }
    const std::unique_ptr<db::Database> database = std::move(*opened);
    if (args.Command == "chips") {
        // Listing the catalogue needs no port and no adapter.
        const auto chips =
            args.Args.empty() ? database->ListChips() : database->SearchChips(args.Args[0]);
        if (!chips) {
            view.Error(chips.Error().Text(Language::English));
            return kFailed;
        }
        for (const auto& chip : *chips) view.Result(ChipLine(chip));
        return kOk;
    }
    if (const Status name = core::CheckPortName(args.Port); !name.Ok()) {
        view.Error(name.Text(Language::English));
        return kUsage;
    }
    core::PortOptions options;
    options.Port = args.Port;
    // Without --lpt the stored LPT names the port: read before any device is opened.
    options.Lpt = args.Lpt != 0 ? args.Lpt : core::StoredLpt(*database);
    if (args.SimState.empty()) {
        const auto state = DefaultSimState(args.Port, *database);
        if (!state) {
            view.Error(state.Error().Text(Language::English));
            return kFailed;
        }
        options.SimState = *state;
    } else {
        options.SimState = args.SimState;
    }
    options.FallBackToBench = false;  // a script must know which port it drives
    options.PinMap = args.FtdiPins;
    auto port = core::PortSet::Open(options);
    if (!port) {
        view.Error(port.Error().Text(Language::English));
        if (args.Port.empty())
            view.Error("to try without hardware, run on the simulated bench: --port sim:ATmega16");
        return kFailed;
    }
    const std::unique_ptr<core::PortSet> ports = std::move(port).Value();
    int status = kFailed;
    {
        Runner runner(args, view, *database, *ports, sink, summary);
        status = runner.Go();
    }
    if (const Status closed = ports->Close(); !closed.Ok()) {
        view.Error("cannot keep the simulated chip: " + closed.Text(Language::English));
        if (status == kOk) status = kFailed;
    }
    if (status != kOk) view.ShowHeldReport();
    return status;
}

}  // namespace

int Run(const CliArgs& args, TerminalView& view, const std::string& exeDir) {
    LogSink sink;
    if (args.Json) view.KeepOutputForData();  // standard output carries the JSON lines alone
    if (const Status opened = sink.Open(args.Json, args.LogFile); !opened) {
        view.Error(opened.Text(Language::English));
        return kFailed;
    }
    const auto start = std::chrono::steady_clock::now();
    core::RunSummary summary;
    int status = RunCommand(args, view, exeDir, sink, summary);
    if (!sink.Active()) return status;
    const int signal = view.StopSignal();
    summary.ExitStatus = signal != 0 ? 128 + signal : status;
    summary.Result = signal != 0 ? "stopped" : status == kOk ? "pass" : "fail";
    summary.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sink.Emit(core::JsonLine(summary));
    if (sink.Failed()) {
        view.Error(sink.FailureText());
        if (status == kOk) status = kFailed;
    }
    return status;
}

}  // namespace tondrel::cli
