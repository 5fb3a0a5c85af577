// A serial field as typed on the command line, and the bytes a number becomes in it.
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "data/SerialField.h"

namespace tondrel {
namespace {

TEST(SerialField, ParsesEveryPartAndRefusesTheRest) {
    struct Case {
        const char* Text;
        std::optional<SerialField> Want;
        const char* Refusal = "";  // the key naming what is wrong, when refused
    };
    const Case cases[] = {
        {"0x3FF0:2", SerialField{Memory::Flash, 0x3FF0, 2, false, SerialFormat::Binary}},
        {"EEPROM:16:4:big", SerialField{Memory::EEPROM, 16, 4, true, SerialFormat::Binary}},
        {"flash:0:8:bcd", SerialField{Memory::Flash, 0, 8, false, SerialFormat::Bcd}},
        // Text reads most significant digit first unless told otherwise.
        {"eeprom:0:6:dec", SerialField{Memory::EEPROM, 0, 6, true, SerialFormat::Decimal}},
        {"eeprom:0:6:little:hex", SerialField{Memory::EEPROM, 0, 6, false, SerialFormat::Hex}},
        {"0:9", std::nullopt, "SerialFieldLength"},           // more than a 64-bit number
        {"0:0", std::nullopt, "SerialFieldLength"},           // nothing to write
        {"-1:2", std::nullopt, "SerialFieldAddress"},         // no negative addresses
        {"0x10", std::nullopt, "SerialBadField"},             // no length
        {"0:2:bcd:big", std::nullopt, "SerialFieldWord"},     // order after format
        {"0:2:big:little", std::nullopt, "SerialFieldWord"},  // twice
        {"rom:0:2", std::nullopt, "SerialFieldAddress"},      // no such memory
        {"0:2:bin:", std::nullopt, "SerialFieldWord"},        // an empty part
    };
    for (const Case& c : cases) {
        const auto parsed = ParseSerialField(c.Text);
        ASSERT_EQ(parsed.Ok(), c.Want.has_value()) << c.Text;
        if (c.Want)
            EXPECT_EQ(parsed.Value(), *c.Want) << c.Text;
        else
            EXPECT_EQ(parsed.Error().Key, c.Refusal) << c.Text;
    }
}

TEST(SerialField, EncodesInEachFormatAndRefusesWhatDoesNotFit) {
    using Bytes = std::vector<uint8_t>;
    struct Case {
        const char* Field;
        uint64_t Value;
        Bytes Want;  // empty: does not fit
    };
    const Case cases[] = {
        {"0:4", 0x12345678, {0x78, 0x56, 0x34, 0x12}},
        {"0:4:big", 0x12345678, {0x12, 0x34, 0x56, 0x78}},
        {"0:2", 0xFFFF, {0xFF, 0xFF}},
        {"0:2", 0x10000, {}},
        {"0:8", UINT64_MAX, Bytes(8, 0xFF)},
        {"0:3:big:bcd", 123456, {0x12, 0x34, 0x56}},
        {"0:2:bcd", 1234, {0x34, 0x12}},
        {"0:2:bcd", 10000, {}},
        {"0:5:dec", 42, {'0', '0', '0', '4', '2'}},
        {"0:3:dec", 1000, {}},
        {"0:4:hex", 0xBEEF, {'B', 'E', 'E', 'F'}},
        {"0:4:little:hex", 0xBEEF, {'F', 'E', 'E', 'B'}},
    };
    for (const Case& c : cases) {
        const auto field = ParseSerialField(c.Field);
        ASSERT_TRUE(field.Ok()) << c.Field;
        const auto bytes = EncodeSerial(*field, c.Value);
        if (c.Want.empty()) {
            ASSERT_FALSE(bytes.Ok()) << c.Field << " " << c.Value;
            EXPECT_EQ(bytes.Error().Key, "SerialTooLarge");
        } else {
            ASSERT_TRUE(bytes.Ok()) << c.Field << " " << c.Value;
            EXPECT_EQ(*bytes, c.Want) << c.Field << " " << c.Value;
        }
    }
}

}  // namespace
}  // namespace tondrel
