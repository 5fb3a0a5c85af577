#pragma once
// The machine-readable log of a run: one JSON object per operation and one for the whole run,
// each on a line of its own, so that a JSON-lines reader takes a file that many runs appended
// to, and any JSON parser takes one line.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Status.h"

namespace tondrel::core {

struct FileDigest {
    std::string Memory;  // "flash" or "eeprom"
    std::string Path;
    std::optional<uint32_t> Crc32;  // of the file as it lies on disk; none when unreadable
};

struct OperationRecord {
    std::string Operation;  // "auto", "write-flash", ...
    int Chip = 0;           // the chip's number in a next-chip loop; 0 outside one
    std::string ChipName;
    std::string Signature;
    std::vector<FileDigest> Files;
    int64_t BytesWritten = 0;
    int64_t BytesVerified = 0;
    int32_t Speed = 0;
    std::optional<int64_t> Serial;  // the number the chip kept
    std::string Result;             // "pass", "fail" or "stopped"
    std::string ErrorKey;           // the failure's message key, "" on a pass
    std::string ErrorText;          // ... in the run's language
    double Seconds = 0;
    Status Outcome;  // what the operation returned, for the front end
};

struct RunSummary {
    int Operations = 0;
    int Passed = 0;
    int Failed = 0;
    std::vector<int64_t> Serials;
    std::string Result;  // "pass", "fail" or "stopped"
    int ExitStatus = 0;
    double Seconds = 0;
};

std::string JsonLine(const OperationRecord& record);
std::string JsonLine(const RunSummary& summary);
// A JSON string literal: quotes, backslashes and control bytes escaped; bytes that are not
// UTF-8 become U+FFFD, so a file name from an odd file system never breaks the line.
std::string JsonString(std::string_view text);

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
std::optional<uint32_t> FileCrc32(const std::string& path);

// How far the phases of the operations went: bytes written and read back, from the progress a
// view is given. The front end's view feeds it; a log record takes the counts.
class PhaseCounter {
  public:
    void Phase(const Message& phase);
    void Position(int32_t position) { position_ = position; }
    struct Counts {
        int64_t Written = 0;
        int64_t Verified = 0;
    };
    // The counts since the last call.
    Counts Take();

  private:
    void EndPhase();
    std::string key_;
    int32_t position_ = 0;
    Counts counts_;
};

}  // namespace tondrel::core
