// The port set: what each --port text opens, how bases without hardware read, the bench that
// follows the stored LPT, and the chip state kept between runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/Ports.h"
#include "sim/Bench.h"
#include "sim/backend/BenchBackEnd.h"
#include "tests/db/TempDir.h"
#include "tests/support/Results.h"

namespace tondrel::core {
namespace {

PortOptions Opts(std::string port, int lpt = 0, std::string state = {}, bool fallBack = false) {
    PortOptions o;
    o.Port = std::move(port);
    o.Lpt = lpt;
    o.SimState = std::move(state);
    o.FallBackToBench = fallBack;
    return o;
}

std::unique_ptr<PortSet> OpenOk(PortOptions options) {
    sim::RegisterBenchBackEnd();
    auto set = PortSet::Open(options);
    EXPECT_TRUE(set.Ok()) << English(set);
    return set ? std::move(set).Value() : nullptr;
}

std::string OpenError(PortOptions options) {
    sim::RegisterBenchBackEnd();
    auto set = PortSet::Open(options);
    EXPECT_FALSE(set.Ok());
    return English(set);
}

// The status register at a base, as the PC reads it.
uint8_t Status(PortSet& set, int32_t base) {
    return set.At(base).PortIn(static_cast<uint16_t>(base + 1));
}

TEST(PortSet, RefusesWhatItCannotOpenWithOneClearMessage) {
    EXPECT_NE(OpenError(Opts("lpt9")).find("unknown port"), std::string::npos);
    EXPECT_NE(OpenError(Opts("sim:ATmega16", 4)).find("LPT4"), std::string::npos);
    EXPECT_NE(OpenError(Opts("sim:NoSuchChip")).find("NoSuchChip"), std::string::npos);
    // Port bases are multiples of four: the router relies on it.
    EXPECT_NE(OpenError(Opts("direct:0x379")).find("0x379"), std::string::npos);
    EXPECT_NE(OpenError(Opts("direct:lpt1")).find("lpt1"), std::string::npos);
    if (!std::filesystem::exists("/dev/parport7")) {
        const std::string error = OpenError(Opts("ppdev:/dev/parport7"));
        EXPECT_NE(error.find("/dev/parport7"), std::string::npos) << error;
        EXPECT_NE(error.find("modprobe"), std::string::npos) << error;
    }
}

// Another back end (an FTDI adapter, say) comes in by its prefix alone: the set it opens and the
// names it refuses are its own, and registering it again replaces it.
TEST(PortSet, BackEndsAreFoundByTheirPrefix) {
    struct NamedSet : PortSet {
        explicit NamedSet(std::string name) : Name(std::move(name)) {}
        PortIo& At(int32_t) override { std::abort(); }
        Clock& GetClock() override { return Time; }
        std::string Describe() const override { return Name; }
        bool Simulated() const override { return false; }
        int32_t HomeBase() const override { return 0x378; }
        tondrel::Status Close() override { return {}; }
        std::string Name;
        VirtualClock Time;
    };
    for (const char* generation : {"first", "second"}) {
        const std::string opened = generation;
        RegisterPortBackEnd(
            {"fake",
             [opened](const PortOptions& o) -> Result<std::unique_ptr<PortSet>> {
                 return std::unique_ptr<PortSet>(std::make_unique<NamedSet>(opened + " " + o.Port));
             },
             [](const std::string& port) {
                 return port == "fake:bad" ? tondrel::Status::Error("PortUnknown", port)
                                           : tondrel::Status();
             }});
        auto set = OpenOk(Opts("fake:a"));
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(set->Describe(), opened + " fake:a");
    }
    EXPECT_TRUE(CheckPortName("fake:good").Ok());
    EXPECT_EQ(English(CheckPortName("fake:bad")),
              English(tondrel::Status::Error("PortUnknown", "fake:bad")));
    // A prefix nobody registered, and one that only begins like a registered one.
    EXPECT_NE(English(CheckPortName("fakeish:a")).find("unknown port"), std::string::npos);
    EXPECT_NE(OpenError(Opts("nosuch:a")).find("unknown port"), std::string::npos);
}

TEST(PortSet, FallsBackToTheBenchOnlyWhenAskedAndNoPortWasNamed) {
    if (std::filesystem::exists("/dev/parport0")) GTEST_SKIP() << "a real port is present";
    const std::string error = OpenError(Opts(""));
    EXPECT_NE(error.find("/dev/parport0"), std::string::npos) << error;

    auto set = OpenOk(Opts("", 0, {}, true));
    ASSERT_NE(set, nullptr);
    EXPECT_TRUE(set->Simulated());
    EXPECT_TRUE(set->FellBack());
    EXPECT_NE(set->FallBackReason().Text(Language::English).find("/dev/parport0"),
              std::string::npos);
    EXPECT_NE(set->Describe().find("ATmega16"), std::string::npos);

    // A named port never falls back.
    OpenError(Opts("ppdev:/dev/parport7", 0, {}, true));
}

TEST(PortSet, BenchSitsAtItsLptAndOtherBasesReadLikeAnEmptyConnector) {
    auto set = OpenOk(Opts("sim:AT89S52", 2));
    ASSERT_NE(set, nullptr);
    EXPECT_FALSE(set->FellBack());
    EXPECT_EQ(set->HomeBase(), 0x278);
    EXPECT_EQ(&set->At(0x278), &set->At(0x278));
    EXPECT_NE(&set->At(0x378), &set->At(0x278));
    // Nothing plugged in: every status line floats high (pin 11 arrives inverted in bit 7).
    EXPECT_EQ(Status(*set, 0x378) & 0xF8, 0x78);
    EXPECT_EQ(Status(*set, 0x3BC) & 0xF8, 0x78);
    // An explicit LPT stays where it was put, whatever the settings say.
    set->FollowStoredLpt(3);
    EXPECT_EQ(set->HomeBase(), 0x278);
}

TEST(PortSet, BenchOpenedForTheStoredLptMovesThere) {
    auto set = OpenOk(Opts("sim:ATmega16"));
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->HomeBase(), 0x378);
    PortIo& bench = set->At(0x378);
    set->At(0x278);  // an empty connector was handed out for LPT2 before the move
    set->FollowStoredLpt(2);
    EXPECT_EQ(set->HomeBase(), 0x278);
    EXPECT_EQ(&set->At(0x278), &bench);
    EXPECT_NE(&set->At(0x378), &bench);
    set->FollowStoredLpt(0);  // not an LPT: ignored
    EXPECT_EQ(set->HomeBase(), 0x278);
}

TEST(PortSet, ChipStateIsLoadedAtOpenAndSavedByClose) {
    testing::TempDir dir;
    const std::string state = dir.File("bench.state");
    {
        auto set = OpenOk(Opts("sim:AT89S52", 0, state));
        ASSERT_NE(set, nullptr);
        ASSERT_NE(set->GetBench(), nullptr);
        EXPECT_EQ(English(set->Close()), "");
    }
    EXPECT_TRUE(std::filesystem::exists(state));
    {
        auto set = OpenOk(Opts("sim:AT89S52", 0, state));
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(English(set->GetBench()->Error()), "");
    }
    // An adapter without a chip has nothing to keep: closing is not a failure.
    auto empty = OpenOk(Opts("sim:empty", 0, dir.File("empty.state")));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(English(empty->Close()), "");
    EXPECT_FALSE(std::filesystem::exists(dir.File("empty.state")));
}

}  // namespace
}  // namespace tondrel::core
