// The ftdi port names, the pin maps and the bit-bang rates: what a user types and what the chip
// is asked for.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ftdi/FtdiLink.h"
#include "ftdi/FtdiNames.h"

namespace tondrel::ftdi {
namespace {

TEST(FtdiNames, DeviceNames) {
    struct Case {
        const char* Port;
        bool Ok;
        int Vendor;
        int Product;
        const char* Serial;
        const char* Ids;
    };
    const Case cases[] = {
        {"ftdi", true, 0, 0, "", kKnownIds},
        {"ftdi:0403:6014", true, 0x0403, 0x6014, "", "0403:6014"},
        {"ftdi:403:6001:A9XYZ", true, 0x0403, 0x6001, "A9XYZ", "0403:6001 (serial A9XYZ)"},
        {"ftdi:", false, 0, 0, "", ""},
        {"ftdi:0403", false, 0, 0, "", ""},
        {"ftdi:0403:6001:", false, 0, 0, "", ""},
        {"ftdi:0403:6001:a:b", false, 0, 0, "", ""},
        {"ftdi:12345:6001", false, 0, 0, "", ""},  // five hex digits
        {"ftdi:0403:xyz1", false, 0, 0, "", ""},
        {"ftdi:0:6001", false, 0, 0, "", ""},  // vendor 0 would mean any
        {"ftdix", false, 0, 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Port);
        const auto parsed = ParseDeviceName(c.Port);
        ASSERT_EQ(parsed.Ok(), c.Ok);
        if (!c.Ok) {
            EXPECT_EQ(parsed.Error().Key, "PortFtdiBadName");
            continue;
        }
        EXPECT_EQ(parsed->Vendor, c.Vendor);
        EXPECT_EQ(parsed->Product, c.Product);
        EXPECT_EQ(parsed->Serial, c.Serial);
        EXPECT_EQ(parsed->IdsText(), c.Ids);
    }
}

TEST(FtdiNames, PinMaps) {
    struct Case {
        const char* Text;
        std::optional<PinMap> Map;
    };
    const PinMap defaults;
    const Case cases[] = {
        {"", defaults},
        {"RESET=7,SCK=5,MOSI=6,MISO=3", PinMap{7, 5, 6, 3, -1, true}},
        {" miso = 3 , buff=~6", PinMap{4, 0, 2, 3, 6, true}},
        {"BUFF=3", PinMap{4, 0, 2, 1, 3, false}},
        {"SCK=2", std::nullopt},    // lands on the default MOSI pin
        {"BUFF=~1", std::nullopt},  // on MISO
        {"SCK=8", std::nullopt},    // no such pin
        {"SCK=~0", std::nullopt},   // only the buffer enable has a level
        {"SCK", std::nullopt},
        {"CLK=0", std::nullopt},
        {"SCK=0,,MOSI=2", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        const auto parsed = ParsePinMap(c.Text);
        ASSERT_EQ(parsed.Ok(), c.Map.has_value());
        if (c.Map)
            EXPECT_EQ(*parsed, *c.Map);
        else
            EXPECT_EQ(parsed.Error().Key, "PortFtdiBadPins");
    }
    // MISO is the one input; an unused pin stays one too.
    EXPECT_EQ(defaults.Outputs(), 0x15);
    EXPECT_EQ((PinMap{7, 5, 6, 3, 4, true}.Outputs()), 0xF0);
}

// The rate is never above the one asked for (a chip on a slow clock must not be clocked too
// fast), and what libftdi1 is asked for comes back to it after its factor of four.
TEST(FtdiLinkRate, NeverFasterThanAsked) {
    const ChipKind& r = KindOfType(3);  // TYPE_R
    struct Case {
        uint64_t Wanted;
        uint32_t Rate;
    };
    const Case cases[] = {
        {10000000, 3000000},  // above the fastest: the fastest
        {3000000, 3000000},  {2999999, 2000000}, {2000000, 2000000},
        {1999999, 1500000},  {500000, 500000},   {499999, 489795},
        {300, 300},          {100, 183},  // the divisor's limit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Wanted);
        const Rate got = RateFor(r, c.Wanted);
        EXPECT_LE(got.StatesPerSecond, std::max<uint64_t>(c.Wanted, 183));
        EXPECT_NEAR(got.StatesPerSecond, c.Rate, c.Rate / 1000 + 1);
        EXPECT_NEAR(got.Request * 4, got.StatesPerSecond, 4);
    }
}

}  // namespace
}  // namespace tondrel::ftdi
