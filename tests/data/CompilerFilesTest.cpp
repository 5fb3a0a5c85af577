// What compilers and converters write: ELF programs built by avr-gcc here and now, S-records
// from srec_cat. Each is cross-checked with what avr-objcopy or srec_cat make of the same file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "DataTestSupport.h"
#include "tests/support/AvrGcc.h"

namespace tondrel::testing {
namespace {

using testsupport::HaveTool;

bool RunTool(const std::string& command) {
    return std::system((command + " 2>/dev/null").c_str()) == 0;
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

class CompilerFiles : public ::testing::Test {
  protected:
    // The program compiled for `mcu` into name.elf; "" when avr-gcc failed.
    std::string Compile(const std::string& name, const std::string& mcu = "atmega16") {
        const std::string elf = Dir.File(name + ".elf");
        if (!testsupport::CompileAvr(Dir.Write(name + ".c", testsupport::kFusedProgram), mcu, elf))
            return {};
        return elf;
    }
    // What avr-objcopy puts into memory from `sections` (the EEPROM's moved down to 0).
    std::string Objcopy(const std::string& elf, const std::string& sections) {
        const std::string hex = Dir.File("objcopy.hex");
        const std::string bin = Dir.File("objcopy.bin");
        if (!RunTool("avr-objcopy -O ihex " + sections + " " + elf + " " + hex) ||
            !RunTool("avr-objcopy -I ihex -O binary " + hex + " " + bin))
            return {};
        return ReadAll(bin);
    }
    ScratchDir Dir;
    CurrentChip Chip = [] {
        CurrentChip c = MakeChip(Method::Avr, 16384, 512);
        c.CurrentChipName = "ATmega16";
        return c;
    }();
    Buffers Bufs{Chip};
};

TEST_F(CompilerFiles, AvrGccElfLoadsWhatAvrObjcopyExtracts) {
    TONDREL_NEED_TOOL("avr-gcc");
    const std::string elf = Compile("prog");
    ASSERT_FALSE(elf.empty());
    const std::string flash = Objcopy(elf, "-j .text -j .data");
    const std::string eeprom = Objcopy(elf, "-j .eeprom --change-section-lma .eeprom=0");
    ASSERT_FALSE(flash.empty());
    ASSERT_EQ(eeprom, std::string("\1\2\3\4\5"));

    // By its name and, under a name that says otherwise, by its content.
    const std::string renamed = Dir.Write("prog.hex", ReadAll(elf));
    for (const std::string& path : {elf, renamed}) {
        const auto loaded = LoadFile(Bufs, Memory::Flash, path);
        ASSERT_TRUE(loaded) << loaded.Error().Text(Language::English);
        EXPECT_EQ(loaded->Kind, FileKind::Elf);
        EXPECT_EQ(loaded->KindByContent, path == renamed);
        EXPECT_EQ(std::vector<uint8_t>(Bufs.FlashBuffer.begin(),
                                       Bufs.FlashBuffer.begin() + static_cast<long>(flash.size())),
                  Bytes(flash));
        EXPECT_EQ(Chip.FlashDataEnd + 1, static_cast<int32_t>(flash.size()));
        EXPECT_EQ(Bufs.FlashBuffer[flash.size()], 0xFF);
        ASSERT_TRUE(loaded->Config);
        EXPECT_EQ(loaded->Config->Fuses, (std::vector<uint8_t>{0xE4, 0xD9}));
        EXPECT_EQ(loaded->Config->Lock, 0xFE);
        EXPECT_EQ(loaded->Config->Device, "atmega16");
    }
    const auto loaded = LoadFile(Bufs, Memory::EEPROM, elf);
    ASSERT_TRUE(loaded) << loaded.Error().Text(Language::English);
    EXPECT_EQ(std::vector<uint8_t>(Bufs.EEPROMBuffer.begin(), Bufs.EEPROMBuffer.begin() + 6),
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 0xFF}));
    EXPECT_EQ(Chip.EEPROMDataEnd, 4);
}

// Damaged or foreign ELF files are refused by name of what is wrong, the buffers untouched.
TEST_F(CompilerFiles, BadElfFilesAreRefusedAndChangeNothing) {
    TONDREL_NEED_TOOL("avr-gcc");
    const std::string elf = Compile("prog");
    ASSERT_FALSE(elf.empty());
    const std::string good = ReadAll(elf);
    auto patched = [&](size_t at, char value) {
        std::string s = good;
        s[at] = value;
        return s;
    };
    struct Case {
        const char* Name;
        std::string Content;
        int32_t FlashSize, EEPROMSize;
        Memory Side;
        Message Expected;
    };
    const Case cases[] = {
        {"arm", patched(18, 40), 16384, 512, Memory::Flash,
         Msg("ElfWrongMachine", "ARM", "ATmega16")},
        {"64-bit", patched(4, 2), 16384, 512, Memory::Flash, Msg("ElfWrongClass", 64)},
        {"object", patched(16, 1), 16384, 512, Memory::Flash, Msg("ElfNotProgram", 1)},
        // Cut inside the sections: the section headers at the end are gone as well.
        {"cut", good.substr(0, 0x150), 16384, 512, Memory::Flash, Msg("ElfCut")},
        {"small flash", good, 128, 512, Memory::Flash,
         Msg("ElfSectionCapacity", ".text", "0000", 0, 128)},
        {"small eeprom", good, 16384, 4, Memory::EEPROM,
         Msg("ElfSectionCapacity", ".eeprom", "0000", 5, 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Chip.FlashSize = c.FlashSize;
        Chip.EEPROMSize = c.EEPROMSize;
        Bufs.BlankFillFlash();
        Bufs.BlankFillEEPROM();
        Bufs.FlashBuffer[0] = Bufs.EEPROMBuffer[0] = 0x5A;
        const auto loaded = LoadFile(Bufs, c.Side, Dir.Write("bad.elf", c.Content));
        ASSERT_FALSE(loaded);
        EXPECT_EQ(loaded.Error().Key, c.Expected.Key);
        // The section and the chip's size are named.
        if (c.Expected.Key == "ElfSectionCapacity") {
            EXPECT_EQ(loaded.Error().Args[0], c.Expected.Args[0]);
            EXPECT_EQ(loaded.Error().Args[3], c.Expected.Args[3]);
        } else {
            EXPECT_EQ(loaded.Error().Args, c.Expected.Args);
        }
        EXPECT_EQ(Bufs.FlashBuffer[0], 0x5A);
        EXPECT_EQ(Bufs.EEPROMBuffer[0], 0x5A);
    }
    // Any cut loses the section table at the end: never a partial program that loads.
    for (size_t n = 0; n < good.size(); n += 41)
        EXPECT_FALSE(LoadFile(Bufs, Memory::Flash, Dir.Write("cut.elf", good.substr(0, n)))) << n;
    // Damage anywhere is refused or loaded, never read out of bounds (the sanitizer build).
    std::mt19937 rng(11);
    for (int i = 0; i < 300; ++i) {
        std::string damaged = good;
        // In the headers and tables, at the start and the end, where damage matters.
        for (int k = 0; k < 4; ++k)
            damaged[rng() % 2 ? rng() % 0x200 : good.size() - 1 - rng() % 0x300] =
                static_cast<char>(rng());
        (void)LoadFile(Bufs, Memory::Flash, Dir.Write("damaged.elf", damaged));
    }
    // A program for another machine altogether, as the host compiler makes it.
    if (HaveTool("cc")) {
        const std::string host = Dir.File("host.o");
        ASSERT_TRUE(RunTool("echo 'int x = 1;' | cc -x c -c -o " + host + " -"));
        EXPECT_EQ(LoadFile(Bufs, Memory::Flash, host).Error().Key, "ElfWrongClass");
    }
}

// srec_cat's S-records of each address width load the image they were made from.
TEST_F(CompilerFiles, SrecCatSRecordsLoadTheirImage) {
    TONDREL_NEED_TOOL("srec_cat");
    Chip.FlashSize = 131072;
    std::mt19937 rng(5);
    std::string img(100000, '\0');
    for (char& c : img) c = static_cast<char>(rng());
    const std::string bin = Dir.Write("img.bin", img);
    for (const char* width : {"2", "3", "4"}) {
        SCOPED_TRACE(width);
        // Two bytes of address reach 64 KiB only.
        const std::string part = std::string(width) == "2" ? " -crop 0 0x10000" : "";
        const std::string srec = Dir.File(std::string("img") + width + ".srec");
        ASSERT_TRUE(RunTool("srec_cat " + bin + " -binary" + part + " -o " + srec +
                            " -motorola -address-length=" + width));
        const auto loaded = LoadFile(Bufs, Memory::Flash, srec);
        ASSERT_TRUE(loaded) << loaded.Error().Text(Language::English);
        EXPECT_EQ(loaded->Kind, FileKind::SRecord);
        const size_t size = part.empty() ? img.size() : 0x10000;
        EXPECT_EQ(std::vector<uint8_t>(Bufs.FlashBuffer.begin(),
                                       Bufs.FlashBuffer.begin() + static_cast<long>(size)),
                  Bytes(img.substr(0, size)));
        EXPECT_EQ(Chip.FlashDataEnd + 1, static_cast<int32_t>(size));
    }
}

// Every way an S-record file can be wrong names its line, and a failed load keeps what the
// buffer held before.
TEST_F(CompilerFiles, BadSRecordsAreRefusedNamingTheLine) {
    const std::string head = "S00600004844521B\n";
    const std::string data1 = "S107000001020304EE\n";  // 4 bytes at 0
    const std::string end = "S9030000FC\n";
    struct Case {
        const char* Name;
        std::string Text;
        Message Expected;
    };
    const Case cases[] = {
        {"checksum", head + "S107000001020304EF\n" + end, Msg("SrecChecksum", 2)},
        {"byte count", head + "S108000001020304EE\n", Msg("SrecRecordLength", 8, 2)},
        {"odd digits", head + "S10700000102030EE\n", Msg("SrecBadRecord", 2)},
        {"not hex", head + "S10700000102030XEE\n", Msg("SrecBadRecord", 2)},
        {"reserved type", head + "S4030000FC\n", Msg("SrecUnknownType", 4, 2)},
        {"not a record", head + data1 + ":00000001FF\n", Msg("SrecNotRecord", 3)},
        {"record count", head + data1 + "S5030002FA\n" + end, Msg("SrecCount", 2, 1, 3)},
        {"after end", head + data1 + end + data1, Msg("HexAfterEnd", 4)},
        {"overlap", head + data1 + "S1050002FF00F9\n", Msg("HexOverlap", "0002", 3)},
        {"capacity", head + "S1050200AABB93\n", Msg("FlashCapacity", 512, 2)},
    };
    Chip.FlashSize = 512;
    // The one good file: the records as given, the count record agreeing.
    const std::string good = head + data1 + "S5030001FB\n" + end;
    ASSERT_TRUE(Loads(Bufs, Memory::Flash, Dir.Write("good.s19", good)));
    EXPECT_EQ(std::vector<uint8_t>(Bufs.FlashBuffer.begin(), Bufs.FlashBuffer.begin() + 5),
              (std::vector<uint8_t>{1, 2, 3, 4, 0xFF}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto loaded = LoadFile(Bufs, Memory::Flash, Dir.Write("bad.s19", c.Text));
        ASSERT_FALSE(loaded);
        EXPECT_EQ(loaded.Error(), c.Expected);
        EXPECT_TRUE(FailedLine(loaded.Error()));
        EXPECT_EQ(Bufs.FlashBuffer[0], 1);
        EXPECT_EQ(Chip.FlashDataEnd, 3);
    }
}

}  // namespace
}  // namespace tondrel::testing
