#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <regex>

#include "DataTestSupport.h"
#include "common/Text.h"
#include "data/FileLoad.h"

namespace tondrel {
namespace {

using ::testing::ElementsAre;
using testing::MakeChip;
using testing::ScratchDir;

// One Intel HEX record with its checksum, written the way the format defines it.
std::string Rec(unsigned address, unsigned type, const std::vector<uint8_t>& data) {
    char field[16];
    std::string s = ":";
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::snprintf(field, sizeof field, "%02X%04X%02X", static_cast<unsigned>(data.size()),
                  address & 0xFFFF, type);
    s += field;
    for (uint8_t b : data) {
        std::snprintf(field, sizeof field, "%02X", b);
        s += field;
        sum += b;
    }
    std::snprintf(field, sizeof field, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return s + field + "\r\n";
}

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
    return v;
}

class HexLoad : public ::testing::Test {
  protected:
    void UseChip(Method method, int32_t flash, int32_t eeprom) {
        Chip = MakeChip(method, flash, eeprom);
        Bufs.RecreateFlash();
        Bufs.RecreateEEPROM();
    }
    Result<LoadReport> LoadFlash(const std::string& name, const std::string& content) {
        return LoadFile(Bufs, Memory::Flash, Dir.Write(name, content));
    }
    Result<LoadReport> LoadEEPROM(const std::string& name, const std::string& content) {
        return LoadFile(Bufs, Memory::EEPROM, Dir.Write(name, content));
    }
    // Why a load failed; an empty message when it did not.
    Message FlashRefusal(const std::string& name, const std::string& content) {
        return LoadFlash(name, content).Error();
    }
    Message EEPROMRefusal(const std::string& name, const std::string& content) {
        return LoadEEPROM(name, content).Error();
    }

