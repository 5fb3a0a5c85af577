// The preloaded half: open/close/ioctl of the C library, redirected for one device path to a
// simulated bench. Every other path and descriptor goes straight to the real functions.
#undef _FORTIFY_SOURCE  // the fortified inline open() would clash with the definitions below
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "preload/SimDevice.h"

namespace {

using tondrel::preload::SimDevice;

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using OpenFn = int (*)(const char*, int, ...);
using OpenatFn = int (*)(int, const char*, int, ...);
using Open2Fn = int (*)(const char*, int);
using Openat2Fn = int (*)(int, const char*, int);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);

// Set once the table is gone at exit; later calls pass straight through.
std::atomic<bool> tableGone{false};

void Report(const std::string& text) {
    std::fprintf(stderr, "tondrel sim device: %s\n", text.c_str());
}

// The program's standard error gets English: the library cannot know the user's language.
void Report(const tondrel::Status& failure) {
    Report(failure.Text(tondrel::Language::English));
}

// Open descriptors that stand for the bench. Recursive: saving a state file opens and closes
// files, which come back through the functions below.
struct Table {
    std::recursive_mutex Lock;
    std::map<int, std::unique_ptr<SimDevice>> Devices;

    // A program that exits without closing the device still leaves its chip state behind, as
    // a real chip keeps its memory.
    ~Table() {
        std::lock_guard guard(Lock);
        tableGone = true;
        for (auto& [fd, device] : Devices) {
            try {
                if (const tondrel::Status closed = device->Close(); !closed.Ok()) Report(closed);
            } catch (const std::exception& e) {
                Report(e.what());
            }
        }
    }
};

Table& Devices() {
    static Table table;
    return table;
}

bool NeedsMode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

bool IsBenchPath(int dirfd, const char* path) {
    if (!path || tableGone) return false;
    if (path[0] != '/' && dirfd != AT_FDCWD) return false;
    const char* wanted = std::getenv("TONDREL_SIM_DEVICE");
    return std::strcmp(path, wanted && *wanted ? wanted : "/dev/parport0") == 0;
}

// Stands a /dev/null descriptor in for the device, so close, poll and fcntl behave.
int OpenBenchOrThrow(int flags) {
    auto config = tondrel::preload::ConfigFromEnvironment(std::getenv);
    if (!config) {
        Report(config.GetStatus());
        errno = EINVAL;
        return -1;
    }
    auto device = std::make_unique<SimDevice>(std::move(config).Value());
    if (!device->Error().Ok()) {
        Report(device->Error());
        errno = ENXIO;
        return -1;
    }
    static const auto realOpen = Real<OpenFn>("open");
    const int fd = realOpen("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd < 0) return -1;
    auto& table = Devices();
    std::lock_guard guard(table.Lock);
    table.Devices[fd] = std::move(device);  // a stale entry left by dup2 onto it goes
    return fd;
}

// Nothing may unwind into a C caller.
int OpenBench(int flags) {
    try {
        return OpenBenchOrThrow(flags);
    } catch (const std::exception& e) {
        Report(e.what());
    } catch (...) {
        Report(tondrel::Status::Error("PreloadOpenFailed"));
    }
    errno = ENOMEM;
    return -1;
}

// The bench for its path, the real function (looked up once by the caller) for any other.
template <typename Call>
int Redirect(int dirfd, const char* path, int flags, Call real) {
    if (IsBenchPath(dirfd, path)) return OpenBench(flags);
    return real();
}

mode_t ModeArg(int flags, va_list& args) {
    return NeedsMode(flags) ? static_cast<mode_t>(va_arg(args, unsigned int)) : 0;
}

// The sleeps the program asks for, for benchmarks that model its time: written at exit to
// the file TONDREL_SIM_SLEEPS names, as "sleep_ns N".
struct SleepTally {
    std::atomic<uint64_t> Ns{0};
    ~SleepTally() {
        const char* path = std::getenv("TONDREL_SIM_SLEEPS");
        if (path && *path) std::ofstream(path, std::ios::trunc) << "sleep_ns " << Ns.load() << "\n";
    }
};

SleepTally& Slept() {
    static SleepTally tally;
    return tally;
}

void Tally(const timespec* duration) {
    if (duration && duration->tv_sec >= 0 && duration->tv_nsec >= 0)
        Slept().Ns += static_cast<uint64_t>(duration->tv_sec) * 1000000000ull +
                      static_cast<uint64_t>(duration->tv_nsec);
}

using NanosleepFn = int (*)(const timespec*, timespec*);
using ClockNanosleepFn = int (*)(clockid_t, int, const timespec*, timespec*);
using UsleepFn = int (*)(useconds_t);

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int nanosleep(const timespec* duration, timespec* rest) {
    static const auto real = Real<NanosleepFn>("nanosleep");
    Tally(duration);
    return real(duration, rest);
}

__attribute__((visibility("default"))) int clock_nanosleep(clockid_t clock, int flags,
                                                           const timespec* time, timespec* rest) {
    static const auto real = Real<ClockNanosleepFn>("clock_nanosleep");
    if (time && (flags & TIMER_ABSTIME) != 0) {
        timespec now{};
        clock_gettime(clock, &now);
        const int64_t ns =
            (time->tv_sec - now.tv_sec) * 1000000000ll + (time->tv_nsec - now.tv_nsec);
        const timespec left{static_cast<time_t>(ns > 0 ? ns / 1000000000ll : 0),
                            static_cast<long>(ns > 0 ? ns % 1000000000ll : 0)};
        Tally(&left);
    } else {
        Tally(time);
    }
    return real(clock, flags, time, rest);
}

__attribute__((visibility("default"))) int usleep(useconds_t us) {
    static const auto real = Real<UsleepFn>("usleep");
    const timespec duration{static_cast<time_t>(us / 1000000u),
                            static_cast<long>(us % 1000000u) * 1000};
    Tally(&duration);
    return real(us);
}

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    static const auto real = Real<OpenFn>("open");
    return Redirect(AT_FDCWD, path, flags, [&] { return real(path, flags, mode); });
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    static const auto real = Real<OpenFn>("open64");
    return Redirect(AT_FDCWD, path, flags, [&] { return real(path, flags, mode); });
}

