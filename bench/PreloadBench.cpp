// Port traffic of a full ATmega16 write and verify (16 KiB Flash, 128-byte pages) over ppdev,
// through the preloaded simulated device, next to the same job on the in-process virtual
// connector. The ppdev run is a child process of this benchmark with the library preloaded;
// its request counts come back in the counts file the library writes on close.
//
// Counters: accesses per programmed Flash byte on each path (register reads + writes, the
// requests that move data) and their ratio ppdev / in-process.
//
// ModelledAgainstAvrdude: the session's flow for a random 16 KiB image on an ATmega16 on a 16 MHz
// crystal (no serial-clock limit at the fastest speed) (search, erase, write, verify, each between
// enter and leave), over ppdev through the preloaded device. Modelled time = port accesses x 1 us +
// the engine's sleeps, beside the figure avrdude 7.1 gives for the same job on an independent
// ATmega16 model behind a ppdev port (4,211,481 accesses + 915 ms of sleeps = 5.13 s), and the
// accesses per SPI byte of a load command and of a read command.
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

#include "db/Database.h"
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
constexpr const char* kModelledFlag = "--modelled-child";
constexpr double kAvrdudeSeconds = 4.211481 + 0.915;  // avrdude 7.1: accesses x 1 us + sleeps

// Real time for the chip, and a tally of the sleeps the engine asks for.
class SleepTally : public SystemClock {
  public:
    void SleepMs(uint32_t ms) override {
        SleptMs += ms;
        SystemClock::SleepMs(ms);
    }
    uint64_t SleptMs = 0;
};

// The ATmega16 as the catalogue has it (erase and write times included).
CurrentChip Atmega16FromCatalogue() {
    CurrentChip current;
    const fs::path dir =
        fs::temp_directory_path() / ("tondrel-bench-db-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    if (auto db = db::Database::Open((dir / "chip.db").string())) {
        const auto row = (*db)->FindChip(Method::Avr, "1E9403");
        if (row && *row) current.Assign(**row);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return current;
}

// The session's flow, each step between enter and leave as its operation runs it.
bool SessionFlow(Tavr& engine, CurrentChip& current, const std::vector<uint8_t>& image) {
    (void)engine.EnterProgramming();
    const std::string sig = engine.ReadSignature().ValueOr("");
    (void)engine.LeaveProgramming();
    if (sig != "1E9403") return false;
    (void)engine.EnterProgramming();
    (void)engine.EraseChip();
    (void)engine.LeaveProgramming();
    current.FlashDataEnd = static_cast<int32_t>(image.size()) - 1;
    bool ok = engine.EnterProgramming().Ok();
    for (size_t a = 0; a < image.size() && ok; ++a)
        ok = engine.WriteFlashByte(static_cast<int32_t>(a), image[a]).Ok();
    (void)engine.LeaveProgramming();
    (void)engine.EnterProgramming();
    for (size_t a = 0; a < image.size() && ok; ++a)
        ok = engine.ReadFlashByte(static_cast<int32_t>(a)).ValueOr(0) == image[a];
    (void)engine.LeaveProgramming();
    return ok;
}

std::vector<uint8_t> RandomImage16k() {
    std::vector<uint8_t> image(16384);
    std::mt19937 random(2016);
    for (auto& b : image) b = static_cast<uint8_t>(random());
    return image;
}

// The preloaded device, or nothing after saying why on standard error.
std::unique_ptr<PortIo> OpenDevice(const char* device) {
    auto opened = OpenPpdev(device, true);
    if (opened) return std::move(opened).Value();
    std::fprintf(stderr, "%s\n", opened.Error().Text(Language::English).c_str());
    return nullptr;
}

// Child: the flow over the preloaded device; writes the sleeps to `sleepsFile`.
int ModelledChild(const char* device, const char* sleepsFile) {
    const std::unique_ptr<PortIo> port = OpenDevice(device);
    if (!port) return 2;
    SleepTally clock;
    CurrentChip current = Atmega16FromCatalogue();
    EngineEnv env{port.get(), &clock, &current};
    Tavr engine(env);
    engine.InitPinMap();
    engine.SetPortBase(0x378);
    const bool ok = SessionFlow(engine, current, RandomImage16k());
    std::ofstream(sleepsFile) << clock.SleptMs << "\n";
    return ok ? 0 : 1;
}

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
    current.CurrentMethodCode = Method::Avr;
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
    (void)engine.EraseChip();
    bool ok = true;
    for (int32_t a = 0; a < facts->FlashSize && ok; ++a)
        ok = engine.WriteFlashByte(a, image[static_cast<size_t>(a)]).Ok();
    for (int32_t a = 0; a < facts->FlashSize && ok; ++a)
        ok = engine.ReadFlashByte(a).ValueOr(0) == image[static_cast<size_t>(a)];
    (void)engine.LeaveProgramming();
    return ok;
}

