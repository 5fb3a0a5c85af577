// Port traffic of a full ATmega16 write and verify (16 KiB Flash, 128-byte pages) over ppdev,
// through the preloaded simulated device, next to the same job on the in-process virtual
// connector. The ppdev run is a child process of this benchmark with the library preloaded;
// its request counts come back in the counts file the library writes on close.
//
// Counters: accesses per programmed Flash byte on each path (register reads + writes, the
// requests that move data) and their ratio ppdev / in-process.
//
// Targets: this program's `auto` (the search included) and avrdude built with parallel-port
// support, each run as its own process on the same preloaded bench, in this one run. Modelled
// time = port accesses x 1 us + the sleeps the program asked for (the library tallies them).
// Each target is printed as one line beside its reference and limit; avrdude not found (set
// TONDREL_AVRDUDE to a parallel-port build): it says so and the other targets go on. The
// EEPROM target's reference is the same job by the command-line tool of an earlier build
// (TONDREL_REFERENCE_CLI), or the figure measured on it and kept below. Counters: the modelled
// seconds of each of our runs and the accesses per SPI byte of a load and of a read command.
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

#include "bench/Counts.h"
#include "db/Database.h"
#include "engines/Tavr.h"
#include "port/PpdevPort.h"
#include "sim/AvrChip.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"