__attribute__((visibility("default"))) int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    static const auto real = Real<OpenatFn>("openat");
    return Redirect(dirfd, path, flags, [&] { return real(dirfd, path, flags, mode); });
}

__attribute__((visibility("default"))) int openat64(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArg(flags, args);
    va_end(args);
    static const auto real = Real<OpenatFn>("openat64");
    return Redirect(dirfd, path, flags, [&] { return real(dirfd, path, flags, mode); });
}

// The fortified entry points a program built with _FORTIFY_SOURCE calls instead of open().
__attribute__((visibility("default"))) int __open_2(const char* path, int flags) {
    static const auto real = Real<Open2Fn>("__open_2");
    return Redirect(AT_FDCWD, path, flags, [&] { return real(path, flags); });
}
__attribute__((visibility("default"))) int __open64_2(const char* path, int flags) {
    static const auto real = Real<Open2Fn>("__open64_2");
    return Redirect(AT_FDCWD, path, flags, [&] { return real(path, flags); });
}
__attribute__((visibility("default"))) int __openat_2(int dirfd, const char* path, int flags) {
    static const auto real = Real<Openat2Fn>("__openat_2");
    return Redirect(dirfd, path, flags, [&] { return real(dirfd, path, flags); });
}
__attribute__((visibility("default"))) int __openat64_2(int dirfd, const char* path, int flags) {
    static const auto real = Real<Openat2Fn>("__openat64_2");
    return Redirect(dirfd, path, flags, [&] { return real(dirfd, path, flags); });
}

__attribute__((visibility("default"))) int close(int fd) {
    static const auto realClose = Real<CloseFn>("close");
    std::unique_ptr<SimDevice> device;
    if (!tableGone) {
        auto& table = Devices();
        std::lock_guard guard(table.Lock);
        if (auto it = table.Devices.find(fd); it != table.Devices.end()) {
            device = std::move(it->second);
            table.Devices.erase(it);
        }
    }
    const int result = realClose(fd);
    if (device) {
        tondrel::Status closed;
        try {
            closed = device->Close();
        } catch (const std::exception& e) {
            closed = tondrel::Verbatim(e.what());
        }
        if (!closed.Ok()) {
            Report(closed);
            errno = EIO;
            return -1;
        }
    }
    return result;
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (!tableGone) {
        auto& table = Devices();
        std::lock_guard guard(table.Lock);
        if (auto it = table.Devices.find(fd); it != table.Devices.end()) {
            int r = -EIO;
            try {
                r = it->second->Ioctl(request, arg);
            } catch (...) {
                Report(tondrel::Status::Error("PreloadRequestFailed"));
            }
            if (r == 0) return 0;
            errno = -r;
            return -1;
        }
    }
    static const auto realIoctl = Real<IoctlFn>("ioctl");
    return realIoctl(fd, request, arg);
}

}  // extern "C"
