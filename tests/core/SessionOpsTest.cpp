// The session's operations on the simulated bench: how far a write goes, what a failed write
// says, auto programming and its questions, the stored speed, no nesting, the PIC words.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/core/SessionTestSupport.h"

namespace tondrel::core::testsupport {
namespace {

TEST(SessionOps, LastAddressDecidesHowFarAWriteGoes) {
    Desk desk("sim:none");
    Session& s = desk.S();
    auto flash = [&s](std::vector<uint8_t> head) {
        std::copy(head.begin(), head.end(), s.Bufs.FlashBuffer.begin());
        return s.LastFlashAddress();
    };
    s.SelectChip(MadeUp(Method::At89s, 8, 0));  // an 8051: blank is 0xFF, even byte counts
    EXPECT_EQ(flash({0x12, 0x34}), 1);
    s.SelectChip(MadeUp(Method::At89s, 8, 0));
    EXPECT_EQ(flash({0x12}), 1);  // the last used byte at an even index still writes a pair
    s.SelectChip(MadeUp(Method::At89s, 8, 0));
    EXPECT_EQ(s.LastFlashAddress(), -1);
    EXPECT_EQ(flash({0, 0, 0, 0, 0, 0, 0, 0x12}), 7);

    s.SelectChip(MadeUp(Method::Pic, 8, 0));  // PIC: blank word 0x3FFF, low byte first
    EXPECT_EQ(s.LastFlashAddress(), -1);
    EXPECT_EQ(flash({0x34, 0x12}), 1);
    s.Bufs.FlashBuffer[PicConfigAreaStart + 14] = 0xF1;  // a configuration word is written too
    EXPECT_EQ(s.LastFlashAddress(), PicConfigAreaStart + 15);
    s.SelectChip(MadeUp(Method::Pic, 2, 0));
    EXPECT_EQ(s.LastFlashAddress(), -1);
    // Code 6 blank-fills with 0xFF, which is not the blank word: all of it is written.
    s.SelectChip(MadeUp(Method::PicA, 8, 0));
    EXPECT_EQ(s.LastFlashAddress(), 7);

    s.SelectChip(MadeUp(Method::Avr, 0, 8));
    EXPECT_EQ(s.LastEEPROMAddress(), -1);
    s.Bufs.EEPROMBuffer[0] = 0;
    EXPECT_EQ(s.LastEEPROMAddress(), 0);
    s.Bufs.EEPROMBuffer[7] = 0;
    EXPECT_EQ(s.LastEEPROMAddress(), 7);
}

TEST(SessionOps, EmptyBufferIsNothingToWriteAndCountsAsSuccess) {
    Desk desk("sim:AT89S52");
    desk.StartAndFind();
    EXPECT_TRUE(desk.S().WriteFlash());
    EXPECT_EQ(desk.view.Text(), (std::vector<std::string>{">>No FLASH data！"}));
    EXPECT_FALSE(desk.database->ReadSpeed(desk.S().Chip.CurrentChipId)->has_value());
}

TEST(SessionOps, WriteFailureNamesByteAddressOn8051AndWordAddressOnAvr) {
    const std::string tail = ">error！（please adjust program speed or check the chip）";
    {
        Desk desk("sim:AT89S52");
        desk.StartAndFind();
        desk.ChipModel().Faults.StuckAddress = 0x1A5;
        auto& b = desk.S().Bufs.FlashBuffer;
        std::fill(b.begin(), b.begin() + 0x200, 0x00);
        EXPECT_FALSE(desk.S().WriteFlash());
        EXPECT_EQ(desk.view.Text().back(), ">>write FLASH time out ，address<0x1A5" + tail);
        EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
        EXPECT_EQ(desk.view.Progress, 0x1A5);  // every byte before it went through
        EXPECT_FALSE(desk.database->ReadSpeed(desk.S().Chip.CurrentChipId)->has_value());
    }
    {
        Desk desk("sim:ATmega16");
        desk.StartAndFind();
        desk.ChipModel().Faults.StuckAddress = 0x1A5;
        auto& b = desk.S().Bufs.FlashBuffer;
        std::fill(b.begin(), b.begin() + 0x1A6, 0x00);
        EXPECT_FALSE(desk.S().WriteFlash());
        EXPECT_EQ(desk.view.Text().back(), ">>write FLASH time out，address<0xD2" + tail);
        desk.S().SwapLanguage();  // to Chinese
        desk.view.Clear();
        EXPECT_FALSE(desk.S().WriteFlash());
        EXPECT_EQ(desk.view.Text().back(),
                  ">>写FLASH超时，地址<0xD2>的数据校验错！（请调整编程速度或检查芯片好坏）");
    }
    {
        // An EEPROM byte at index 5 that does not read back: two hex digits in the message.
        Desk desk("sim:ATmega16");
        desk.StartAndFind();
        desk.S().Bufs.EEPROMBuffer[5] = 0x42;
        // Once the bytes before it are through, the chip no longer follows the clock (every
        // byte is checked now, the blank ones too, so the fault must wait for address 5).
        desk.view.OnBreathe = [&desk] {
            if (desk.view.Progress >= 4) desk.ChipModel().Faults.MinPhaseNs = 1000000000;
        };
        EXPECT_FALSE(desk.S().WriteEEPROM());
        desk.view.OnBreathe = nullptr;
        EXPECT_EQ(desk.view.Text().back(), ">>write EEPROM time out，address<0x05" + tail);
    }
}

TEST(SessionOps, AutoProgramWithEveryBoxUncheckedOnlyChecksAdapterAndChip) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    s.isUpdateFlashFile = s.isUpdateEEPROMfile = s.isEraseAll = s.isWriteFlash = s.isWriteEEPROM =
        false;
    s.Bufs.FlashBuffer[0] = 0x12;  // would be written if the flow wrote anything
    EXPECT_TRUE(s.AutoProgram());
    EXPECT_EQ(desk.view.Text(), (std::vector<std::string>{">>auto program completed！"}));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"ok"}));
    EXPECT_TRUE(desk.view.Questions.empty());
    EXPECT_EQ(desk.view.Running, (std::vector<bool>{true, false}));
    EXPECT_FALSE(s.VerifyFlash());  // the chip stayed blank
}

