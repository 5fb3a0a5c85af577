#pragma once
// The command line of tondrel-cli: options, one command and its arguments.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/SerialField.h"

namespace tondrel::cli {

struct CliArgs {
    std::string Port;      // --port
    int Lpt = 0;           // --lpt 1|2|3, 0 = stored
    std::string SimState;  // --sim-state
    std::string FtdiPins;  // --ftdi-pins
    std::string Database;  // --database
    int Language = 0;      // --lang: 1 English, 2 Chinese, 0 = stored
    std::optional<int> Speed;
    std::string ChipName;  // --chip
    bool NoVerify = false;
    bool WriteFF = false;
    std::optional<bool> VerifyAfter;  // --[no-]verify-after; unset = the stored choice
    std::optional<bool> CheckBlank;   // --[no-]check-blank; unset = the stored choice
    std::optional<bool> Answer;       // --yes / --no
    bool YesEndSerial = false;        // --yes-end-serial-programming
    bool YesExternalClock = false;    // --yes-external-clock
    bool YesLock = false;             // --yes-lock
    bool DryRun = false;              // config --dry-run: say what a write would do, send nothing
    bool WriteFusesFromFile = false;  // --write-fuses-from-file: the ELF's .fuse/.lock too
    bool Quiet = false;
    bool Help = false;
    bool Version = false;  // --version

    std::string Command;
    std::vector<std::string> Args;

    // auto: files and the five flow options (unset = the stored choice)
    std::string AutoFlash;
    std::string AutoEEPROM;
    std::optional<bool> UpdateFlash, UpdateEEPROM, Erase, WriteFlash, WriteEEPROM;
    // auto: a serial number in each chip, and chip after chip until stopped
    std::optional<SerialField> Serial;  // --serial
    int64_t SerialStart = 0;            // --serial-start: a new counter's first number
    int64_t SerialStep = 1;             // --serial-step
    bool Repeat = false;                // --repeat

    bool Json = false;    // --json: JSON lines on standard output, prose on standard error
    std::string LogFile;  // --log: the same lines appended to this file
};

// Parses argv[1..]. On a usage error returns false with one line in error.
bool ParseArgs(const std::vector<std::string>& argv, CliArgs& out, std::string& error);

// The text --help prints.
std::string UsageText();

}  // namespace tondrel::cli
