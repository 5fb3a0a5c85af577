// The machine-readable log: strings any JSON parser takes, and the CRC-32 every tool computes.
#include <gtest/gtest.h>

#include <string>

#include "core/RunLog.h"

namespace tondrel::core {
namespace {

TEST(RunLog, StringsAreEscapedAndAlwaysValidUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain.hex", "\"plain.hex\""},
        {"it's \"quoted\".hex", "\"it's \\\"quoted\\\".hex\""},
        {"C:\\fw\\a.hex", "\"C:\\\\fw\\\\a.hex\""},
        {"line\nbreak\ttab\x01\x7f", "\"line\\u000abreak\\u0009tab\\u0001\\u007f\""},
        {"固件/芯片.hex", "\"固件/芯片.hex\""},
        // A name that is not UTF-8 (a Latin-1 file system, a cut sequence, an overlong slash).
        {"caf\xe9.hex", "\"caf\\ufffd.hex\""},
        {"\xe5\x9b", "\"\\ufffd\\ufffd\""},
        {"\xc0\xaf", "\"\\ufffd\\ufffd\""},
        {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
    };
    for (const auto& [text, json] : cases) EXPECT_EQ(JsonString(text), json) << text;
}

TEST(RunLog, RecordLineCarriesEveryField) {
    OperationRecord r;
    r.Operation = "auto";
    r.Chip = 3;
    r.ChipName = "ATmega16";
    r.Signature = "1E9403";
    r.Files = {{"flash", "a\"b.hex", 0xCBF43926}, {"eeprom", "gone.eep", std::nullopt}};
    r.BytesWritten = 10;
    r.BytesVerified = 9;
    r.Speed = 4;
    r.Serial = 1001;
    r.Result = "fail";
    r.ErrorKey = "CoreNoChip";
    r.ErrorText = "没有芯片";
    r.Seconds = 1.5;
    EXPECT_EQ(JsonLine(r),
              "{\"type\":\"operation\",\"operation\":\"auto\",\"chip_number\":3,\"chip\":"
              "\"ATmega16\",\"signature\":\"1E9403\",\"files\":[{\"memory\":\"flash\",\"path\":"
              "\"a\\\"b.hex\",\"crc32\":\"cbf43926\"},{\"memory\":\"eeprom\",\"path\":"
              "\"gone.eep\",\"crc32\":null}],\"bytes_written\":10,\"bytes_verified\":9,"
              "\"speed\":4,\"serial\":1001,\"result\":\"fail\",\"error\":\"CoreNoChip\","
              "\"message\":\"没有芯片\",\"duration_s\":1.500}\n");
}

TEST(RunLog, Crc32IsTheCommonOne) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926U);
    // In pieces as a file is read.
    const uint32_t first = Crc32(reinterpret_cast<const uint8_t*>(check.data()), 4);
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(check.data()) + 4, 5, first), 0xCBF43926U);
    EXPECT_EQ(FileCrc32("/nonexistent/tondrel/file"), std::nullopt);
}

}  // namespace
}  // namespace tondrel::core