namespace {

using namespace tondrel;
namespace fs = std::filesystem;

constexpr const char* kChildFlag = "--preload-child";

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

using tondrel::bench::ReadCounts;

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
Traffic OverPpdev() {
    const std::string benchName = "sim:ATmega16";
    Traffic t;
    const fs::path dir =
        fs::temp_directory_path() / ("tondrel-preload-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string device = (dir / "parport-sim").string();
    const std::string counts = (dir / "counts").string();
    std::vector<std::string> vars = bench::ChildEnvironment(
        {std::string("LD_PRELOAD=") + TONDREL_PRELOAD_LIBRARY,
         "ASAN_OPTIONS=verify_asan_link_order=0",  // harmless in a sanitizer build
         "TONDREL_SIM_DEVICE=" + device, "TONDREL_SIM_BENCH=" + benchName,
         "TONDREL_SIM_COUNTS=" + counts});
    std::vector<char*> envp;
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string flagText = kChildFlag;
    char* argv[] = {self.data(), flagText.data(), const_cast<char*>(device.c_str()), nullptr};

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
    auto n = ReadCounts(counts);
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

// What one program did on the preloaded bench.
struct Run {
    uint64_t Accesses = 0;
    double SleepS = 0;
    bool Ok = false;
    double Modelled() const { return static_cast<double>(Accesses) * 1e-6 + SleepS; }
};

// Runs `command` (its device argument is DEVICE) with the bench `benchName` preloaded under it,
// from a fresh chip; five minutes at most.
Run Preloaded(const fs::path& dir, const std::string& benchName, std::string command) {
    const fs::path device = dir / "parport-sim";
    const fs::path counts = dir / "counts";
    const fs::path sleeps = dir / "sleeps";
    const fs::path state = dir / "chip.state";
    for (const fs::path& p : {counts, sleeps, state}) fs::remove(p);
    for (size_t at; (at = command.find("DEVICE")) != std::string::npos;)
        command.replace(at, 6, device.string());
    const std::string line =
        "env LD_PRELOAD='" TONDREL_PRELOAD_LIBRARY "' TONDREL_SIM_DEVICE='" + device.string() +
        "' TONDREL_SIM_BENCH='" + benchName + "' TONDREL_SIM_STATE='" + state.string() +
        "' TONDREL_SIM_COUNTS='" + counts.string() + "' TONDREL_SIM_SLEEPS='" + sleeps.string() +
        "' timeout 300 " + command + " >>'" + (dir / "log").string() + "' 2>&1";
    Run r;
    r.Ok = std::system(line.c_str()) == 0;
    auto n = ReadCounts(counts);
    for (const char* k :
         {"PPRDATA", "PPRSTATUS", "PPRCONTROL", "PPWDATA", "PPWCONTROL", "PPFCONTROL"})
        r.Accesses += n[k];
    r.SleepS = static_cast<double>(ReadCounts(sleeps)["sleep_ns"]) / 1e9;
    r.Ok = r.Ok && r.Accesses > 0;
    return r;
}

std::string Figures(const Run& r) {
    char text[128];
    std::snprintf(text, sizeof text, "%.3f s (%llu accesses, %.3f s sleeps)", r.Modelled(),
                  static_cast<unsigned long long>(r.Accesses), r.SleepS);
    return text;
}

// One target line; true when it holds.
bool Target(const char* name, const Run& ours, const Run& reference, double limit) {
    if (!ours.Ok || !reference.Ok) {
        std::printf("target %s: %s run failed\n", name, ours.Ok ? "reference" : "our");
        return false;
    }
    const double ratio = ours.Modelled() / reference.Modelled();
    const bool pass = ratio <= limit;
    std::printf("target %s: ours %s, reference %s, ratio %.3f (limit %.2f) %s\n", name,
                Figures(ours).c_str(), Figures(reference).c_str(), ratio, limit,
                pass ? "PASS" : "FAIL");
    std::fflush(stdout);
    return pass;
}

// Intel HEX of `image`, leaving out the bytes `used` does not mark.
void WriteHex(const fs::path& path, const std::vector<uint8_t>& image,
              const std::vector<bool>& used) {
    std::ofstream out(path);
    uint32_t base = 0;
    for (size_t a = 0; a < image.size();) {
        if (!used[a]) {
            ++a;
            continue;
        }
        if ((a >> 16) != base) {
            base = static_cast<uint32_t>(a >> 16);
            const unsigned sum = (0x100u - ((2 + 4 + (base >> 8) + (base & 0xFF)) & 0xFF)) & 0xFF;
            char rec[32];
            std::snprintf(rec, sizeof rec, ":02000004%04X%02X\n", base, sum);
            out << rec;
        }
        size_t n = 0;
        while (n < 16 && a + n < image.size() && used[a + n] && ((a + n) & 0xFFFF) >= (a & 0xFFFF))
            ++n;
        const auto low = static_cast<unsigned>(a & 0xFFFF);
        unsigned sum = static_cast<unsigned>(n) + (low >> 8) + (low & 0xFF);
        char head[16];
        std::snprintf(head, sizeof head, ":%02X%04X00", static_cast<unsigned>(n), low);
        out << head;
        for (size_t k = 0; k < n; ++k) {
            char byte[4];
            std::snprintf(byte, sizeof byte, "%02X", image[a + k]);
            out << byte;
            sum += image[a + k];
        }
        char tail[8];
        std::snprintf(tail, sizeof tail, "%02X\n", (0x100u - (sum & 0xFF)) & 0xFF);
        out << tail;
        a += n;
    }
    out << ":00000001FF\n";
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

// The figures of the EEPROM job on the command-line tool before EEPROM pages (measured on this
// bench with the build of the base commit): what the target compares with when that build is
// not at hand.
constexpr uint64_t kEepromReferenceAccesses = 3'534'215;
constexpr double kEepromReferenceSleepS = 1.668;

void Targets(benchmark::State& state) {
    const fs::path dir =
        fs::temp_directory_path() / ("tondrel-targets-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string cli = TONDREL_CLI;
    const std::string avrdude = EnvOr("TONDREL_AVRDUDE", "/tmp/avrdude-par/bin/avrdude");
    const std::string conf =
        EnvOr("TONDREL_AVRDUDE_CONF", TONDREL_SOURCE_ROOT "/bench/lpt-isp.conf");
    const bool haveAvrdude = ::access(avrdude.c_str(), X_OK) == 0;
    if (!haveAvrdude) std::printf("avrdude not available (%s)\n", avrdude.c_str());

    const auto image = RandomImage16k();
    const std::vector<bool> all(image.size(), true);
    std::vector<bool> sparse(image.size(), false);
    std::fill_n(sparse.begin(), 3072, true);
    std::fill(sparse.end() - 200, sparse.end(), true);
    WriteHex(dir / "full.hex", image, all);
    WriteHex(dir / "sparse.hex", image, sparse);
    std::vector<uint8_t> eeprom(1024);
    std::mt19937 random(328);
    for (auto& b : eeprom) b = static_cast<uint8_t>(random());
    WriteHex(dir / "eeprom.eep", eeprom, std::vector<bool>(eeprom.size(), true));

    auto ours = [&](const std::string& tool, const std::string& bench, const std::string& job) {
        const std::string db = (dir / "chip.db").string();
        fs::remove(db);
        return Preloaded(dir, bench,
                         "'" + tool + "' --port ppdev:DEVICE --database '" + db +
                             "' --speed 0 --yes auto --no-update-flash --no-update-eeprom "
                             "--erase --verify-after " +
                             job);
    };
    auto theirs = [&](const std::string& part, const std::string& job) {
        if (!haveAvrdude) return Run{};
        return Preloaded(dir, "sim:ATmega16@16MHz",
                         "'" + avrdude + "' -q -q -C +'" + conf + "' -c lpt-isp -p " + part +
                             " -P DEVICE -e " + job);
    };
    const std::string m16 = "sim:ATmega16@16MHz";
    for (auto _ : state) {
        const std::string flashJob = "--write-flash --no-write-eeprom --flash '";
        const Run fullOurs = ours(cli, m16, flashJob + (dir / "full.hex").string() + "'");
        const Run sparseOurs = ours(cli, m16, flashJob + (dir / "sparse.hex").string() + "'");
        if (haveAvrdude) {
            const Run full = theirs("m16", "-U flash:w:'" + (dir / "full.hex").string() + "':i");
            Target("random16k", fullOurs, full, 0.6);
            const Run part = theirs("m16", "-U flash:w:'" + (dir / "sparse.hex").string() + "':i");
            Target("sparse", sparseOurs, part, 0.8);
        }
        const std::string m328 = "sim:ATmega328P@16MHz";
        const std::string eepromJob =
            "--no-write-flash --write-eeprom --eeprom '" + (dir / "eeprom.eep").string() + "'";
        const Run eepromOurs = ours(cli, m328, eepromJob);
        Run reference;
        if (const char* old = std::getenv("TONDREL_REFERENCE_CLI"); old && *old)
            reference = ours(old, m328, eepromJob);
        else
            reference =
                Run{kEepromReferenceAccesses, kEepromReferenceSleepS, kEepromReferenceAccesses > 0};
        Target("eeprom328p", eepromOurs, reference, 0.35);
        double write = 0, read = 0;
        PerSpiByte(write, read);
        state.counters["accesses_per_spi_byte_write"] = write;
        state.counters["accesses_per_spi_byte_read"] = read;
        state.counters["random16k_s"] = fullOurs.Modelled();
        state.counters["sparse_s"] = sparseOurs.Modelled();
        state.counters["eeprom328p_s"] = eepromOurs.Modelled();
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}
BENCHMARK(Targets)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kChildFlag) == 0) return ChildMain(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
