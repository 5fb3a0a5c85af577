// A random 32 KiB image on an ATmega328P, erased, written and verified through the simulated
// FT232R (libtondrel_usbsim.so under the real libftdi), by this program and by avrdude 7.1's
// ft232r programmer, in one run at the same bit-bang rate: 500,000 pin states a second (SCK
// 250 kHz by the fake's rate; avrdude's -B 125kHz and --speed 499 both give divisor 6).
//
// Modelled time = USB transfers x 1 ms + pin states at the bit-bang rate, from the counts file
// the library writes. Counters: each program's modelled seconds and transfers per KiB, and the
// ratio this program / avrdude (the target is 0.7 or less). avrdude missing: the case is
// skipped with a message.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "bench/Counts.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kImageBytes = 32768;

using tondrel::bench::ReadCounts;

// Runs `command` with the simulated bus under it, the chip's memory in `state`; the counts.
std::map<std::string, uint64_t> OnFakeBus(const fs::path& dir, const std::string& command) {
    const fs::path counts = dir / "counts";
    fs::remove(counts);
    const std::string line = "env LD_PRELOAD='" TONDREL_USBSIM_LIBRARY
                             "' TONDREL_SIM_BENCH=sim:ATmega328P"
                             " TONDREL_SIM_STATE='" +
                             (dir / "chip.state").string() + "' TONDREL_SIM_COUNTS='" +
                             counts.string() + "' " + command + " >'" + (dir / "log").string() +
                             "' 2>&1";
    if (std::system(line.c_str()) != 0) return {};
    return ReadCounts(counts);
}

void BM_Atmega328pThroughFt232r(benchmark::State& state) {
    if (std::system("command -v avrdude >/dev/null") != 0) {
        state.SkipWithError("avrdude is not installed");
        return;
    }
    const fs::path dir =
        fs::temp_directory_path() / ("tondrel-ftdibench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::mt19937 random(328);
    std::string image(kImageBytes, '\0');
    for (char& c : image) c = static_cast<char>(random() & 0xFF);
    std::ofstream(dir / "image.bin", std::ios::binary) << image;
    const std::string bin = (dir / "image.bin").string();
    const std::string db = (dir / "chip.db").string();
    std::map<std::string, uint64_t> ours;
    std::map<std::string, uint64_t> theirs;
    for (auto _ : state) {
        // Each program starts from a chip the other has written.
        ours = OnFakeBus(dir, "'" TONDREL_CLI "' --port ftdi:0403:6001 --database '" + db +
                                  "' --chip ATmega328P --speed 499 --yes erase");
        const auto written =
            OnFakeBus(dir, "'" TONDREL_CLI "' --port ftdi:0403:6001 --database '" + db +
                               "' --chip ATmega328P --speed 499 --yes write-flash '" + bin + "'");
        for (const auto& [k, v] : written) ours[k] += v;
        theirs = OnFakeBus(
            dir, "avrdude -q -q -c ft232r -p m328p -B 125kHz -e -U flash:w:'" + bin + "':r");
    }
    fs::remove_all(dir);
    if (ours.empty() || theirs.empty()) {
        state.SkipWithError("a run on the simulated FT232R failed");
        return;
    }
    const double kib = kImageBytes / 1024.0;
    const double oursS = static_cast<double>(ours["model_ns"]) / 1e9;
    const double theirsS = static_cast<double>(theirs["model_ns"]) / 1e9;
    state.counters["tondrel_s"] = oursS;
    state.counters["avrdude_s"] = theirsS;
    state.counters["ratio"] = oursS / theirsS;
    state.counters["tondrel_transfers_per_KiB"] = static_cast<double>(ours["transfers"]) / kib;
    state.counters["avrdude_transfers_per_KiB"] = static_cast<double>(theirs["transfers"]) / kib;
}
BENCHMARK(BM_Atmega328pThroughFt232r)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
