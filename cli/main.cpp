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
#include "sim/backend/BenchBackEnd.h"

namespace {

// The first Ctrl-C stops the running operation at its next byte, so the chip leaves
// programming mode and the run ends in order; a second one ends the program at once.
void OnInterrupt(int) {
    std::signal(SIGINT, SIG_DFL);
    if (!tondrel::cli::StopRunningOperation()) std::raise(SIGINT);
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
    TerminalOptions options;
    options.Quiet = args.Quiet;
    options.Answer = args.Answer;
    options.YesEndSerial = args.YesEndSerial;
    options.Language = args.Language;
    options.ProgressBar = isatty(STDERR_FILENO) != 0;
    options.AskOnTerminal = isatty(STDIN_FILENO) != 0;
    TerminalView view(options, stdout, stderr, stdin);
    std::signal(SIGINT, OnInterrupt);
    return Run(args, view, ExeDir());
}