TEST(SessionOps, ReloadQuestionAnsweredNoGoesOnAndYesStops) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    s.isUpdateFlashFile = true;
    s.isEraseAll = true;
    s.Bufs.FlashBuffer[0] = 0x12;
    s.Bufs.FlashBuffer[1] = 0x34;
    desk.view.Answers = {false};
    EXPECT_TRUE(s.AutoProgram());
    EXPECT_EQ(desk.view.Questions,
              (std::vector<std::string>{"no available FLASH file,terminate program？"}));
    EXPECT_TRUE(desk.view.HasLine(">>write FLASH successfully"));
    EXPECT_TRUE(desk.view.HasLine(">>auto program completed！"));
    EXPECT_TRUE(s.VerifyFlash());

    desk.view.Clear();
    desk.view.Answers = {true};
    EXPECT_FALSE(s.AutoProgram());
    EXPECT_EQ(desk.view.Text(), (std::vector<std::string>{">>auto progrmming terminted！"}));
    EXPECT_TRUE(desk.view.Sounds.empty());

    s.isUpdateFlashFile = false;
    s.isUpdateEEPROMfile = true;  // asked even for a file the flow could do without
    s.SwapLanguage();
    desk.view.Clear();
    desk.view.Answers = {true};
    EXPECT_FALSE(s.AutoProgram());
    EXPECT_EQ(desk.view.Questions,
              (std::vector<std::string>{"没有可用的EEPROM数据文件,是否中断操作？"}));
    EXPECT_EQ(desk.view.Text(), (std::vector<std::string>{">>自动编程被中断！"}));
}

TEST(SessionOps, AutoProgramReloadsTheRememberedFile) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    const std::string hex = desk.dir.File("app.hex");
    std::ofstream(hex) << ":0400000001020304F2\r\n:00000001FF\r\n";
    ASSERT_TRUE(s.LoadFlashFile(hex));
    ASSERT_EQ(desk.view.Board.size(), 6u);
    EXPECT_EQ(desk.view.Board[0], "");
    EXPECT_EQ(desk.view.Board[1], ">>open FLASH file");
    EXPECT_EQ(desk.view.Board[2], "file position：" + hex);
    EXPECT_EQ(desk.view.Board[3], "file size:4Bytes");
    EXPECT_EQ(desk.view.Board[4].rfind("time:", 0), 0u) << desk.view.Board[4];
    EXPECT_EQ(desk.view.Board[5], ">>open Flash file already！");
    EXPECT_EQ(desk.view.Label(kStatusFlashFile), "Flash File:" + hex);
    EXPECT_EQ(desk.view.Tabs.back(), "sheetFlash");
    s.Bufs.FlashBuffer[0] = 0x99;  // edited in the grid after loading
    s.isUpdateFlashFile = true;
    EXPECT_TRUE(s.AutoProgram());
    EXPECT_EQ(s.Bufs.FlashBuffer[0], 0x01);
    EXPECT_TRUE(desk.view.Questions.empty());
    EXPECT_TRUE(s.VerifyFlash());
    EXPECT_EQ(s.FlashFileName, hex);

    // A file that does not load: error sound, name and status bar unchanged.
    desk.view.Clear();
    std::ofstream(desk.dir.File("bad.hex")) << "garbage\r\n";
    EXPECT_FALSE(s.LoadFlashFile(desk.dir.File("bad.hex")));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
    EXPECT_EQ(s.FlashFileName, hex);
}

