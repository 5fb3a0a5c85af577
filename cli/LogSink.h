#pragma once
// Where the machine-readable log goes: standard output (--json) and a file appended to (--log).
#include <string>

#include "common/Status.h"

namespace tondrel::cli {

class LogSink {
  public:
    LogSink() = default;
    ~LogSink();
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    // Fails, naming the file and the reason, when the file cannot be opened for appending.
    Status Open(bool toStdout, const std::string& path);
    bool Active() const { return toStdout_ || fd_ >= 0; }
    // One line, ending in a line break. Each goes to the file in one write, so lines of runs
    // appending to the same file at the same time never mix.
    void Emit(const std::string& line);
    // A line that could not be written: the run then fails, as its log is incomplete.
    bool Failed() const { return failed_; }
    const std::string& FailureText() const { return failure_; }

  private:
    bool toStdout_ = false;
    int fd_ = -1;
    std::string path_;
    bool failed_ = false;
    std::string failure_;
};

}  // namespace tondrel::cli
