#pragma once
#include <string>

#include "cli/CliArgs.h"
#include "cli/TerminalView.h"

namespace tondrel::cli {

// Runs one command through the session's start and shut-down; the exit status.
int Run(const CliArgs& args, TerminalView& view, const std::string& exeDir);

}  // namespace tondrel::cli
