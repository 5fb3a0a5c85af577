// tondrel-cli: every operation of the programmer from the shell.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/Run.h"
#include "cli/TerminalView.h"
#include "common/Version.h"
#include "ftdi/FtdiBackEnd.h"
#include "sim/backend/BenchBackEnd.h"

namespace {

// The one thing a signal handler may touch: which signal asked the program to end. The run
// then stops between bytes and goes through its shut-down (programming mode left, port lines
// at rest, settings and the simulated chip saved) before it exits.
volatile std::sig_atomic_t stopSignal = 0;

void AskToStop(int signal) {
    stopSignal = signal;
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = AskToStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a question waiting for the terminal gives up
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string ExeDir() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tondrel::cli;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    CliArgs args;
    std::string error;
    if (!ParseArgs(arguments, args, error)) {
        std::fprintf(stderr, "tondrel-cli: %s\n", error.c_str());
        return 2;
    }
    if (args.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (args.Version) {
        std::printf("tondrel-cli %s\n", tondrel::kVersion);
        return 0;
    }
    tondrel::sim::RegisterBenchBackEnd();  // --port sim:...
    tondrel::ftdi::RegisterFtdiBackEnd();  // --port ftdi...
    TerminalOptions options;
    options.Quiet = args.Quiet;
    options.Answer = args.Answer;
    options.YesEndSerial = args.YesEndSerial;
    options.YesExternalClock = args.YesExternalClock;
    options.YesLock = args.YesLock;
    options.Language = args.Language;
    options.ProgressBar = isatty(STDERR_FILENO) != 0;
    options.AskOnTerminal = isatty(STDIN_FILENO) != 0;
    options.StopSignal = &stopSignal;
    CatchStopSignals();
    TerminalView view(options, stdout, stderr, stdin);
    const int status = Run(args, view, ExeDir());
    // As a shell reports a program a signal ended: 130 for Ctrl+C, 143 for SIGTERM.
    return view.StopSignal() != 0 ? 128 + view.StopSignal() : status;
}