// The board lines of loading and saving, in the order and the language the user reads them.
TEST(SessionOps, FailedLoadsAndSavesSayWhy) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    s.SetLanguageCode(2);
    std::ofstream(desk.dir.File("bad.eep")) << "x\r\n";
    EXPECT_FALSE(s.LoadEEPROMFile(desk.dir.File("bad.eep")));
    EXPECT_EQ(desk.view.Board, (std::vector<std::string>{"", ">>打开EEPROM文件",
                                                         "第一个字母不为\":\",不是HEX文件！"}));
    desk.view.Clear();
    ASSERT_TRUE(s.SaveEEPROMFile(desk.dir.File("e.idf")));
    EXPECT_EQ(desk.view.Board,
              (std::vector<std::string>{"", ">>文件成功保存到" + desk.dir.File("e.idf")}));

    s.SetLanguageCode(1);
    desk.view.Clear();
    EXPECT_FALSE(s.SaveFlashFile(desk.dir.File("none/f.hex")));
    EXPECT_EQ(desk.view.Board,
              (std::vector<std::string>{"", ">>cannot save file " + desk.dir.File("none/f.hex") +
                                                ": " + std::strerror(ENOENT)}));
}

TEST(SessionOps, SpeedIsStoredAfterAWriteAndLoadedAtTheNextSelection) {
    Desk desk("sim:ATmega16@16MHz");  // follows any speed: the one set is the one stored
    desk.StartAndFind();
    Session& s = desk.S();
    const int id = s.Chip.CurrentChipId;
    s.SetSpeed(400000);
    EXPECT_EQ(s.SpeedPosition, kSpeedMax);  // clamped to the bar
    s.SetSpeed(40);
    s.Bufs.FlashBuffer[0] = 0x12;
    ASSERT_TRUE(s.WriteFlash());
    EXPECT_EQ(*desk.database->ReadSpeed(id), 40);

    s.SetSpeed(0);
    desk.view.Clear();
    ASSERT_TRUE(s.AutoSearch());
    EXPECT_EQ(desk.view.SpeedPositions, (std::vector<int32_t>{40}));
    EXPECT_EQ(s.SpeedPosition, 40);
    // Loading the same position again does not move the bar.
    desk.view.Clear();
    desk.view.SpeedPositions.clear();
    ASSERT_TRUE(s.AutoSearch());
    EXPECT_TRUE(desk.view.SpeedPositions.empty());
}

TEST(SessionOps, OperationsDoNotNest) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    s.Bufs.FlashBuffer[0] = 0x12;
    s.Bufs.FlashBuffer[1] = 0x34;
    std::vector<bool> inner;
    desk.view.OnBreathe = [&] {
        if (!inner.empty()) return;
        EXPECT_TRUE(s.Busy());
        inner = {s.ReadFlash(), s.WriteEEPROM(), s.AutoProgram(), s.AutoSearch(),
                 s.LoadFlashFile(desk.dir.File("none.hex"))};
        s.EraseTarget();
        s.SwitchMode(3);
    };
    EXPECT_TRUE(s.WriteFlash());
    EXPECT_EQ(inner, (std::vector<bool>(5, false)));
    EXPECT_EQ(desk.view.Running, (std::vector<bool>{true, false}));
    EXPECT_FALSE(desk.view.HasLine(">>begin erasing"));
    EXPECT_EQ(desk.ports->GetBench()->DownloadMode(), 1);
    EXPECT_FALSE(s.Busy());
    EXPECT_TRUE(s.VerifyFlash());
}

