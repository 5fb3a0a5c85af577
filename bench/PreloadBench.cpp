// Port traffic of a full ATmega16 write and verify (16 KiB Flash, 128-byte pages) over ppdev,
// through the preloaded simulated device, next to the same job on the in-process virtual
// connector. The ppdev run is a child process of this benchmark with the library preloaded;
// its request counts come back in the counts file the library writes on close.
//
// Counters: accesses per programmed Flash byte on each path (register reads + writes, the
// requests that move data) and their ratio ppdev / in-process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engines/Tavr.h"
#include "port/PpdevPort.h"
#include "sim/AvrChip.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"

extern char** environ;

namespace {

using namespace tondrel;
namespace fs = std::filesystem;

constexpr const char* kChildFlag = "--preload-child";

struct Traffic {
    uint64_t Reads = 0;
    uint64_t Writes = 0;
    bool Ok = false;
};

// Erase, write every Flash byte (the engine's own page poll verifies), then read every byte
// back and compare.
bool WriteAndVerify(PortIo& io, Clock& clock) {
    const sim::AvrFacts* facts = sim::FindAvrFacts("ATMEGA16");
    CurrentChip current;
    current.CurrentChipName = "ATmega16";
    current.CurrentMethodCode = 5;
    current.FlashSize = facts->FlashSize;
    current.EEPROMSize = facts->EepromSize;
    current.CurrentPageSize = facts->PageSize;
    current.FlashDataEnd = facts->FlashSize - 1;
    EngineEnv env{&io, &clock, &current};
    Tavr engine(env);
    engine.InitPinMap();
    engine.SetPortBase(0x378);

    std::vector<uint8_t> image(static_cast<size_t>(facts->FlashSize));
    std::mt19937 random(16);
    for (auto& b : image) b = static_cast<uint8_t>(random());
    if (!engine.EnterProgramming()) return false;
    engine.EraseChip();
    bool ok = true;
    for (int32_t a = 0; a < facts->FlashSize && ok; ++a)
        ok = engine.WriteFlashByte(a, image[static_cast<size_t>(a)]);
    for (int32_t a = 0; a < facts->FlashSize && ok; ++a)
        ok = engine.ReadFlashByte(a) == image[static_cast<size_t>(a)];
    engine.LeaveProgramming();
    return ok;
}

int ChildMain(const char* device) {
    std::string error;
    auto port = OpenPpdev(device, true, error);
    if (!port) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    SystemClock clock;
    return WriteAndVerify(*port, clock) ? 0 : 1;
}

Traffic InProcess() {
    VirtualClock clock;
    sim::BenchOptions options;
    options.ChipName = "ATmega16";
    sim::Bench bench(clock, options);
    sim::SimPort port(bench, &clock, true);
    Traffic t;
    t.Ok = WriteAndVerify(port, clock);
    t.Reads = port.Reads();
    t.Writes = port.Writes();
    return t;
}

// Runs this executable again as the ppdev client; gives up after two minutes.
Traffic OverPpdev() {
    Traffic t;
    const fs::path dir =
        fs::temp_directory_path() / ("tondrel-preload-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string device = (dir / "parport-sim").string();
    const std::string counts = (dir / "counts").string();
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TONDREL_SIM_", 12) != 0 && std::strncmp(*e, "LD_PRELOAD=", 11) != 0 &&
            std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0)
            vars.emplace_back(*e);
    vars.push_back(std::string("LD_PRELOAD=") + TONDREL_PRELOAD_LIBRARY);
    vars.push_back("ASAN_OPTIONS=verify_asan_link_order=0");  // harmless in a sanitizer build
    vars.push_back("TONDREL_SIM_DEVICE=" + device);
    vars.push_back("TONDREL_SIM_BENCH=sim:ATmega16");
    vars.push_back("TONDREL_SIM_COUNTS=" + counts);
    std::vector<char*> envp;
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string flag = kChildFlag;
    char* argv[] = {self.data(), flag.data(), const_cast<char*>(device.c_str()), nullptr};

    const pid_t pid = fork();
    if (pid == 0) {
        execve(self.c_str(), argv, envp.data());
        _exit(127);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::map<std::string, uint64_t> n;
    std::ifstream in(counts);
    std::string name;
    uint64_t value = 0;
    while (in >> name >> value) n[name] = value;
    t.Reads = n["PPRDATA"] + n["PPRSTATUS"] + n["PPRCONTROL"];
    t.Writes = n["PPWDATA"] + n["PPWCONTROL"] + n["PPFCONTROL"];
    t.Ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && t.Reads + t.Writes > 0;
    std::error_code ec;
    fs::remove_all(dir, ec);
    return t;
}

void FullAtmega16OverPpdev(benchmark::State& state) {
    Traffic ppdev, local;
    for (auto _ : state) {
        ppdev = OverPpdev();
        local = InProcess();
    }
    if (!ppdev.Ok) state.SkipWithError("the ppdev run failed");
    if (!local.Ok) state.SkipWithError("the in-process run failed");
    const double bytes = 16384.0;
    const double ppdevPerByte = static_cast<double>(ppdev.Reads + ppdev.Writes) / bytes;
    const double localPerByte = static_cast<double>(local.Reads + local.Writes) / bytes;
    state.counters["ppdev_accesses_per_byte"] = ppdevPerByte;
    state.counters["ppdev_reads_per_byte"] = static_cast<double>(ppdev.Reads) / bytes;
    state.counters["inprocess_accesses_per_byte"] = localPerByte;
    state.counters["inprocess_reads_per_byte"] = static_cast<double>(local.Reads) / bytes;
    state.counters["ppdev_over_inprocess"] = localPerByte > 0 ? ppdevPerByte / localPerByte : 0;
}
BENCHMARK(FullAtmega16OverPpdev)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kChildFlag) == 0) return ChildMain(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
