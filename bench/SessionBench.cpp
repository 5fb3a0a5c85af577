// What the session adds on top of an engine: a full ATmega16 Flash write (16 KiB) through
// Session::WriteFlash (adapter detection, the port router, one View::Breathe and progress call
// per byte) against the same write by the bare engine on the same simulated bench.
// Reported: wall-time ratio session/engine and the port accesses the session adds per byte.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "core/Session.h"
#include "engines/Tavr.h"
#include "sim/Bench.h"
#include "sim/SimPort.h"
#include "sim/backend/BenchBackEnd.h"

namespace {

using namespace tondrel;

class QuietView : public core::View {
  public:
    void Say(const Message&) override {}
    bool Ask(const Message&, QuestionKind) override { return false; }
    void Inform(const Message&) override {}
    void StateChanged(const core::SessionState&) override {}
    void ClearBoard() override {}
    void SetProgressMax(int32_t, const Message&) override {}
    void SetProgress(int32_t) override {}
    void Breathe() override {}
    void ShowBuffer(Memory, bool) override {}
    void PlaySound(core::SoundName) override {}
    int ChooseLanguage() override { return 1; }
    std::optional<std::string> PickToolPath(int) override { return {}; }
};

std::vector<uint8_t> Image(size_t size) {
    std::vector<uint8_t> image(size);
    std::mt19937 random(16);
    for (auto& b : image) b = static_cast<uint8_t>(random());
    image.back() = 0x00;  // the whole Flash is written
    return image;
}

// Seconds of one full write by the bare engine; accesses through `accesses`.
double EngineWrite(const std::vector<uint8_t>& image, uint64_t& accesses) {
    VirtualClock clock;
    sim::BenchOptions options;
    options.ChipName = "ATmega16";
    sim::Bench bench(clock, options);
    sim::SimPort port(bench, &clock);
    CurrentChip chip;
    chip.CurrentChipName = "ATmega16";
    chip.CurrentMethodCode = Method::Avr;
    chip.FlashSize = static_cast<int32_t>(image.size());
    chip.CurrentPageSize = 128;
    chip.FlashDataEnd = chip.FlashSize - 1;
    EngineEnv env{&port, &clock, &chip};
    Tavr engine(env);
    engine.InitPinMap();
    engine.SetPortBase(0x378);
    (void)engine.EnterProgramming();
    (void)engine.EraseChip();
    (void)engine.LeaveProgramming();
    port.ResetCounters();
    const auto start = std::chrono::steady_clock::now();
    (void)engine.EnterProgramming();
    for (int32_t i = 0; i < chip.FlashSize; ++i)
        if (!engine.WriteFlashByte(i, image[static_cast<size_t>(i)])) return -1;
    (void)engine.LeaveProgramming();
    const auto end = std::chrono::steady_clock::now();
    accesses = port.Accesses();
    return std::chrono::duration<double>(end - start).count();
}

double SessionWrite(const std::string& dbPath, const std::string& imagePath, uint64_t& accesses) {
    std::string error;
    auto db = db::Database::Open(dbPath);
    core::PortOptions options;
    options.Port = "sim:ATmega16";
    sim::RegisterBenchBackEnd();
    auto opened = core::PortSet::Open(options);
    if (!db || !opened) return -1;
    const std::unique_ptr<core::PortSet> ports = std::move(opened).Value();
    QuietView view;
    core::Session session(view, **db, *ports);
    if (!session.Start() || !session.AutoSearch()) return -1;
    if (!session.Erase() || !session.LoadFile(Memory::Flash, imagePath)) return -1;
    auto* port = static_cast<sim::SimPort*>(&ports->At(ports->HomeBase()));
    port->ResetCounters();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = session.Write(Memory::Flash).Ok();
    const auto end = std::chrono::steady_clock::now();
    accesses = port->Accesses();
    return ok ? std::chrono::duration<double>(end - start).count() : -1;
}

void FullWriteSessionOverEngine(benchmark::State& state) {
    const auto image = Image(16384);
    const auto dir = std::filesystem::temp_directory_path() / "tondrel-session-bench";
    std::filesystem::create_directories(dir);
    const std::string dbPath = (dir / "chip.db").string();
    const std::string imagePath = (dir / "image.bin").string();
    std::ofstream(imagePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    double engineSeconds = 0, sessionSeconds = 0;
    uint64_t engineAccesses = 0, sessionAccesses = 0;
    for (auto _ : state) {
        const double e = EngineWrite(image, engineAccesses);
        const double s = SessionWrite(dbPath, imagePath, sessionAccesses);
        if (e < 0 || s < 0) {
            state.SkipWithError("a write failed");
            break;
        }
        engineSeconds += e;
        sessionSeconds += s;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    if (engineSeconds > 0)
        state.counters["wall_ratio_session_per_engine"] = sessionSeconds / engineSeconds;
    state.counters["extra_accesses_per_byte"] =
        (static_cast<double>(sessionAccesses) - static_cast<double>(engineAccesses)) /
        static_cast<double>(image.size());
}

BENCHMARK(FullWriteSessionOverEngine)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