TEST(SessionOps, PicWordsSurviveWriteReadAndSave) {
    Desk desk("sim:PIC16F84A");
    desk.StartAndFind();
    Session& s = desk.S();
    ASSERT_EQ(s.Chip.CurrentMethodCode, Method::Pic);
    auto& b = s.Bufs.FlashBuffer;
    b[0] = 0x34;  // word 0x1234
    b[1] = 0x12;
    b[PicConfigAreaStart] = 0x05;  // ID word 0 = 0x0005
    b[PicConfigAreaStart + 1] = 0x00;
    b[PicConfigAreaStart + 14] = 0xF1;  // configuration word 0x3FF1
    ASSERT_TRUE(s.AutoProgram()) << ::testing::PrintToString(desk.view.Board);
    EXPECT_TRUE(s.VerifyFlash());

    // Without erasing, a buffer that says nothing about the words keeps the chip's.
    s.SelectChip(**desk.database->ChipById(s.Chip.CurrentChipId));
    b[2] = 0x78;
    b[3] = 0x06;
    ASSERT_TRUE(s.WriteFlash());
    EXPECT_EQ(b[PicConfigAreaStart + 14], 0xF1);
    EXPECT_EQ(b[PicConfigAreaStart], 0x05);

    // Read back into a blank buffer and save: the words are in the file.
    s.SelectChip(**desk.database->ChipById(s.Chip.CurrentChipId));
    ASSERT_TRUE(s.ReadFlash());
    EXPECT_EQ(b[0], 0x34);
    EXPECT_EQ(b[1], 0x12);
    EXPECT_EQ(b[PicConfigAreaStart], 0x05);
    EXPECT_EQ(b[PicConfigAreaStart + 14], 0xF1);
    EXPECT_EQ(b[PicConfigAreaStart + 15], 0x3F);
    const std::string saved = desk.dir.File("read.hex");
    ASSERT_TRUE(s.SaveFlashFile(saved));
    s.SelectChip(**desk.database->ChipById(s.Chip.CurrentChipId));
    ASSERT_TRUE(s.LoadFlashFile(saved));
    EXPECT_EQ(b[PicConfigAreaStart + 14], 0xF1);
    EXPECT_EQ(b[PicConfigAreaStart], 0x05);
    EXPECT_EQ(b[2], 0x78);
}

TEST(SessionOps, VerifyNamesTheFirstDifferingAddresses) {
    Desk desk("sim:AT89S52");
    desk.StartAndFind();
    Session& s = desk.S();
    std::fill(s.Bufs.FlashBuffer.begin(), s.Bufs.FlashBuffer.begin() + 16, 0x5A);
    ASSERT_TRUE(s.WriteFlash());
    s.Bufs.FlashBuffer[3] = 0x00;
    s.Bufs.FlashBuffer[20] = 0x11;
    desk.view.Clear();
    EXPECT_FALSE(s.VerifyFlash());
    EXPECT_EQ(desk.view.Text(), (std::vector<std::string>{
                                    ">>begin verifying FLASH",
                                    ">>address<0x03> differs: chip 5A, buffer 00",
                                    ">>address<0x14> differs: chip FF, buffer 11",
                                    ">>FLASH verify failed",
                                }));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
}

TEST(SessionOps, AutoProgrammingStopsBeforeErasingWhenTheReloadFails) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    const std::string file = desk.dir.File("fw.hex");
    std::ofstream(file) << ":0400000012345678E8\r\n:00000001FF\r\n";
    ASSERT_TRUE(s.LoadFlashFile(file));
    s.isEraseAll = true;
    s.isWriteFlash = true;
    s.isWriteEEPROM = false;
    ASSERT_TRUE(s.AutoProgram());

    // The remembered file vanishes, then comes back damaged half-way.
    s.isUpdateFlashFile = true;
    const std::vector<std::string> damages = {"", ":0400000000000000FC\r\n:0400040"};
    for (const std::string& damage : damages) {
        std::filesystem::remove(file);
        if (!damage.empty()) std::ofstream(file) << damage;
        desk.view.Clear();
        EXPECT_FALSE(s.AutoProgram()) << damage;
        EXPECT_TRUE(
            desk.view.HasLine(">>the file did not load: auto programming stopped, "
                              "nothing erased!"))
            << ::testing::PrintToString(desk.view.Board);
        EXPECT_FALSE(desk.view.HasLine(">>begin erasing"));
        EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
        ASSERT_TRUE(s.ReadFlash());
        EXPECT_EQ(s.Bufs.FlashBuffer[1], 0x34) << "the chip was erased or rewritten";
    }
}

TEST(SessionOps, WritesAreReadBackWhereTheEngineDoesNotLook) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    // Page mode polls one byte per page: byte 0x10 is not that byte.
    desk.ChipModel().Faults.StuckAddress = 0x10;
    std::fill(s.Bufs.FlashBuffer.begin(), s.Bufs.FlashBuffer.begin() + 0x40, 0x5A);
    EXPECT_FALSE(s.WriteFlash());
    EXPECT_TRUE(desk.view.HasLine(">>address<0x08> differs: chip FF, buffer 5A"))
        << ::testing::PrintToString(desk.view.Board);
    EXPECT_FALSE(desk.view.HasLine(">>write FLASH successfully"));
    s.SetVerifyAfter(false);
    EXPECT_TRUE(s.WriteFlash());
    EXPECT_EQ(desk.view.Checked("isVerifyAfter"), std::optional<bool>(false));
}

}  // namespace
}  // namespace tondrel::core::testsupport
