#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "DataTestSupport.h"
#include "data/FileSave.h"

namespace tondrel::testing {
namespace {

size_t FilesIn(const std::filesystem::path& dir) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST(Save, BlankEEPROMAsIdf) {
    ScratchDir dir;
    const std::vector<uint8_t> blank(256, 0xFF);
    ASSERT_TRUE(SaveIdf(blank, dir.File("e.idf")));
    std::string expected;
    for (int i = 0; i < 256; ++i) expected += "255\r\n";
    EXPECT_EQ(ReadAll(dir.File("e.idf")), expected);
    EXPECT_EQ(IdfText({0, 63, 255}), "0\r\n63\r\n255\r\n");
}

TEST(Save, IdfRoundTripKeepsEveryByte) {
    ScratchDir dir;
    CurrentChip chip = MakeChip(Method::Pic, 2048, 64);
    Buffers b(chip);
    b.RecreateFlash();
    // Words of 14 bits, as a PIC holds them.
    for (size_t i = 0; i < 2048; ++i)
        b.FlashBuffer[i] = static_cast<uint8_t>(i * 7 & (i % 2 ? 0x3F : 0xFF));
    b.FlashBuffer[0x400E] = 0x32;
    const std::vector<uint8_t> saved = b.FlashBuffer;
    ASSERT_TRUE(SaveIdf(saved, dir.File("f.idf")));
    ASSERT_TRUE(Loads(b, Memory::Flash, dir.File("f.idf")));
    EXPECT_EQ(b.FlashBuffer, saved);
}

TEST(Save, FailedSaveLeavesNoTraceAndSaysWhy) {
    ScratchDir dir;
    EXPECT_EQ(SaveIdf({1, 2}, dir.File("nofolder/e.idf")),
              Status::Error("FileCannotWrite", dir.File("nofolder/e.idf"), std::strerror(ENOENT)));

    // The target is a folder: it is neither written into nor replaced, and nothing is left over.
    std::filesystem::create_directories(dir.Path / "taken" / "inside");
    EXPECT_EQ(SaveBinary({1, 2}, dir.File("taken")),
              Status::Error("FileCannotWrite", dir.File("taken"), std::strerror(EISDIR)));
    EXPECT_EQ(FilesIn(dir.Path), 1u);
}

TEST(Save, ReplacingAFileKeepsItsPermissionsAndLeavesNoTemporary) {
    ScratchDir dir;
    const std::string path = dir.Write("img.bin", "old contents");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(SaveBinary({0, 0xFF, 0x10}, path));
    EXPECT_EQ(ReadAll(path), std::string("\x00\xFF\x10", 3));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(FilesIn(dir.Path), 1u);
}

TEST(Save, IntelHexLeavesBlankLinesOutAndAddsSegmentRecords) {
    std::vector<uint8_t> buf(0x20010, 0xFF);
    buf[0x10] = 0x01;
    buf[0x10010] = 0x02;
    buf[0x2000F] = 0x03;
    EXPECT_EQ(IntelHexText(buf, EEPROMBlank()),
              ":1000100001FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEE\r\n"
              ":020000040001F9\r\n"
              ":1000100002FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFED\r\n"
              ":020000040002F8\r\n"
              ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF03FC\r\n"
              ":00000001FF\r\n");
    EXPECT_EQ(IntelHexText(std::vector<uint8_t>(100, 0xFF), EEPROMBlank()), ":00000001FF\r\n");
    // A short last line is written short.
    EXPECT_EQ(IntelHexText({0xAA, 0xBB}, EEPROMBlank()), ":02000000AABB99\r\n:00000001FF\r\n");
}

TEST(Save, PicIntelHexOmitsBlankWordsAndReloadsEqual) {
    ScratchDir dir;
    CurrentChip chip = MakeChip(Method::Pic, 2048, 64);
    Buffers b(chip);
    b.RecreateFlash();
    b.FlashBuffer[0] = 0x28;
    b.FlashBuffer[1] = 0x30;
    b.FlashBuffer[0x400E] = 0x32;
    const std::string text = IntelHexText(b.FlashBuffer, FlashBlankOf(b));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);  // two data lines and EOF
    const std::vector<uint8_t> saved = b.FlashBuffer;
    ASSERT_TRUE(SaveIntelHex(saved, FlashBlankOf(b), dir.File("p.hex")));
    ASSERT_TRUE(Loads(b, Memory::Flash, dir.File("p.hex")));
    EXPECT_EQ(b.FlashBuffer, saved);
}

}  // namespace
}  // namespace tondrel::testing