int ChildMain(const char* device) {
    const std::unique_ptr<PortIo> port = OpenDevice(device);
    if (!port) return 2;
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
Traffic OverPpdev(const char* flag = kChildFlag, const std::string& extra = {},
                  const std::string& benchName = "sim:ATmega16") {
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
    vars.push_back("TONDREL_SIM_BENCH=" + benchName);
    vars.push_back("TONDREL_SIM_COUNTS=" + counts);
    std::vector<char*> envp;
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string flagText = flag;
    std::string extraText = extra;
    char* argv[] = {self.data(), flagText.data(), const_cast<char*>(device.c_str()),
                    extra.empty() ? nullptr : extraText.data(), nullptr};

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

// Accesses per SPI byte on the virtual connector: load commands of the image (no commit) and
// read commands.
void PerSpiByte(double& write, double& read) {
    VirtualClock clock;
    sim::BenchOptions options;
    options.ChipName = "ATmega16";
    options.Faults.ClockHz = 16'000'000;
    sim::Bench bench(clock, options);
    sim::SimPort port(bench, &clock, true);
    CurrentChip current = Atmega16FromCatalogue();
    current.CurrentPageSize = 1 << 30;  // loads only: no byte ends a page or the data
    current.FlashDataEnd = -2;
    EngineEnv env{&port, &clock, &current};
    Tavr engine(env);
    engine.InitPinMap();
    engine.SetPortBase(0x378);
    (void)engine.EnterProgramming();
    const auto image = RandomImage16k();
    port.ResetCounters();
    for (size_t a = 0; a < image.size(); ++a)
        (void)engine.WriteFlashByte(static_cast<int32_t>(a), image[a]);
    write = static_cast<double>(port.Accesses()) / (4.0 * static_cast<double>(image.size()));
    port.ResetCounters();
    for (size_t a = 0; a < image.size(); ++a) (void)engine.ReadFlashByte(static_cast<int32_t>(a));
    read = static_cast<double>(port.Accesses()) / (4.0 * static_cast<double>(image.size()));
}

void ModelledAgainstAvrdude(benchmark::State& state) {
    Traffic t;
    uint64_t sleptMs = 0;
    for (auto _ : state) {
        const std::string sleeps =
            (fs::temp_directory_path() / ("tondrel-sleeps-" + std::to_string(::getpid()))).string();
        t = OverPpdev(kModelledFlag, sleeps, "sim:ATmega16@16MHz");  // no serial-clock limit
        std::ifstream(sleeps) >> sleptMs;
        std::error_code ec;
        fs::remove(sleeps, ec);
    }
    if (!t.Ok) state.SkipWithError("the ppdev run failed");
    const double accesses = static_cast<double>(t.Reads + t.Writes);
    const double modelled = accesses * 1e-6 + static_cast<double>(sleptMs) / 1000.0;
    double write = 0, read = 0;
    PerSpiByte(write, read);
    state.counters["accesses"] = accesses;
    state.counters["sleeps_ms"] = static_cast<double>(sleptMs);
    state.counters["modelled_s"] = modelled;
    state.counters["avrdude_s"] = kAvrdudeSeconds;
    state.counters["ratio_to_avrdude"] = modelled / kAvrdudeSeconds;
    state.counters["accesses_per_spi_byte_write"] = write;
    state.counters["accesses_per_spi_byte_read"] = read;
}
BENCHMARK(ModelledAgainstAvrdude)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kChildFlag) == 0) return ChildMain(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], kModelledFlag) == 0)
        return ModelledChild(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
