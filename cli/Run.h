#pragma once
#include <string>

#include "cli/CliArgs.h"
#include "cli/TerminalView.h"

namespace tondrel::cli {

// Runs one command through the session's start and shut-down; the exit status.
int Run(const CliArgs& args, TerminalView& view, const std::string& exeDir);

// Asks the operation of the run under way to stop at its next byte, as the window's Stop does
// (it leaves programming mode and says so); false when no run is under way. Only an atomic
// load and store: a signal handler may call it.
bool StopRunningOperation();

}  // namespace tondrel::cli
