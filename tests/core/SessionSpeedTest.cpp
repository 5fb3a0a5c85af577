// The session on benches that a real desk can have: a chip on its slow factory clock, a chip on
// a fast crystal, and a data-in line stuck at one level while every chip family is searched.
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <sstream>

#include "sim/AvrChip.h"
#include "sim/SimPort.h"
#include "tests/core/SessionTestSupport.h"

namespace tondrel::core {
namespace {

using testsupport::Desk;

// One bench built from options the command line cannot give (a stuck data line).
class BenchSet : public PortSet {
  public:
    explicit BenchSet(const sim::BenchOptions& options)
        : BenchObj(Time, options), Port(BenchObj, &Time) {}
    PortIo& At(int32_t) override { return Port; }
    Clock& GetClock() override { return Time; }
    std::string Describe() const override { return BenchObj.Name(); }
    bool Simulated() const override { return true; }
    sim::Bench* GetBench() override { return &BenchObj; }
    int32_t HomeBase() const override { return 0x378; }
    Status Close() override { return {}; }
    VirtualClock Time;
    sim::Bench BenchObj;
    sim::SimPort Port;
};

std::string State(sim::TargetChip& chip) {
    std::ostringstream out;
    chip.SaveState(out);
    return out.str();
}

// The state with every erased memory byte turned into 0x55, the configuration left alone.
std::string Filled(const std::string& state) {
    std::istringstream in(state);
    std::string out, line;
    while (std::getline(in, line)) {
        const bool memory = line.rfind("flash ", 0) == 0 || line.rfind("eeprom ", 0) == 0;
        const bool hexOnly =
            !line.empty() && line.find_first_not_of("0123456789ABCDEF") == std::string::npos;
        if (memory || hexOnly) {
            for (size_t i = memory ? line.rfind(' ') + 1 : 0; i < line.size(); ++i)
                if (line[i] == 'F') line[i] = '5';
        }
        out += line + "\n";
    }
    return out;
}

// A chip whose serial interface sees the adapter but whose answers never arrive: nothing the
// search sends may change a byte of it, whatever it makes of the frames (a shifted frame can
// read as a write command).
class SearchWithStuckMiso : public ::testing::TestWithParam<std::string> {};

TEST_P(SearchWithStuckMiso, ChangesNoByteOfTheChip) {
    for (bool level : {true, false}) {
        sim::BenchOptions o;
        o.ChipName = GetParam();
        o.MisoStuck = level;
        Desk desk(std::make_unique<BenchSet>(o));
        desk.Start();
        sim::TargetChip& chip = desk.ChipModel();
        // Give the memories content a stray write or erase would disturb.
        std::istringstream in(Filled(State(chip)));
        ASSERT_TRUE(chip.LoadState(in)) << GetParam();
        const std::string before = State(chip);
        ASSERT_NE(before.find("55"), std::string::npos);
        EXPECT_FALSE(desk.S().AutoSearch()) << GetParam() << " MISO " << level;
        EXPECT_EQ(State(chip), before) << GetParam() << " MISO " << level;
    }
}

std::vector<std::string> SerialChips() {
    std::vector<std::string> names{"AT89S51", "AT89S52", "AT89S53", "AT89S8252", "AT89S8253"};
    for (const auto& f : sim::AllAvrFacts()) names.emplace_back(f.Name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(EverySerialChip, SearchWithStuckMiso, ::testing::ValuesIn(SerialChips()),
                         [](const auto& info) { return info.param; });

// A chip on its 1 MHz factory clock needs SCK phases over 2 us, more than one port access: it
// is found and written at the default speed without anyone moving the speed bar, and the speed
// that worked is shown and stored. On a 16 MHz crystal it keeps the fastest clock.
TEST(SessionSpeed, FactoryFreshChipIsFoundAndWrittenAtTheSpeedItCanFollow) {
    for (uint32_t hz : {1'000'000u, 16'000'000u}) {
        sim::BenchOptions o;
        o.ChipName = "ATmega16";
        o.Faults.ClockHz = hz;
        Desk desk(std::make_unique<BenchSet>(o));
        desk.StartAndFind();
        Session& s = desk.S();
        ASSERT_EQ(s.Chip().CurrentChipName, "ATmega16") << hz;
        std::mt19937 random(hz);
        for (size_t i = 0; i < 1024; ++i)
            desk.Poke(Memory::Flash, i, static_cast<uint8_t>(random()));
        ASSERT_TRUE(s.Write(Memory::Flash)) << hz << ::testing::PrintToString(desk.view.Board);
        const auto& flash = dynamic_cast<sim::AvrChip&>(desk.ChipModel()).Flash();
        EXPECT_TRUE(
            std::equal(flash.begin(), flash.begin() + 1024, desk.Buf(Memory::Flash).begin()))
            << hz;
        const auto stored = desk.database->ReadSpeed(s.Chip().CurrentChipId).ValueOr({});
        ASSERT_TRUE(stored.has_value()) << hz;
        const int32_t speed = desk.view.State.Speed;
        EXPECT_EQ(*stored, speed) << hz;
        if (hz < 12'000'000u)
            EXPECT_GT(speed, 0) << hz;
        else
            EXPECT_EQ(speed, 0) << hz;
    }
}

}  // namespace
}  // namespace tondrel::core
