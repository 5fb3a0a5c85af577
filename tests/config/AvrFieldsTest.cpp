// The value tables the fields show, held value by value against the chips' datasheets ("Device
// Clocking Options Select", "BODLEVEL Fuse Coding", "Boot Size Configuration", "Lock Bit
// Protection Modes"). The tables are written out here from the datasheets, not from the code.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/AvrPartData.h"
#include "config/AvrFields.h"
#include "config/ConfigCommands.h"

namespace tondrel::config {
namespace {

// CKSEL3..0 of the ATmega8/16/32 (CKOPT unprogrammed): 0000 external clock, 0001..0100 the
// calibrated RC at 1, 2, 4, 8 MHz, 0101..1000 external RC, 1001 low-frequency crystal,
// 1010..1111 crystal in three ranges.
const std::vector<std::string> kCkoptMegas = {
    "external clock on XTAL1",
    "internal 1 MHz RC",
    "internal 2 MHz RC",
    "internal 4 MHz RC",
    "internal 8 MHz RC",
    "external RC oscillator",
    "external RC oscillator",
    "external RC oscillator",
    "external RC oscillator",
    "low-frequency crystal (32.768 kHz)",
    "crystal or resonator 0.4-0.9 MHz (1.0 MHz and up with CKOPT)",
    "crystal or resonator 0.4-0.9 MHz (1.0 MHz and up with CKOPT)",
    "crystal or resonator 0.9-3.0 MHz (1.0 MHz and up with CKOPT)",
    "crystal or resonator 0.9-3.0 MHz (1.0 MHz and up with CKOPT)",
    "crystal or resonator 3.0-8.0 MHz (1.0 MHz and up with CKOPT)",
    "crystal or resonator 3.0-8.0 MHz (1.0 MHz and up with CKOPT)",
};

// ATmega48..328P, 164..1284P, 640..2561: 0001 reserved, 0011 128 kHz, 0100/0101 watch crystal,
// 0110/0111 full swing, 1000..1111 low-power crystal in four ranges.
const std::vector<std::string> kModernMegas = {
    "external clock on XTAL1",
    "reserved",
    "internal 8 MHz RC",
    "internal 128 kHz RC oscillator",
    "low-frequency crystal (32.768 kHz)",
    "low-frequency crystal (32.768 kHz)",
    "full-swing crystal oscillator",
    "full-swing crystal oscillator",
    "low-power crystal oscillator 0.4-0.9 MHz",
    "low-power crystal oscillator 0.4-0.9 MHz",
    "low-power crystal oscillator 0.9-3.0 MHz",
    "low-power crystal oscillator 0.9-3.0 MHz",
    "low-power crystal oscillator 3.0-8.0 MHz",
    "low-power crystal oscillator 3.0-8.0 MHz",
    "low-power crystal oscillator 8.0-16.0 MHz",
    "low-power crystal oscillator 8.0-16.0 MHz",
};

// The ATtiny crystal oscillator's four ranges, CKSEL 1000..1111.
std::vector<std::string> WithTinyCrystal(std::vector<std::string> low) {
    for (const char* r : {"0.4-0.9", "0.9-3.0", "3.0-8.0", "8.0-16.0"})
        for (int twice = 0; twice < 2; ++twice)
            low.push_back(std::string("crystal or resonator ") + r + " MHz");
    return low;
}

const std::vector<std::string> kBod3 = {"reserved",     "reserved",     "reserved",
                                        "reserved",     "BOD at 4.3 V", "BOD at 2.7 V",
                                        "BOD at 1.8 V", "BOD disabled"};

std::vector<std::string> Boot(int smallest) {
    std::vector<std::string> out;
    for (int code = 0; code < 4; ++code)
        out.push_back("boot section " + std::to_string(smallest << (3 - code)) + " words");
    return out;
}

struct ChipTables {
    const char* Chip;
    std::map<std::string, std::vector<std::string>> Fields;  // name -> words by code
};

const std::vector<ChipTables>& Datasheets() {
    static const std::vector<ChipTables> tables = {
        {"ATmega8", {{"CKSEL", kCkoptMegas}, {"BOOTSZ", Boot(128)}}},
        {"ATmega16", {{"CKSEL", kCkoptMegas}, {"BOOTSZ", Boot(128)}}},
        {"ATmega32", {{"CKSEL", kCkoptMegas}, {"BOOTSZ", Boot(256)}}},
        {"ATmega328P", {{"CKSEL", kModernMegas}, {"BOOTSZ", Boot(256)}, {"BODLEVEL", kBod3}}},
        {"ATmega644P", {{"CKSEL", kModernMegas}, {"BOOTSZ", Boot(512)}, {"BODLEVEL", kBod3}}},
        {"ATmega1284P", {{"CKSEL", kModernMegas}, {"BOOTSZ", Boot(512)}, {"BODLEVEL", kBod3}}},
        {"ATmega2560", {{"CKSEL", kModernMegas}, {"BOOTSZ", Boot(512)}, {"BODLEVEL", kBod3}}},
        {"ATtiny13",
         {{"CKSEL",
           {"external clock on XTAL1", "internal 4.8 MHz RC", "internal 9.6 MHz RC",
            "internal 128 kHz watchdog oscillator"}},
          {"BODLEVEL", {"BOD at 4.3 V", "BOD at 2.7 V", "BOD at 1.8 V", "BOD disabled"}}}},
        {"ATtiny85",
         {{"CKSEL", WithTinyCrystal({"external clock on XTAL1", "high-frequency PLL (16 MHz)",
                                     "internal 8 MHz RC", "ATtiny15 compatibility mode (1.6 MHz)",
                                     "internal 128 kHz oscillator", "reserved",
                                     "low-frequency crystal (32.768 kHz)", "reserved"})},
          {"BODLEVEL", kBod3}}},
        {"ATtiny2313",
         {{"CKSEL", WithTinyCrystal({"external clock on XTAL1", "reserved", "internal 4 MHz RC",
                                     "reserved", "internal 8 MHz RC", "reserved",
                                     "internal 128 kHz watchdog oscillator", "reserved"})},
          {"BODLEVEL", kBod3}}},
        {"ATtiny84",
         {{"CKSEL",
           WithTinyCrystal({"external clock on XTAL1", "reserved", "internal 8 MHz RC", "reserved",
                            "internal 128 kHz ultra-low-power oscillator", "reserved",
                            "low-frequency crystal (32.768 kHz)", "reserved"})},
          {"BODLEVEL", kBod3}}},
    };
    return tables;
}

TEST(AvrFieldTables, ValueByValueAsTheDatasheetsTableThem) {
    // The lock bits' modes are the same table on every chip that has them.
    const std::vector<std::string> lb = {"programming and verification disabled", "reserved",
                                         "further programming disabled", "no memory lock"};
    for (const ChipTables& chip : Datasheets()) {
        const AvrPartData* part = FindAvrPart(chip.Chip);
        ASSERT_NE(part, nullptr) << chip.Chip;
        std::map<std::string, const AvrField*> byName;
        const std::vector<AvrField> fields = AvrFieldsOf(*part);
        for (const AvrField& f : fields) byName[f.Name] = &f;
        auto expected = chip.Fields;
        expected["LB"] = lb;
        for (const auto& [name, words] : expected) {
            SCOPED_TRACE(std::string(chip.Chip) + " " + name);
            ASSERT_TRUE(byName.count(name)) << "no field " << name;
            const AvrField& f = *byName.at(name);
            ASSERT_EQ(size_t{1} << f.Bits.size(), words.size());
            for (size_t code = 0; code < words.size(); ++code)
                EXPECT_EQ(f.Meaning(static_cast<uint8_t>(code)), words[code])
                    << f.Name << "=" << f.Digits(static_cast<uint8_t>(code));
        }
    }
}

// A program file's .fuse bytes map onto the chip's fuse bytes in avr-libc's order; a file for
// another chip (by its device note or its section's size) is refused, a variant of the same
// silicon is not.
TEST(FileConfig, SettingsComeFromTheFileOnlyForItsChip) {
    struct Case {
        const char* Chip;
        FileConfig File;
        std::vector<std::string> Settings;  // empty: refused with Refusal
        const char* Refusal;
    };
    const Case cases[] = {
        {"ATmega16",
         {{0xE4, 0xD9}, 0xFE, "atmega16"},
         {"lfuse=0xE4", "hfuse=0xD9", "lock=0xFE"},
         ""},
        {"ATmega16", {{0xE4, 0xD9}, {}, "atmega16a"}, {"lfuse=0xE4", "hfuse=0xD9"}, ""},
        {"ATmega328P",
         {{0x62, 0xD9, 0xFF}, {}, ""},
         {"lfuse=0x62", "hfuse=0xD9", "efuse=0xFF"},
         ""},
        {"ATmega16", {{}, 0xFC, ""}, {"lock=0xFC"}, ""},
        {"ATmega16", {{0xE4, 0xD9}, {}, "atmega328p"}, {}, "CoreFileConfigOtherChip"},
        {"ATmega16", {{0x62, 0xD9, 0xFF}, {}, ""}, {}, "CoreFileConfigSize"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Chip) + " " + c.File.Device);
        const auto settings = FileConfigSettings(c.Chip, c.File);
        if (c.Settings.empty()) {
            ASSERT_FALSE(settings);
            EXPECT_EQ(settings.Error().Key, c.Refusal);
        } else {
            ASSERT_TRUE(settings);
            EXPECT_EQ(*settings, c.Settings);
        }
    }
}

}  // namespace
}  // namespace tondrel::config
