// Starting an external tool: detached, without a shell, and without leaving a zombie behind.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/AdapterLink.h"

namespace tondrel::core {

namespace {

// Double fork: the middle child exits at once and is reaped here, so the tool is adopted by
// init and never becomes our zombie. A close-on-exec pipe carries the errno of a failed exec
// back; a successful exec closes it, so the read below ends either way.
bool SpawnDetached(const std::string& program, std::string& error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
    const pid_t child = fork();
    if (child < 0) {
        error = std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (child == 0) {
        close(fds[0]);
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            setsid();
            execv(program.c_str(), argv);
            const int err = errno;
            (void)!write(fds[1], &err, sizeof err);
            _exit(127);
        }
        if (grandchild < 0) {
            const int err = errno;
            (void)!write(fds[1], &err, sizeof err);
        }
        _exit(0);
    }
    close(fds[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    do {
        n = read(fds[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    close(fds[0]);
    if (n == static_cast<ssize_t>(sizeof err)) {
        error = std::strerror(err);
        return false;
    }
    return true;
}

}  // namespace

bool AdapterLink::LaunchTool(int mode) {
    if (ModeControlCode(mode) < 0) return false;
    std::string path = s_.Db.ToolPath(ModeLookupName(mode)).ValueOr({});
    const auto first = path.find_first_not_of(" \t\r\n");
    const auto last = path.find_last_not_of(" \t\r\n");
    path = first == std::string::npos ? std::string() : path.substr(first, last - first + 1);
    // No path stored: nothing to start and nothing to say.
    if (path.empty()) return false;
    std::string error;
    if (access(path.c_str(), X_OK) != 0) {
        error = std::strerror(errno);
    } else if (SpawnDetached(path, error)) {
        return true;
    }
    s_.Say("CoreToolStartFail", path, error);
    return false;
}

}  // namespace tondrel::core
