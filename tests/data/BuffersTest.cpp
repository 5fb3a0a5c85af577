#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "data/Buffers.h"

namespace tondrel {
namespace {

using testing::MakeChip;

TEST(Buffers, BlankFillByMethodCode) {
    CurrentChip at89 = MakeChip(Method::At89s, 8192, 0);
    Buffers a(at89);
    ASSERT_TRUE(a.RecreateFlash());
    EXPECT_EQ(a.FlashBuffer, std::vector<uint8_t>(8192, 0xFF));
    EXPECT_EQ(at89.FlashDataEnd, 8191);
    EXPECT_FALSE(a.RecreateEEPROM());

    // PIC16F877 (code 0): every word 0x3FFF, stored FF 3F, right up to the configuration word.
    CurrentChip pic = MakeChip(Method::Pic, 16384, 256);
    Buffers p(pic);
    ASSERT_TRUE(p.RecreateFlash());
    ASSERT_EQ(p.FlashBuffer.size(), 0x4010u);
    for (size_t i = 0; i < p.FlashBuffer.size(); ++i)
        ASSERT_EQ(p.FlashBuffer[i], i % 2 ? 0x3F : 0xFF) << i;
    EXPECT_EQ(pic.FlashDataEnd, 16383);
    ASSERT_TRUE(p.RecreateEEPROM());
    EXPECT_EQ(p.EEPROMBuffer, std::vector<uint8_t>(256, 0xFF));
    EXPECT_EQ(pic.EEPROMDataEnd, 255);
}

TEST(Buffers, PicACodeBlanksProgramMemoryFFButEverythingBeyondAs3FFF) {
    // PIC16F873A: 4K words of program memory, then an unimplemented gap, then the ID and
    // configuration words. Only program memory takes the 0xFF blank of method code 6.
    CurrentChip pic = MakeChip(Method::PicA, 8192, 128);
    Buffers b(pic);
    ASSERT_TRUE(b.RecreateFlash());
    ASSERT_EQ(b.FlashBuffer.size(), 0x4010u);
    EXPECT_EQ(b.FlashBuffer[0], 0xFF);
    EXPECT_EQ(b.FlashBuffer[8191], 0xFF);
    EXPECT_EQ(b.FlashBuffer[8192], 0xFF);
    EXPECT_EQ(b.FlashBuffer[8193], 0x3F);
    EXPECT_EQ(b.FlashBuffer[0x400E], 0xFF);
    EXPECT_EQ(b.FlashBuffer[0x400F], 0x3F);
    EXPECT_EQ(pic.FlashSize, 8192);  // the chip's own size is not touched
}

TEST(Buffers, ChipWithoutFlashLeavesBufferAlone) {
    CurrentChip chip = MakeChip(Method::Avr, 1024, 64);
    Buffers b(chip);
    ASSERT_TRUE(b.RecreateFlash());
    b.FlashBuffer[3] = 0x12;
    chip.FlashSize = 0;
    chip.FlashDataEnd = 77;
    EXPECT_FALSE(b.RecreateFlash());
    EXPECT_EQ(b.FlashBuffer.size(), 1024u);
    EXPECT_EQ(b.FlashBuffer[3], 0x12);
    EXPECT_EQ(chip.FlashDataEnd, 77);
}

TEST(Buffers, SelectingAChipAgainDiscardsWhatWasLoaded) {
    CurrentChip chip = MakeChip(Method::Avr, 2048, 128);
    Buffers b(chip);
    b.RecreateFlash();
    b.RecreateEEPROM();
    b.FlashBuffer[100] = 1;
    b.EEPROMBuffer[5] = 2;
    chip.FlashDataEnd = 100;
    b.RecreateFlash();
    b.RecreateEEPROM();
    EXPECT_EQ(b.FlashBuffer[100], 0xFF);
    EXPECT_EQ(b.EEPROMBuffer[5], 0xFF);
    EXPECT_EQ(chip.FlashDataEnd, 2047);
}

}  // namespace
}  // namespace tondrel
