// A chip's serial number in auto programming: refused before the chip is touched when it cannot
// go where asked, written and read back when it can, and the buffer left as the file made it.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/core/SessionTestSupport.h"

namespace tondrel::core {
namespace {

using testsupport::Desk;

std::string ChipMemory(sim::TargetChip& chip) {
    std::ostringstream out;
    chip.SaveState(out);
    return out.str();
}

SerialStamp Stamp(const char* field, uint64_t value) {
    const SerialField f = *ParseSerialField(field);
    return {f, value, *EncodeSerial(f, value)};
}

TEST(SerialStamp, RefusedBeforeTheChipIsTouched) {
    struct Case {
        const char* Field;
        bool WriteEEPROM;  // the plan's fifth box
        Message Want;
    };
    const Case cases[] = {
        {"flash:0x3FFE:4", true, Msg("SerialOutsideMemory", "3FFE", 4, "Flash", 16384)},
        {"eeprom:0x200:1", true, Msg("SerialOutsideMemory", "0200", 1, "EEPROM", 512)},
        // The file's data at 0x10..0x13: a field reaching into it.
        {"flash:0x0E:4", true, Msg("SerialOverlapsData", "000E", 4, "Flash", "0010")},
        {"eeprom:0:2", false, Msg("SerialNotWritten", "EEPROM")},
    };
    for (const Case& c : cases) {
        Desk desk("sim:ATmega16");
        desk.StartAndFind();
        desk.Plan([&](AutoPlan& p) { p.WriteEEPROM = c.WriteEEPROM; });
        desk.Put(Memory::Flash, {1, 2, 3, 4}, 0x10);
        const std::string before = ChipMemory(desk.ChipModel());
        desk.view.Clear();
        desk.S().SetSerialStamp(Stamp(c.Field, 1));
        const Status outcome = desk.S().AutoProgram();
        EXPECT_EQ(outcome.Error(), c.Want) << c.Field;
        EXPECT_FALSE(desk.view.Said("CoreEraseBegin")) << c.Field;
        EXPECT_EQ(ChipMemory(desk.ChipModel()), before) << c.Field;
    }
}

TEST(SerialStamp, WrittenAndVerifiedThenTheBufferIsTheFileAgain) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    desk.Put(Memory::Flash, {0x0C, 0x94}, 0);
    desk.S().SetSerialStamp(Stamp("eeprom:0x1FC:4:big", 0xA1B2C3D4));
    ASSERT_TRUE(desk.S().AutoProgram()) << ::testing::PrintToString(desk.view.Board);
    EXPECT_TRUE(desk.view.Said(Msg("SerialStamped", "2712847316", "EEPROM", "01FC")));
    EXPECT_TRUE(desk.view.Said(Msg("CoreVerifyEEPROMOk")));
    // The buffer holds no number of this chip: the next chip's goes over the file alone.
    const auto& eeprom = desk.Buf(Memory::EEPROM);
    EXPECT_TRUE(std::all_of(eeprom.begin(), eeprom.end(), [](uint8_t b) { return b == 0xFF; }));
    ASSERT_TRUE(desk.S().Read(Memory::EEPROM));
    const std::vector<uint8_t> got(desk.Buf(Memory::EEPROM).begin() + 0x1FC,
                                   desk.Buf(Memory::EEPROM).end());
    EXPECT_EQ(got, (std::vector<uint8_t>{0xA1, 0xB2, 0xC3, 0xD4}));
    // The socket is looked at without a word on the board.
    desk.view.Clear();
    EXPECT_EQ(desk.S().ProbeSocket().ValueOr({}), "1E9403");
    EXPECT_TRUE(desk.view.Keys().empty());
}

}  // namespace
}  // namespace tondrel::core
