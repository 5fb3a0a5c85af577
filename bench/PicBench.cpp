// Full PIC16 jobs over ppdev through the preloaded simulated device: erase, program memory of
// random 14-bit words, its read-back, the data EEPROM and its read-back, the configuration word
// last, each step between enter and leave as the session runs it. Modelled time = port accesses
// x 1 us + the engine's sleeps. Each chip prints one line beside the figure the same job took
// before program memory went in rows and program-only cycles (measured with this bench).
//
// The 16F877A has a limit (4 s); the 16F877 and 16F628 lines only show before and after.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/Counts.h"
#include "common/PicConfig.h"
#include "db/Database.h"
#include "engines/Tpic.h"
#include "engines/TpicA.h"
#include "port/PpdevPort.h"

namespace {

using namespace tondrel;
namespace fs = std::filesystem;

constexpr const char* kJobFlag = "--pic-job";

struct PicJob {
    const char* Name;
    Method Code;
    const char* Signature;
    double ReferenceS;  // the same job before rows and program-only cycles
    double LimitS;      // 0: no limit, shown for comparison only
};

constexpr PicJob kJobs[] = {
    {"PIC16F877A", Method::PicA, "0E20", 22.32, 4.0},
    {"PIC16F877", Method::Pic, "09A0", 70.83, 0},
    {"PIC16F628", Method::Pic, "07C0", 29.52, 0},
};

// Real time for the chip; the engine's sleeps added up on the way.
struct SleepCount final : SystemClock {
    uint64_t Ms = 0;
    void SleepMs(uint32_t ms) override {
        SystemClock::SleepMs(ms);
        Ms += ms;
    }
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, uint8_t highMask) {
    std::vector<uint8_t> b(n);
    std::mt19937 random(seed);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(random() & (i % 2 != 0 ? highMask : 0xFF));
    return b;
}

// Writes `image` through `write` and reads it back through `read`, each between enter and leave.
bool WriteThenCompare(PicEngine& e, const std::vector<uint8_t>& image,
                      Status (PicEngine::*write)(int32_t, uint8_t),
                      Result<uint8_t> (PicEngine::*read)(int32_t)) {
    bool ok = e.EnterProgramming().Ok();
    for (size_t a = 0; ok && a < image.size(); ++a)
        ok = (e.*write)(static_cast<int32_t>(a), image[a]).Ok();
    ok = e.LeaveProgramming().Ok() && ok;
    ok = ok && e.EnterProgramming().Ok();
    for (size_t a = 0; ok && a < image.size(); ++a)
        ok = (e.*read)(static_cast<int32_t>(a)).ValueOr(0) == image[a];
    return e.LeaveProgramming().Ok() && ok;
}

bool RunJob(PicEngine& e, CurrentChip& chip, const PicJob& job) {
    (void)e.EnterProgramming();
    const std::string id = e.ReadSignature().ValueOr("");
    (void)e.LeaveProgramming();
    if (id != job.Signature) return false;
    (void)e.EnterProgramming();
    (void)e.EraseChip();
    (void)e.LeaveProgramming();
    const auto program = RandomBytes(static_cast<size_t>(chip.FlashSize), 877, 0x3F);
    const auto data = RandomBytes(static_cast<size_t>(chip.EEPROMSize), 256, 0xFF);
    chip.FlashDataEnd = chip.FlashSize - 1;
    chip.EEPROMDataEnd = chip.EEPROMSize - 1;
    if (!WriteThenCompare(e, program, &PicEngine::WriteFlashByte, &PicEngine::ReadFlashByte))
        return false;
    if (!WriteThenCompare(e, data, &PicEngine::WriteEepromByte, &PicEngine::ReadEepromByte))
        return false;
    constexpr uint16_t kConfig = 0x3F72;  // no protection: the bits differ from blank
    const PicConfigFacts* facts = FindPicConfig(job.Name);
    const uint16_t kept = facts ? facts->Implemented : 0x3FFF;
    return e.WriteConfigWord(7, kConfig).Ok() &&
           (e.ReadConfigWord(7).ValueOr(0) & kept) == (kConfig & kept);
}

// The child: one job over the preloaded device; its sleeps go to `sleepsFile`.
int JobChild(const char* device, const char* name, const char* sleepsFile) {
    const PicJob* job = nullptr;
    for (const auto& j : kJobs)
        if (std::strcmp(j.Name, name) == 0) job = &j;
    auto port = OpenPpdev(device, true);
    if (!job || !port) return 2;
    CurrentChip chip;
    const fs::path dir = fs::temp_directory_path() / ("tondrel-pic-db-" + std::to_string(getpid()));
    fs::create_directories(dir);
    if (auto db = db::Database::Open((dir / "chip.db").string())) {
        const auto row = (*db)->FindChip(job->Code, job->Signature);
        if (row && *row) chip.Assign(**row);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    SleepCount clock;
    EngineEnv env{port->get(), &clock, &chip};
    std::unique_ptr<PicEngine> engine;
    if (job->Code == Method::PicA)
        engine = std::make_unique<TpicA>(env);
    else
        engine = std::make_unique<Tpic>(env);
    engine->InitPinMap();
    engine->SetPortBase(0x378);
    const bool ok = chip.FlashSize > 0 && RunJob(*engine, chip, *job);
    std::ofstream(sleepsFile) << clock.Ms << "\n";
    return ok ? 0 : 1;
}

struct Measured {
    bool Ok = false;
    uint64_t Accesses = 0;
    uint64_t SleptMs = 0;
    double Seconds() const { return static_cast<double>(Accesses) * 1e-6 + SleptMs / 1000.0; }
};

// Runs this program again as the job's ppdev client, with the device library preloaded.
Measured OverPreloadedPpdev(const PicJob& job) {
    const fs::path dir =
        fs::temp_directory_path() / ("tondrel-pic-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string device = (dir / "parport").string();
    const std::string counts = (dir / "counts").string();
    const std::string sleeps = (dir / "sleeps").string();
    std::vector<std::string> env = {
        std::string("LD_PRELOAD=") + TONDREL_PRELOAD_LIBRARY,
        "TONDREL_SIM_DEVICE=" + device,
        std::string("TONDREL_SIM_BENCH=sim:") + job.Name,
        "TONDREL_SIM_COUNTS=" + counts,
        "ASAN_OPTIONS=verify_asan_link_order=0",
    };
    env = bench::ChildEnvironment(std::move(env));
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string flag = kJobFlag, name = job.Name;
    std::string dev = device, sl = sleeps;
    char* argv[] = {self.data(), flag.data(), dev.data(), name.data(), sl.data(), nullptr};

    Measured m;
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()) == 0 &&
        waitpid(pid, &status, 0) == pid)
        m.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::ifstream in(counts);
    std::string kind;
    uint64_t n = 0;
    while (in >> kind >> n)
        if (kind.rfind("PPR", 0) == 0 || kind.rfind("PPW", 0) == 0 || kind == "PPFCONTROL")
            m.Accesses += n;
    std::ifstream(sleeps) >> m.SleptMs;
    std::error_code ec;
    fs::remove_all(dir, ec);
    return m;
}

void PicFullJobs(benchmark::State& state) {
    for (auto _ : state) {
        for (const auto& job : kJobs) {
            const Measured m = OverPreloadedPpdev(job);
            const double ours = m.Seconds();
            const bool pass = m.Ok && (job.LimitS <= 0 || ours <= job.LimitS);
            std::printf(
                "target %s: ours %.2f s (%llu accesses, %.2f s sleeps), reference %.2f s "
                "(today's), ratio %.2f",
                job.Name, ours, static_cast<unsigned long long>(m.Accesses),
                static_cast<double>(m.SleptMs) / 1000.0, job.ReferenceS,
                job.ReferenceS > 0 ? ours / job.ReferenceS : 0.0);
            if (job.LimitS > 0) std::printf(" (limit %.1f s)", job.LimitS);
            std::printf(" %s\n", pass ? "PASS" : "FAIL");
            state.counters[std::string(job.Name) + "_s"] = ours;
            if (!m.Ok) state.SkipWithError("a job failed");
        }
    }
}
BENCHMARK(PicFullJobs)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], kJobFlag) == 0)
        return JobChild(argv[2], argv[3], argv[4]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
