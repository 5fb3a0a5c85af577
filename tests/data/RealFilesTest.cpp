// Files written by independent tools (binutils, srecord, gputils) load to the bytes they hold.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "DataTestSupport.h"
#include "data/FileSave.h"

namespace tondrel::testing {
namespace {

bool RunTool(const std::string& command) {
    return std::system((command + " 2>/dev/null").c_str()) == 0;
}

// A firmware-like image: random code, a run of 0xFF, a few 0x00 runs, random tail.
std::string Image(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string img(size, '\0');
    for (char& c : img) c = static_cast<char>(rng() & 0xFF);
    std::fill(img.begin() + static_cast<long>(size / 4), img.begin() + static_cast<long>(size / 2),
              '\xFF');
    std::fill(img.begin() + 0x100, img.begin() + 0x180, '\0');
    return img;
}

std::vector<uint8_t> AsBytes(const std::string& s) {
    return {s.begin(), s.end()};
}

class RealFiles : public ::testing::Test {
  protected:
    ScratchDir Dir;
};

TEST_F(RealFiles, HexFromObjcopyAndSrecCatLoadsTheBinaryItWasMadeFrom) {
    const std::string img = Image(131072, 1);
    const std::string bin = Dir.Write("img.bin", img);
    ASSERT_TRUE(RunTool("objcopy -I binary -O ihex " + bin + " " + Dir.File("objcopy.hex")));
    ASSERT_TRUE(RunTool("srec_cat " + bin + " -binary -o " + Dir.File("srec.hex") + " -intel"));

    CurrentChip chip = MakeChip(Method::Avr, 131072, 4096);  // ATmega128
    Buffers b(chip);
    for (const char* name : {"objcopy.hex", "srec.hex"}) {
        ASSERT_TRUE(Loads(b, Memory::Flash, Dir.File(name)));
        EXPECT_EQ(b.FlashBuffer, AsBytes(img)) << name;
        EXPECT_EQ(chip.FlashDataEnd, 131071) << name;
    }
    ASSERT_TRUE(Loads(b, Memory::Flash, bin));
    EXPECT_EQ(b.FlashBuffer, AsBytes(img));
}

TEST_F(RealFiles, AvrSampleMatchesAvrObjcopy) {
    const std::string hex = std::string(TONDREL_SOURCE_ROOT) + "/samples/atmega16-blink.hex";
    ASSERT_TRUE(RunTool("avr-objcopy -I ihex -O binary " + hex + " " + Dir.File("m16.bin")));
    const std::string bin = ReadAll(Dir.File("m16.bin"));
    ASSERT_FALSE(bin.empty());
    CurrentChip chip = MakeChip(Method::Avr, 16384, 512);
    Buffers b(chip);
    ASSERT_TRUE(Loads(b, Memory::Flash, hex));
    EXPECT_EQ(std::vector<uint8_t>(b.FlashBuffer.begin(),
                                   b.FlashBuffer.begin() + static_cast<long>(bin.size())),
              AsBytes(bin));
    EXPECT_EQ(chip.FlashDataEnd + 1, static_cast<int32_t>(bin.size()));
    EXPECT_EQ(b.FlashBuffer[bin.size()], 0xFF);
}

TEST_F(RealFiles, OwnHexOf128KiBReadsBackInSrecCatAndInTheLoader) {
    const std::string img = Image(131072, 2);
    CurrentChip chip = MakeChip(Method::Avr, 131072, 4096);
    Buffers b(chip);
    b.RecreateFlash();
    std::copy(img.begin(), img.end(), b.FlashBuffer.begin());
    const std::vector<uint8_t> saved = b.FlashBuffer;
    ASSERT_TRUE(SaveIntelHex(saved, FlashBlankOf(b), Dir.File("own.hex")));

    ASSERT_TRUE(RunTool("srec_cat " + Dir.File("own.hex") + " -intel -fill 0xFF 0 0x20000 -o " +
                        Dir.File("back.bin") + " -binary"));
    EXPECT_EQ(ReadAll(Dir.File("back.bin")), img);

    b.RecreateFlash();
    ASSERT_TRUE(Loads(b, Memory::Flash, Dir.File("own.hex")));
    EXPECT_EQ(b.FlashBuffer, saved);

    ASSERT_TRUE(SaveBinary(saved, Dir.File("own.bin")));
    EXPECT_EQ(ReadAll(Dir.File("own.bin")), img);
}

uint16_t Word(const std::vector<uint8_t>& buf, size_t wordAddress) {
    return static_cast<uint16_t>(buf[2 * wordAddress] | buf[2 * wordAddress + 1] << 8);
}

// Built by gpasm from fixtures/pic-ids-eeprom.asm: __idlocs 0x1A2B, a configuration word,
// code at words 0-2 and 0x1FFF, and data EEPROM bytes 11 22 33 at 0-2 and EE at 0x10.
TEST_F(RealFiles, GpasmPicImageFillsFlashConfigurationAndEEPROM) {
    const std::string hex =
        std::string(TONDREL_SOURCE_ROOT) + "/tests/data/fixtures/pic-ids-eeprom.hex";
    for (Method method : {Method::PicA, Method::Pic}) {
        CurrentChip chip = MakeChip(method, 16384, 256);  // PIC16F877A, PIC16F877
        Buffers b(chip);
        b.RecreateFlash();
        b.RecreateEEPROM();
        ASSERT_TRUE(Loads(b, Memory::Flash, hex));
        EXPECT_EQ(Word(b.FlashBuffer, 0), 0x3055);       // movlw 0x55
        EXPECT_EQ(Word(b.FlashBuffer, 0x1FFF), 0x3442);  // retlw 0x42
        EXPECT_EQ(Word(b.FlashBuffer, 3), method == Method::Pic ? 0x3FFF : 0xFFFF);
        EXPECT_EQ(Word(b.FlashBuffer, 0x2000), 0x0001);
        EXPECT_EQ(Word(b.FlashBuffer, 0x2001), 0x000A);
        EXPECT_EQ(Word(b.FlashBuffer, 0x2002), 0x0002);
        EXPECT_EQ(Word(b.FlashBuffer, 0x2003), 0x000B);
        EXPECT_EQ(Word(b.FlashBuffer, 0x2004), 0x3FFF);
        EXPECT_EQ(Word(b.FlashBuffer, 0x2007), 0x3F32);
        EXPECT_EQ(b.EEPROMBuffer[0], 0x11);
        EXPECT_EQ(b.EEPROMBuffer[2], 0x33);
        EXPECT_EQ(b.EEPROMBuffer[3], 0x00);
        EXPECT_EQ(b.EEPROMBuffer[0x10], 0xEE);
        EXPECT_EQ(b.EEPROMBuffer[0x11], 0xFF);
        EXPECT_EQ(chip.EEPROMDataEnd, 0x10);
        EXPECT_TRUE(b.FlashFileHadEEPROM);
        EXPECT_EQ(chip.FlashSize, 16384);
    }
    // A smaller chip refuses the word at 0x1FFF, which it does not have.
    CurrentChip small = MakeChip(Method::PicA, 8192, 128);  // PIC16F873A
    Buffers b(small);
    EXPECT_FALSE(Loads(b, Memory::Flash, hex));
}

}  // namespace
}  // namespace tondrel::testing
