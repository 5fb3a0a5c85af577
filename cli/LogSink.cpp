#include "cli/LogSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tondrel::cli {

LogSink::~LogSink() {
    if (fd_ >= 0) ::close(fd_);
}

Status LogSink::Open(bool toStdout, const std::string& path) {
    toStdout_ = toStdout;
    if (path.empty()) return {};
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd_ < 0)
        return Verbatim("cannot open the log " + path + " for appending: " + std::strerror(errno));
    path_ = path;
    return {};
}

void LogSink::Emit(const std::string& line) {
    if (toStdout_) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        if (std::fflush(stdout) != 0 && !failed_) {
            failed_ = true;
            failure_ =
                std::string("cannot write the log to standard output: ") + std::strerror(errno);
        }
    }
    if (fd_ < 0) return;
    ssize_t written;
    do {
        written = ::write(fd_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if ((written < 0 || static_cast<size_t>(written) != line.size()) && !failed_) {
        failed_ = true;
        failure_ = "cannot append to the log " + path_ + ": " +
                   (written < 0 ? std::strerror(errno) : "the disk took only part of a line");
    }
}

}  // namespace tondrel::cli
