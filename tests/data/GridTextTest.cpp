#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "data/GridText.h"

namespace tondrel {
namespace {

using testing::MakeChip;

TEST(GridText, At89s52ByteGrid) {
    CurrentChip chip = MakeChip(Method::At89s, 8192, 0);
    Buffers b(chip);
    b.RecreateFlash();
    const GridMode mode = FlashGridMode(chip.CurrentMethodCode);
    ASSERT_EQ(mode, GridMode::Byte);
    EXPECT_EQ(DataRowCount(b.FlashBuffer.size(), mode), 512);
    EXPECT_EQ(GridRowCount(b.FlashBuffer.size(), mode), 513);
    EXPECT_EQ(RowHeader(1), "0000");
    EXPECT_EQ(RowHeader(2), "0010");
    EXPECT_EQ(RowHeader(512), "1FF0");
    EXPECT_EQ(RowHeader(4097), "10000");  // more than three digits when needed
    EXPECT_EQ(ColumnWidth(5, mode), 20);
    EXPECT_EQ(ColumnWidth(0, mode), 45);
    EXPECT_EQ(ColumnWidth(17, mode), 150);
    EXPECT_EQ(HeaderText(0), "");
    EXPECT_EQ(HeaderText(1), "0");
    EXPECT_EQ(HeaderText(16), "F");
    EXPECT_EQ(HeaderText(17), "ASCII");

    b.FlashBuffer[0x1FFF] = 0x0A;
    EXPECT_EQ(CellText(b.FlashBuffer, mode, 512, 16), "0A");
    EXPECT_EQ(CellText(b.FlashBuffer, mode, 1, 1), "FF");
}

TEST(GridText, AvrWordGridShowsHighByteFirst) {
    CurrentChip chip = MakeChip(Method::Avr, 8192, 512);
    Buffers b(chip);
    b.RecreateFlash();
    const GridMode mode = FlashGridMode(Method::Avr);
    ASSERT_EQ(mode, GridMode::Word);
    EXPECT_EQ(DataRowCount(b.FlashBuffer.size(), mode), 256);
    EXPECT_EQ(ColumnWidth(3, mode), 30);
    EXPECT_EQ(CellText(b.FlashBuffer, mode, 256, 16), "FFFF");
    // Word 0x21 sits in row 3 (word addresses 0x20-0x2F), column 2.
    b.FlashBuffer[0x42] = 0x0C;
    b.FlashBuffer[0x43] = 0x94;
    EXPECT_EQ(RowHeader(3), "0020");
    EXPECT_EQ(CellText(b.FlashBuffer, mode, 3, 2), "940C");
    EXPECT_EQ(CellPosition(b.FlashBuffer.size(), mode, 3, 2), 0x21);
}

TEST(GridText, BlankPicBufferShows3FFFIncludingItsConfigurationRow) {
    CurrentChip chip = MakeChip(Method::Pic, 2048, 64);
    Buffers b(chip);
    b.RecreateFlash();
    const GridMode mode = FlashGridMode(Method::Pic);
    EXPECT_EQ(CellText(b.FlashBuffer, mode, 1, 1), "3FFF");
    // 0x4010 bytes: 512 full rows and the half row of words 0x2000-0x2007.
    EXPECT_EQ(DataRowCount(b.FlashBuffer.size(), mode), 513);
    EXPECT_EQ(RowHeader(513), "2000");
    EXPECT_EQ(CellText(b.FlashBuffer, mode, 513, 8), "3FFF");
    EXPECT_EQ(CellText(b.FlashBuffer, mode, 513, 9), "");
    EXPECT_FALSE(CellPosition(b.FlashBuffer.size(), mode, 513, 9));
}

TEST(GridText, AsciiColumn) {
    std::vector<uint8_t> buf(32, 0x41);
    buf[1] = 0x00;
    buf[2] = 0x7F;
    buf[3] = 0xE9;  // Latin-1 letters and 0xFF are no ASCII: dots like the controls
    buf[4] = 0x85;
    buf[5] = 0xFF;
    buf[6] = 0x20;
    buf[7] = 0x7E;
    EXPECT_EQ(AsciiText(buf, GridMode::Byte, 1), "A..... ~AAAAAAAA");
    // Word cells show high byte first, the characters stay in memory order: "Hi!" reads.
    const std::string text = "Hi! stored in Flash, 32 bytes...";
    std::vector<uint8_t> words(text.begin(), text.end());
    EXPECT_EQ(AsciiText(words, GridMode::Word, 1), text);
    EXPECT_EQ(CellText(words, GridMode::Word, 1, 1), "6948");
}

TEST(GridText, EditorOpening) {
    std::vector<uint8_t> buf(64, 0xFF);
    buf[0x13] = 0xA5;
    buf[0x26] = 0x34;
    buf[0x27] = 0x12;
    EXPECT_EQ(CellPosition(buf.size(), GridMode::Byte, 2, 4), 0x13);
    EXPECT_FALSE(CellPosition(buf.size(), GridMode::Byte, 2, 17));  // ASCII column: no editor
    EXPECT_FALSE(CellPosition(buf.size(), GridMode::Byte, 0, 3));
    EXPECT_FALSE(CellPosition(buf.size(), GridMode::Byte, 2, 0));
    EXPECT_EQ(EditorText(buf, GridMode::Byte, 0x13), "A5");
    EXPECT_EQ(EditorText(buf, GridMode::Word, 0x13), "1234");
    EXPECT_EQ(EditorMaxLength(GridMode::Byte), 2);
    EXPECT_EQ(EditorMaxLength(GridMode::Word), 4);

    EXPECT_EQ(EditorCaption(Memory::Flash, GridMode::Byte, 5, Language::Chinese),
              "修改地址为0x05的FLASH数据");
    EXPECT_EQ(EditorCaption(Memory::Flash, GridMode::Word, 0x1FFF, Language::English),
              "modify FLASH data at address :0x1FFF");
    EXPECT_EQ(EditorCaption(Memory::EEPROM, GridMode::Byte, 0xAB, Language::English),
              "modify EEPROM data at address :0xAB");
    EXPECT_EQ(EditorCaption(Memory::EEPROM, GridMode::Byte, 0, Language::Chinese),
              "修改地址为0x00的EEPROM数据");
    EXPECT_EQ(EditorTitle(Memory::EEPROM), "修改EEPROM数据(modify EEPROM data)");
}

TEST(GridText, EditorKeysAndValues) {
    for (char32_t k : {U'\b', U'0', U'9', U'A', U'F', U'a', U'f'}) EXPECT_TRUE(EditorAcceptsKey(k));
    for (char32_t k : {U'G', U'g', U' ', U'x', U'\r', U'-', U'\uFF10'})
        EXPECT_FALSE(EditorAcceptsKey(k));

    std::vector<uint8_t> buf(8, 0xFF);
    EXPECT_EQ(ApplyEdit(buf, GridMode::Byte, 1, ""), "00");
    EXPECT_EQ(buf[1], 0x00);
    EXPECT_EQ(ApplyEdit(buf, GridMode::Byte, 2, " 7 "), "07");
    EXPECT_EQ(ApplyEdit(buf, GridMode::Byte, 3, "c3"), "C3");
    EXPECT_EQ(buf[3], 0xC3);

    // "7" in the word editor: 0x07 at the even byte, 0x00 at the odd byte.
    EXPECT_EQ(ApplyEdit(buf, GridMode::Word, 2, "7"), "0007");
    EXPECT_EQ(buf[4], 0x07);
    EXPECT_EQ(buf[5], 0x00);
    EXPECT_EQ(ApplyEdit(buf, GridMode::Word, 3, ""), "0000");
    EXPECT_EQ(ApplyEdit(buf, GridMode::Word, 0, "A"), "000A");
    EXPECT_EQ(ApplyEdit(buf, GridMode::Word, 0, "2a3F"), "2A3F");
    EXPECT_EQ(buf[0], 0x3F);
    EXPECT_EQ(buf[1], 0x2A);
}

}  // namespace
}  // namespace tondrel