    ScratchDir Dir;
    CurrentChip Chip = MakeChip(Method::At89s, 8192, 0);
    Buffers Bufs{Chip};
};

TEST_F(HexLoad, ReportsPathSizeAndTime) {
    UseChip(Method::At89s, 8192, 0);
    const std::string hex =
        Rec(0, 0, Bytes(16, 0)) + Rec(0x1FF0, 0, Bytes(16, 0)) + ":00000001FF\n";
    const auto loaded = LoadFlash("a.hex", hex);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->Path, Dir.File("a.hex"));
    EXPECT_EQ(loaded->Size, 8192);
    EXPECT_FALSE(loaded->EEPROMFromFlash);
    EXPECT_TRUE(
        std::regex_match(loaded->OpenTime, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")))
        << loaded->OpenTime;

    UseChip(Method::Avr, 8192, 512);
    const auto eeprom = LoadEEPROM("e.eep", Rec(0, 0, {1, 2}));
    ASSERT_TRUE(eeprom);
    EXPECT_EQ(eeprom->Size, 2);
}

TEST_F(HexLoad, ALoadReplacesTheBufferAndAFailedOneKeepsIt) {
    UseChip(Method::At89s, 4096, 0);
    Bufs.FlashBuffer[0x100] = 0;  // bytes the file does not name are blank afterwards
    ASSERT_TRUE(LoadFlash("a.hex", Rec(0, 0, {1, 2}) + Rec(0x10, 0, {3}) + ":00000001FF\r\n\n"));
    EXPECT_EQ(Bufs.FlashBuffer[0], 1);
    EXPECT_EQ(Bufs.FlashBuffer[1], 2);
    EXPECT_EQ(Bufs.FlashBuffer[0x10], 3);
    EXPECT_EQ(Bufs.FlashBuffer[0x100], 0xFF);
    EXPECT_EQ(Chip.FlashDataEnd, 0x10);

    // A file that fails on its last line leaves what the previous load put there, data end
    // included: nothing of it is applied.
    const std::vector<uint8_t> before = Bufs.FlashBuffer;
    EXPECT_EQ(FlashRefusal("b.hex", Rec(0, 0, {9, 9, 9}) + Rec(0x20, 0, {4}) + ":0100300005CB\n"),
              Msg("FlashChecksum", 3));
    EXPECT_EQ(Bufs.FlashBuffer, before);
    EXPECT_EQ(Chip.FlashDataEnd, 0x10);
}

// Every record is checked whole, and the file as a whole, before a byte of it counts.
TEST_F(HexLoad, RecordsThatContradictThemselvesOrEachOtherAreRefused) {
    UseChip(Method::Avr, 131072, 4096);  // ATmega128
    struct Case {
        const char* What;
        std::string File;
        Message Refusal;
    };
    const Case cases[] = {
        {"bad checksum of an extended linear address", ":020000040001F8\n" + Rec(0, 0, {1}),
         Msg("FlashChecksum", 1)},
        {"bad checksum of an extended segment address", ":020000021000ED\n",
         Msg("FlashChecksum", 1)},
        {"bad checksum of a start address", ":0400000300001234B2\n", Msg("FlashChecksum", 1)},
        {"bad checksum of the end record", Rec(0, 0, {1}) + ":00000001FE\n",
         Msg("FlashChecksum", 2)},
        {"longer than its count", ":0100000001020C\n", Msg("HexRecordLength", 1, 1)},
        {"shorter than its count", ":030000000102FA\n", Msg("HexRecordLength", 3, 1)},
        {"unknown record type", Rec(0, 6, {1}) + Rec(0, 7, {}), Msg("HexUnknownType", "06", 1)},
        {"two records, different data at one address",
         Rec(0x100, 0, {1, 2, 3}) + Rec(0x102, 0, {4}), Msg("HexOverlap", "0102", 2)},
        {"data after the end record", Rec(0, 0, {1}) + ":00000001FF\n" + Rec(0x10, 0, {3}),
         Msg("HexAfterEnd", 3)},
        {"an extended address of the wrong length", ":03000004000100F8\n", Msg("HexBadRecord", 1)},
    };
    for (const Case& c : cases) {
        Bufs.FlashBuffer[0] = 0x5A;
        EXPECT_EQ(FlashRefusal("a.hex", c.File), c.Refusal) << c.What;
        EXPECT_EQ(Bufs.FlashBuffer[0], 0x5A) << c.What;
        EXPECT_EQ(FailedLine(c.Refusal), ParseNumber(c.Refusal.Args.back(), NumberStyle::Decimal));
    }
    // The same data twice is no contradiction; start addresses are taken and ignored.
    ASSERT_TRUE(LoadFlash("a.hex", Rec(0x100, 0, {1, 2, 3}) + Rec(0x102, 0, {3}) +
                                       ":0400000300001234B3\n:04000005000000CD2A\n"));
    EXPECT_EQ(Chip.FlashDataEnd, 0x102);
}

TEST_F(HexLoad, ExtendedAddressRecords) {
    UseChip(Method::Avr, 131072, 4096);  // ATmega128
    ASSERT_TRUE(LoadFlash("a.hex", ":020000040000FA\n"));
    EXPECT_EQ(Chip.FlashDataEnd, 1);

    // Type 04 0001 and type 02 1000 both move the base to 65536.
    for (const char* base : {":020000040001F9\n", ":020000021000EC\n"}) {
        ASSERT_TRUE(LoadFlash("a.hex", std::string(base) + Rec(0x0010, 0, {0xAB}))) << base;
        EXPECT_EQ(Bufs.FlashBuffer[65536 + 0x10], 0xAB);
        EXPECT_EQ(Bufs.FlashBuffer[0x10], 0xFF);
        EXPECT_EQ(Chip.FlashDataEnd, 65536 + 0x10);
    }

    // 256 KiB (ATmega2560): the last segment loads up to the last byte; one more is refused.
    UseChip(Method::Avr, 262144, 4096);
    ASSERT_TRUE(LoadFlash("a.hex", ":020000040003F7\n" + Rec(0xFFF0, 0, Bytes(16, 1))));
    EXPECT_EQ(Bufs.FlashBuffer[0x3FFF0], 1);
    EXPECT_EQ(Bufs.FlashBuffer[0x3FFFF], 16);
    EXPECT_EQ(Bufs.FlashBuffer[0xFFF0], 0xFF);
    EXPECT_EQ(Chip.FlashDataEnd, 0x3FFFF);
    EXPECT_EQ(FlashRefusal("a.hex", ":020000040004F6\n" + Rec(0x0000, 0, {0xAB})),
              Msg("FlashCapacity", 262144, 1));

    // On a 64 KiB chip the base record itself lies beyond the chip.
    UseChip(Method::Avr, 65536, 2048);
    EXPECT_EQ(FlashRefusal("a.hex", ":020000040001F9\n"), Msg("FlashCapacity", 65536, 1));

    // The largest base cannot overflow the address arithmetic.
    EXPECT_EQ(FlashRefusal("a.hex", ":02000004FFFFFC\n" + Rec(0xFFF0, 0, Bytes(16, 1))),
              Msg("FlashCapacity", 65536, 1));
}

TEST_F(HexLoad, LastByteOfChipAcceptedOneHigherRefusedWithNothingStored) {
    UseChip(Method::At89s, 8192, 0);
    ASSERT_TRUE(LoadFlash("a.hex", Rec(0x1FF0, 0, Bytes(16, 0x40))));
    EXPECT_EQ(Bufs.FlashBuffer[0x1FFF], 0x4F);
    EXPECT_EQ(Chip.FlashDataEnd, 0x1FFF);

    EXPECT_EQ(FlashRefusal("a.hex", Rec(0, 0, {7}) + Rec(0x1FF1, 0, Bytes(16, 0x40))),
              Msg("FlashCapacity", 8192, 2));
    EXPECT_EQ(Bufs.FlashBuffer[0], 0xFF);  // nothing of the refused file is applied
    EXPECT_EQ(Bufs.FlashBuffer[0x1FFF], 0x4F);
    EXPECT_EQ(Chip.FlashDataEnd, 0x1FFF);
}

TEST_F(HexLoad, WrongChecksumStoresNothing) {
    UseChip(Method::Avr, 8192, 512);
    EXPECT_EQ(EEPROMRefusal("e.hex", ":0300100011223300\n" + Rec(0x20, 0, {9})),
              Msg("EEPROMChecksum", 1));
    EXPECT_EQ(Bufs.EEPROMBuffer[0x10], 0xFF);
    EXPECT_EQ(FlashRefusal("a.hex", "\n" + Rec(0, 0, {1}) + ":0300100011223300\n"),
              Msg("FlashChecksum", 3));  // blank lines count
}

TEST_F(HexLoad, LowerCaseDigitsAndLineEnds) {
    UseChip(Method::At89s, 4096, 0);
    std::string lower = Rec(0x0AB0, 0, {0xAB, 0xCD, 0xEF});
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // CR LF, lone LF, and a last line without any line end.
    ASSERT_TRUE(LoadFlash("a.hex", lower + Rec(0, 0, {1}).substr(0, 13) + "\n" + ":0100010002FC"));
    EXPECT_EQ(Bufs.FlashBuffer[0xAB0], 0xAB);
    EXPECT_EQ(Bufs.FlashBuffer[0xAB2], 0xEF);
    EXPECT_EQ(Bufs.FlashBuffer[0], 1);
    EXPECT_EQ(Bufs.FlashBuffer[1], 2);
}

TEST_F(HexLoad, MalformedLinesAreRefusedWithoutReadingPastTheirEnd) {
    UseChip(Method::At89s, 4096, 0);
    // Only a line that does not start with ':' is "not a HEX line"; the others are records
    // that are not whole.
    EXPECT_EQ(FlashRefusal("a.hex", "0100000001FE\n"), Msg("FlashNotHexLine", 1));
    const std::vector<std::string> bad = {
        ":01000000",       // data record cut before its data
        ":02000004000",    // extended address cut inside its value
        ":01000000G1FE",   // not a hex digit
        ":0100 00000AF5",  // blank inside a field
    };
    for (const std::string& line : bad) {
        EXPECT_EQ(FlashRefusal("a.hex", line + "\n"), Msg("HexBadRecord", 1)) << line;
        EXPECT_EQ(Bufs.FlashBuffer[0], 0xFF) << line;
    }
    EXPECT_EQ(FlashRefusal("a.hex", ":0400000001020304\n"), Msg("HexRecordLength", 4, 1));
    UseChip(Method::Avr, 2048, 128);
    EXPECT_EQ(EEPROMRefusal("e.hex", Rec(0, 0, {1}) + "x\n"), Msg("EEPROMNotHexLine", 2));
}

TEST_F(HexLoad, ExtensionChoosesTheReader) {
    EXPECT_EQ(FileKindOf("/x/A.HEX", Memory::Flash), FileKind::IntelHex);
    EXPECT_EQ(FileKindOf("/x/a.eep", Memory::EEPROM), FileKind::IntelHex);
    EXPECT_EQ(FileKindOf("/x/a.eep", Memory::Flash), FileKind::Idf);
    EXPECT_EQ(FileKindOf("/x.hex/noext", Memory::Flash), FileKind::Idf);
    EXPECT_EQ(FileKindOf("/x/a.txt", Memory::Flash), FileKind::Idf);
    EXPECT_EQ(FileKindOf("/x/a.Bin", Memory::EEPROM), FileKind::Binary);

    UseChip(Method::At89s, 4096, 0);
    ASSERT_TRUE(LoadFlash("UPPER.HEX", Rec(0, 0, {0x5A})));
    EXPECT_EQ(Bufs.FlashBuffer[0], 0x5A);
    ASSERT_TRUE(LoadFlash("list.txt", "17\r\n200\n0\n"));
    EXPECT_THAT(std::vector<uint8_t>(Bufs.FlashBuffer.begin(), Bufs.FlashBuffer.begin() + 4),
                ElementsAre(17, 200, 0, 0xFF));
}

TEST_F(HexLoad, IdfReading) {
    UseChip(Method::Avr, 2048, 16);
    const auto loaded = LoadEEPROM("e.idf", "1\r\n2\r\n 255 \r\n");
    ASSERT_TRUE(loaded);
    EXPECT_THAT(std::vector<uint8_t>(Bufs.EEPROMBuffer.begin(), Bufs.EEPROMBuffer.begin() + 4),
                ElementsAre(1, 2, 255, 0xFF));
    EXPECT_EQ(loaded->Size, 1);  // idf reading leaves the data end at 0

    // A line that is not a byte value refuses the file, naming the line; nothing is applied.
    EXPECT_EQ(EEPROMRefusal("e.idf", "4\n5\nabc\n6\n"), Msg("IdfNotInteger", 3, "abc"));
    EXPECT_THAT(std::vector<uint8_t>(Bufs.EEPROMBuffer.begin(), Bufs.EEPROMBuffer.begin() + 4),
                ElementsAre(1, 2, 255, 0xFF));
    for (const std::string text : {"", "1.5", "0x10", "99999999999999999999", "+-3", "12 abc"})
        EXPECT_EQ(EEPROMRefusal("e.idf", text + "\n"), Msg("IdfNotInteger", 1, text));
    for (const char* text : {"256", "-1", "2147483647"})
        EXPECT_EQ(EEPROMRefusal("e.idf", "7\n" + std::string(text) + "\n"),
                  Msg("IdfOutOfRange", 2, text));
    EXPECT_EQ(EEPROMRefusal("e.idf", ""), Msg("IdfEmpty", 1));

    // One line more than the chip holds is refused.
    std::string lines;
    for (int i = 0; i < 17; ++i) lines += "0\r\n";
    EXPECT_EQ(EEPROMRefusal("e.idf", lines), Msg("IdfTooManyLines", 16, 17));
    EXPECT_TRUE(LoadEEPROM("e.idf", lines.substr(3)));
}

TEST_F(HexLoad, FileThatCannotBeOpenedIsReportedAndLeavesTheBufferAsItWas) {
    UseChip(Method::At89s, 4096, 0);
    Bufs.FlashBuffer[0] = 0;
    EXPECT_EQ(LoadFile(Bufs, Memory::Flash, Dir.File("missing.hex")).Error(),
              Msg("FileCannotOpen", Dir.File("missing.hex"), std::strerror(ENOENT)));
    EXPECT_EQ(Bufs.FlashBuffer[0], 0);  // a reload that fails must not blank what is there
    // A folder opens but cannot be read; control bytes in the path are shown escaped.
    std::filesystem::create_directory(Dir.Path / "a\x1b[2Jb");
    EXPECT_EQ(LoadFile(Bufs, Memory::Flash, Dir.File("a\x1b[2Jb")).Error(),
              Msg("FileCannotOpen", Dir.File("a\\x1B[2Jb"), std::strerror(EISDIR)));
    EXPECT_EQ(Bufs.FlashBuffer[0], 0);
}

TEST_F(HexLoad, BinaryFiles) {
    UseChip(Method::Avr, 1024, 64);
    ASSERT_TRUE(LoadFlash("img.bin", std::string("\x01\x00\x02", 3)));
    EXPECT_EQ(Bufs.FlashBuffer[1], 0);
    EXPECT_EQ(Bufs.FlashBuffer[3], 0xFF);
    EXPECT_EQ(Chip.FlashDataEnd, 2);
    EXPECT_EQ(FlashRefusal("big.bin", std::string(1025, '\0')), Msg("BinaryTooBig", 1025, 1024));
    EXPECT_EQ(Bufs.FlashBuffer[1], 0);  // the file before stays

    // A PIC image holds 14-bit words, and nothing but blank words where the chip has no memory.
    UseChip(Method::Pic, 2048, 64);
    EXPECT_EQ(FlashRefusal("p.bin", std::string("\x01\x00\xFF\x7F", 4)),
              Msg("PicWordTooWide", "0001", "7FFF"));
    EXPECT_EQ(FlashRefusal("p.idf", "1\n0\n255\n127\n"), Msg("PicWordTooWide", "0001", "7FFF", 4));
    std::string beyond(2048, '\0');
    beyond += std::string("\x01\x00", 2);
    EXPECT_EQ(FlashRefusal("p.bin", beyond), Msg("BinaryTooBig", 2050, 2048));
    std::string lines;
    for (int i = 0; i < 2050; ++i) lines += i == 2048 ? "1\n" : "0\n";
    EXPECT_EQ(FlashRefusal("p.idf", lines), Msg("IdfTooManyLines", 2048, 2049));
    // A whole buffer as saved (blank words beyond program memory, 0xFFFF gaps) loads again.
    std::string saved;
    for (int w = 0; w < 0x2008; ++w) saved += w < 1024 && w % 3 ? "\xFF\xFF" : "\xFF\x3F";
    EXPECT_TRUE(LoadFlash("p.bin", saved));
}

TEST_F(HexLoad, PicEEPROMRecordsOfAFlashFile) {
    UseChip(Method::Pic, 2048, 64);  // PIC16F84A
    Bufs.EEPROMBuffer[40] = 0x99;
    const auto loaded =
        LoadFlash("p.hex", Rec(0x4200, 0, {0xA1, 0, 0xA2, 0}) + Rec(0x427E, 0, {0xAF, 0}));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->EEPROMFromFlash, 64);
    EXPECT_TRUE(Bufs.FlashFileHadEEPROM);
    EXPECT_EQ(Bufs.EEPROMBuffer[0], 0xA1);
    EXPECT_EQ(Bufs.EEPROMBuffer[1], 0xA2);
    EXPECT_EQ(Bufs.EEPROMBuffer[63], 0xAF);
    EXPECT_EQ(Bufs.EEPROMBuffer[40], 0xFF);  // the file's EEPROM data replaced the old content
    EXPECT_EQ(Chip.EEPROMDataEnd, 63);
    EXPECT_EQ(Chip.FlashDataEnd, 0);

    // Past the last EEPROM byte, or between the configuration word and 0x4200: refused.
    EXPECT_EQ(FlashRefusal("p.hex", Rec(0x4280, 0, {1, 0})), Msg("EEPROMCapacity", 64, 1));
    EXPECT_EQ(FlashRefusal("p.hex", Rec(0x4100, 0, {1, 0})), Msg("FlashCapacity", 2048, 1));
    // Beyond program memory but short of the ID words: refused, not parked in the buffer.
    EXPECT_EQ(FlashRefusal("p.hex", Rec(0x07FE, 0, {1, 0, 2, 0})), Msg("FlashCapacity", 2048, 1));
    EXPECT_EQ(FlashRefusal("p.hex", Rec(0x3FFE, 0, {1, 0, 2, 0})), Msg("FlashCapacity", 2048, 1));
    EXPECT_EQ(Bufs.FlashBuffer[0x0800], 0xFF);
    EXPECT_TRUE(LoadFlash("p.hex", Rec(0x07FE, 0, {1, 0}) + Rec(0x4000, 0, {1, 0})));

    // A Flash file without EEPROM records leaves the EEPROM buffer alone.
    Bufs.EEPROMBuffer[2] = 0x42;
    // So does one whose EEPROM records come before a line that fails: they count only once
    // the whole file has loaded.
    const int32_t endBefore = Chip.EEPROMDataEnd;
    EXPECT_EQ(FlashRefusal("p.hex", Rec(0x4200, 0, {0x11, 0, 0x22, 0}) + ":0100000"),
              Msg("HexBadRecord", 2));
    // A program word with bits 14 and 15 set is no PIC word.
    EXPECT_EQ(FlashRefusal("p.hex", Rec(0x10, 0, {0xFF, 0x7F})),
              Msg("PicWordTooWide", "0008", "7FFF", 1));
    EXPECT_EQ(Bufs.EEPROMBuffer[0], 0xA1);
    EXPECT_EQ(Bufs.EEPROMBuffer[2], 0x42);
    EXPECT_EQ(Chip.EEPROMDataEnd, endBefore);
    ASSERT_TRUE(LoadFlash("p.hex", Rec(0, 0, {0x28, 0x30})));
    EXPECT_FALSE(Bufs.FlashFileHadEEPROM);
    EXPECT_EQ(Bufs.EEPROMBuffer[2], 0x42);

    // Other chips know no such area.
    UseChip(Method::Avr, 32768, 1024);
    EXPECT_TRUE(LoadFlash("p.hex", Rec(0x4200, 0, {1, 0})));
    EXPECT_EQ(Bufs.FlashBuffer[0x4200], 1);
    EXPECT_EQ(Bufs.EEPROMBuffer[0], 0xFF);
}

TEST_F(HexLoad, RandomLinesNeverLeaveTheBuffers) {
    // Mutated records: truncated, with stray characters, huge bases. Whatever the parser
    // decides, it must stay inside the line and the buffers (run under ASan in CI).
    std::mt19937 rng(12345);
    const std::string alphabet = "0123456789ABCDEFabcdef:G \t";
    for (Method method : {Method::Pic, Method::Avr, Method::PicA}) {
        UseChip(method, 4096, 64);
        HexLineParser parser(Bufs, Memory::Flash);
        const size_t size = parser.Image.size();
        for (int i = 0; i < 20000; ++i) {
            std::string line = Rec(rng() & 0xFFFF, rng() % 6, Bytes(rng() % 20, 0));
            line.resize(line.size() - 2);
            if (rng() % 2) line.resize(rng() % (line.size() + 1));
            if (rng() % 3 == 0 && !line.empty())
                line[rng() % line.size()] = alphabet[rng() % alphabet.size()];
            if (rng() % 4 == 0 && line.size() >= 3) line.replace(1, 2, "FF");
            (void)parser.ParseHexLine(line, i + 1);
            ASSERT_EQ(parser.Image.size(), size);
            ASSERT_TRUE(parser.EEPROMImage.empty() || parser.EEPROMImage.size() == 64u);
            ASSERT_LT(parser.DataEnd, static_cast<int32_t>(size));
            ASSERT_LT(parser.EEPROMImageEnd, 64);
        }
    }
}

// Each reader marks the addresses its file gave a value, a 0xFF it wrote on purpose included;
// what the write may leave out after an erase is only what no file and no edit touched.
TEST_F(HexLoad, EachReaderMarksTheAddressesItsFileDefined) {
    struct Case {
        const char* Name;
        std::string Content;
        std::vector<size_t> Defined, Undefined;
    };
    const Case cases[] = {
        {"a.hex",
         Rec(0x10, 0, {0xFF}) + Rec(0x20, 0, {1, 2, 3}) + ":00000001FF\n",
         {0x10, 0x20, 0x22},
         {0, 0x11, 0x1F, 0x23}},
        {"a.bin", std::string("\x01\xFF\x03", 3), {0, 1, 2}, {3, 0x100}},
        {"a.txt", "1\n255\n", {0, 1}, {2}},
    };
    for (const Case& c : cases) {
        UseChip(Method::Avr, 4096, 0);
        EXPECT_TRUE(Bufs.Defined(Memory::Flash, 0x123)) << "a blank buffer counts whole";
        ASSERT_TRUE(LoadFlash(c.Name, c.Content)) << c.Name;
        for (size_t a : c.Defined) EXPECT_TRUE(Bufs.Defined(Memory::Flash, a)) << c.Name << a;
        for (size_t a : c.Undefined) EXPECT_FALSE(Bufs.Defined(Memory::Flash, a)) << c.Name << a;
        Bufs.MarkDefined(Memory::Flash, 0x300, 2);  // the byte editor
        EXPECT_TRUE(Bufs.AnyDefined(Memory::Flash, 0x2FF, 2));
        EXPECT_FALSE(Bufs.AnyDefined(Memory::Flash, 0x280, 0x80));
    }
    // A PIC Flash file's EEPROM records mark the EEPROM buffer.
    UseChip(Method::Pic, 2048, 64);
    ASSERT_TRUE(LoadFlash("p.hex", Rec(0x4204, 0, {0x7E, 0x00}) + ":00000001FF\n"));
    EXPECT_TRUE(Bufs.Defined(Memory::EEPROM, 2));
    EXPECT_FALSE(Bufs.Defined(Memory::EEPROM, 0));
}

}  // namespace
}  // namespace tondrel
