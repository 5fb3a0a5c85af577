// Intel HEX and S-record load throughput against the independent converters on the same 1 MiB
// image.
// The ratio counters say how many times faster our loader is than the tool (process start
// included, since that is what a user pays for the tool).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "common/ChipRecord.h"
#include "data/Buffers.h"
#include "data/FileLoad.h"

namespace {

using namespace tondrel;
namespace fs = std::filesystem;

constexpr int32_t kImageSize = 1 << 20;

struct Files {
    fs::path Dir;
    std::string Hex;
    std::string Srec;
    Files() {
        Dir =
            fs::temp_directory_path() / ("tondrel-bench-" + std::to_string(std::random_device{}()));
        fs::create_directories(Dir);
        std::mt19937 rng(7);
        std::string img(kImageSize, '\0');
        for (char& c : img) c = static_cast<char>(rng() & 0xFF);
        const std::string bin = (Dir / "img.bin").string();
        std::ofstream(bin, std::ios::binary) << img;
        Hex = (Dir / "img.hex").string();
        if (std::system(("objcopy -I binary -O ihex " + bin + " " + Hex).c_str()) != 0)
            std::abort();
        Srec = (Dir / "img.srec").string();
        if (std::system(("srec_cat " + bin + " -binary -o " + Srec + " -motorola").c_str()) != 0)
            std::abort();
    }
    ~Files() {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
};

const Files& TheFiles() {
    static const Files files;
    return files;
}

double LoadOnce(Buffers& b, const std::string& path) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!LoadFile(b, Memory::Flash, path)) std::abort();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double ToolOnce(const std::string& command) {
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) std::abort();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

CurrentChip BigChip() {
    CurrentChip chip;
    chip.CurrentMethodCode = Method::Avr;
    chip.FlashSize = kImageSize;
    return chip;
}

void BM_LoadIntelHex1MiB(benchmark::State& state) {
    CurrentChip chip = BigChip();
    Buffers b(chip);
    for (auto _ : state) LoadOnce(b, TheFiles().Hex);
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(fs::file_size(TheFiles().Hex)));
}
BENCHMARK(BM_LoadIntelHex1MiB)->Unit(benchmark::kMillisecond);

void CompareWithTool(benchmark::State& state, const std::string& command,
                     const std::string& path = TheFiles().Hex) {
    CurrentChip chip = BigChip();
    Buffers b(chip);
    double ours = 0, tool = 0;
    for (auto _ : state) {
        ours += LoadOnce(b, path);
        tool += ToolOnce(command);
    }
    state.counters["ours_ms"] = 1000 * ours / static_cast<double>(state.iterations());
    state.counters["tool_ms"] = 1000 * tool / static_cast<double>(state.iterations());
    state.counters["tool_over_ours"] = tool / ours;
}

void BM_VsObjcopy(benchmark::State& state) {
    const Files& f = TheFiles();
    CompareWithTool(state, "objcopy -I ihex -O binary " + f.Hex + " " + (f.Dir / "o.bin").string());
}
BENCHMARK(BM_VsObjcopy)->Unit(benchmark::kMillisecond);

void BM_VsSrecCat(benchmark::State& state) {
    const Files& f = TheFiles();
    CompareWithTool(state,
                    "srec_cat " + f.Hex + " -intel -o " + (f.Dir / "s.bin").string() + " -binary");
}
BENCHMARK(BM_VsSrecCat)->Unit(benchmark::kMillisecond);

void BM_SRecordsVsSrecCat(benchmark::State& state) {
    const Files& f = TheFiles();
    CompareWithTool(state,
                    "srec_cat " + f.Srec + " -motorola -o " + (f.Dir / "m.bin").string() +
                        " -binary 2>/dev/null",
                    f.Srec);
}
BENCHMARK(BM_SRecordsVsSrecCat)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
