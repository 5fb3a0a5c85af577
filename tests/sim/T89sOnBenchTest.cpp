// The AT89S51/52 engine against the simulated bench: what a user sees on a real desk.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engines/T89s.h"
#include "sim/Bench.h"
#include "tests/support/BenchRig.h"
#include "tests/support/Results.h"

namespace tondrel::sim {
namespace {

using testsupport::Got;

struct Desk : testsupport::EngineRig<T89s> {
    explicit Desk(BenchOptions options) : EngineRig(std::move(options)) {
        Current.CurrentChipName = "AT89S52";
        Current.CurrentMethodCode = Method::At89s;
        Current.FlashSize = 8192;
    }
    std::string Signature() {
        (void)Engine.EnterProgramming();
        std::string text = Engine.ReadSignature().ValueOr("");
        (void)Engine.LeaveProgramming();
        return text;
    }
};

BenchOptions S52() {
    return testsupport::OnBench("AT89S52");
}

TEST(T89sOnBench, SignatureAndEmptyAdapter) {
    Desk desk(S52());
    EXPECT_EQ(desk.Signature(), "1E5206");
    BenchOptions empty;
    Desk none(empty);
    EXPECT_EQ(none.Signature(), "FFFFFF");
}

TEST(T89sOnBench, EraseWriteVerifyReadBackFullChip) {
    Desk desk(S52());
    std::vector<uint8_t> image(8192);
    std::mt19937 random(52);
    for (auto& b : image) b = static_cast<uint8_t>(random());
    image[100] = 0xFF;  // left as erased: skipped by the engine

    // A chip that was programmed before: writing over it without erase cannot verify.
    (void)desk.Engine.EnterProgramming();
    ASSERT_TRUE(desk.Engine.WriteFlashByte(7, 0x00));
    EXPECT_FALSE(desk.Engine.WriteFlashByte(7, 0x5A));

    // With verification and without: the data poll alone must keep every write out of the
    // cycle of the one before.
    for (bool verify : {true, false}) {
        desk.Engine.SetAutoVerify(verify);
        (void)desk.Engine.EraseChip();
        for (int32_t a = 0; a < 8192; ++a)
            ASSERT_TRUE(desk.Engine.WriteFlashByte(a, image[a])) << a;
        (void)desk.Engine.LeaveProgramming();

        (void)desk.Engine.EnterProgramming();
        for (int32_t a = 0; a < 8192; ++a)
            ASSERT_EQ(Got(desk.Engine.ReadFlashByte(a)), image[a]) << a << verify;
        std::reverse(image.begin(), image.end());
    }
    (void)desk.Engine.LeaveProgramming();
}

TEST(T89sOnBench, ByteThatNeverProgramsTimesOut) {
    BenchOptions o = S52();
    o.Faults.StuckAddress = 0x0200;
    Desk desk(o);
    (void)desk.Engine.EnterProgramming();
    ASSERT_TRUE(desk.Engine.WriteFlashByte(0x01FF, 0x11));
    const uint64_t start = desk.Clock.Peek();
    EXPECT_FALSE(desk.Engine.WriteFlashByte(0x0200, 0x22));
    const uint64_t took = desk.Clock.Peek() - start;
    EXPECT_GT(took, 1'000'000'000u);
    EXPECT_LT(took, 1'010'000'000u);
    EXPECT_TRUE(desk.Engine.WriteFlashByte(0x0201, 0x33));
}

TEST(T89sOnBench, SlowChipNeedsALongerBitDelay) {
    BenchOptions o = S52();
    o.Faults.MinPhaseNs = 40'000;  // 40 us per clock phase
    Desk desk(o);
    // The chip does not echo programming enable at full speed: the engine slows down by itself
    // and stays a step above the slowest phase that worked to within a 64th (40 us).
    desk.Engine.SetBitDelay(0);
    EXPECT_EQ(desk.Signature(), "1E5206");
    EXPECT_EQ(desk.Engine.BitDelay, 40000 + 40000 / 16);
    (void)desk.Engine.EnterProgramming();
    EXPECT_TRUE(desk.Engine.WriteFlashByte(0x10, 0xA5));
    EXPECT_EQ(Got(desk.Engine.ReadFlashByte(0x10)), 0xA5);
}

TEST(T89sOnBench, LockModeThreeHidesTheMemory) {
    Desk desk(S52());
    (void)desk.Engine.EnterProgramming();
    ASSERT_TRUE(desk.Engine.WriteFlashByte(0, 0x12));
    EXPECT_EQ(Got(desk.Engine.RawCommand(0x24, 0, 0, 0)) & 0x1C, 0x00);
    (void)desk.Engine.RawCommand(0xAC, 0xE2, 0, 0);
    EXPECT_EQ(Got(desk.Engine.RawCommand(0x24, 0, 0, 0)) & 0x1C, 0x0C);
    EXPECT_NE(Got(desk.Engine.ReadFlashByte(0)), 0x12);
    EXPECT_FALSE(desk.Engine.WriteFlashByte(1, 0x34));
}

}  // namespace
}  // namespace tondrel::sim
