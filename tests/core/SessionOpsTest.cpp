// The session's operations on the simulated bench: how far a write goes, what a failed write
// says, auto programming and its questions, the stored speed, no nesting, the PIC words.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/AvrChip.h"
#include "engines/SerialIsp.h"
#include "tests/core/SessionTestSupport.h"
#include "tests/support/AvrGcc.h"

namespace tondrel::core::testsupport {
namespace {

TEST(SessionOps, LastAddressDecidesHowFarAWriteGoes) {
    Desk desk("sim:none");
    Session& s = desk.S();
    auto flash = [&](std::vector<uint8_t> head) {
        desk.Put(Memory::Flash, head);
        return s.LastAddress(Memory::Flash);
    };
    s.SelectChip(MadeUp(Method::At89s, 8, 0));  // an 8051: blank is 0xFF, even byte counts
    EXPECT_EQ(flash({0x12, 0x34}), 1);
    s.SelectChip(MadeUp(Method::At89s, 8, 0));
    EXPECT_EQ(flash({0x12}), 1);  // the last used byte at an even index still writes a pair
    s.SelectChip(MadeUp(Method::At89s, 8, 0));
    EXPECT_EQ(s.LastAddress(Memory::Flash), -1);
    EXPECT_EQ(flash({0, 0, 0, 0, 0, 0, 0, 0x12}), 7);

    s.SelectChip(MadeUp(Method::Pic, 8, 0));  // PIC: blank word 0x3FFF, low byte first
    EXPECT_EQ(s.LastAddress(Memory::Flash), -1);
    EXPECT_EQ(flash({0x34, 0x12}), 1);
    desk.Poke(Memory::Flash, PicConfigAreaStart + 14, 0xF1);  // a configuration word is written too
    EXPECT_EQ(s.LastAddress(Memory::Flash), PicConfigAreaStart + 15);
    s.SelectChip(MadeUp(Method::Pic, 2, 0));
    EXPECT_EQ(s.LastAddress(Memory::Flash), -1);
    // Code 6 blank-fills with 0xFF, which is not the blank word: all of it is written.
    s.SelectChip(MadeUp(Method::PicA, 8, 0));
    EXPECT_EQ(s.LastAddress(Memory::Flash), 7);

    s.SelectChip(MadeUp(Method::Avr, 0, 8));
    EXPECT_EQ(s.LastAddress(Memory::EEPROM), -1);
    desk.Poke(Memory::EEPROM, 0, 0);
    EXPECT_EQ(s.LastAddress(Memory::EEPROM), 0);
    desk.Poke(Memory::EEPROM, 7, 0);
    EXPECT_EQ(s.LastAddress(Memory::EEPROM), 7);
}

TEST(SessionOps, EmptyBufferIsNothingToWriteAndCountsAsSuccess) {
    Desk desk("sim:AT89S52");
    desk.StartAndFind();
    EXPECT_TRUE(desk.S().Write(Memory::Flash));
    EXPECT_EQ(desk.view.Keys(), (std::vector<std::string>{"CoreNoFlashData"}));
    EXPECT_FALSE(desk.database->ReadSpeed(desk.S().Chip().CurrentChipId)->has_value());
}

TEST(SessionOps, WriteFailureNamesByteAddressOn8051AndWordAddressOnAvr) {
    {
        Desk desk("sim:AT89S52");
        desk.StartAndFind();
        desk.ChipModel().Faults.StuckAddress = 0x1A5;
        desk.Fill(Memory::Flash, 0, 0x200, 0x00);
        const Status failed = desk.S().Write(Memory::Flash);
        EXPECT_EQ(failed.Error(), Msg("CoreWriteFlashFailByte", "1A5"));
        EXPECT_EQ(desk.view.Lines().back(), failed.Error());
        EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
        EXPECT_EQ(desk.view.Progress, 0x1A5);  // every byte before it went through
        EXPECT_FALSE(desk.database->ReadSpeed(desk.S().Chip().CurrentChipId)->has_value());
    }
    {
        Desk desk("sim:ATmega16");
        desk.StartAndFind();
        desk.ChipModel().Faults.StuckAddress = 0x1A5;
        desk.Fill(Memory::Flash, 0, 0x1A6, 0x00);
        EXPECT_EQ(desk.S().Write(Memory::Flash).Error(), Msg("CoreWriteFlashFailWord", "D2"));
        EXPECT_EQ(desk.view.Lines().back(), Msg("CoreWriteFlashFailWord", "D2"));
    }
    {
        // An EEPROM byte at index 5 that does not read back: two hex digits in the message.
        Desk desk("sim:ATmega16");
        desk.StartAndFind();
        desk.Poke(Memory::EEPROM, 5, 0x42);
        // Once the bytes before it are through, the chip no longer follows the clock (every
        // byte is checked now, the blank ones too, so the fault must wait for address 5).
        desk.view.OnBreathe = [&desk] {
            if (desk.view.Progress >= 4) desk.ChipModel().Faults.MinPhaseNs = 1000000000;
        };
        EXPECT_FALSE(desk.S().Write(Memory::EEPROM));
        desk.view.OnBreathe = nullptr;
        EXPECT_EQ(desk.view.Lines().back(), Msg("CoreWriteEEPROMFail", "05"));
    }
}

TEST(SessionOps, WriteThatFailsAtAMarginalSpeedFinishesOneStepSlower) {
    // A factory-fresh ATmega16 on its 1 MHz RC oscillator: the search settles just above its
    // limit of 2 us a clock phase. Half-way through the second page the chip slows down (it
    // warms up, say) and misreads every bit at that speed: that page is written again a step
    // slower, in programming mode anew, and the speed that finished is the one stored.
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    const int32_t found = desk.S().State().Speed;
    EXPECT_EQ(found, 2000 + 2000 / 16);
    desk.Fill(Memory::Flash, 0, 0x200, 0x12);
    desk.view.OnBreathe = [&desk, found] {
        if (desk.view.Progress >= 0x90)
            desk.ChipModel().Faults.MinPhaseNs = static_cast<uint64_t>(found) + 100;
    };
    EXPECT_TRUE(desk.S().Write(Memory::Flash));
    desk.view.OnBreathe = nullptr;
    const int32_t slower = desk.S().State().Speed;
    EXPECT_EQ(slower, SerialIsp::NextSlower(found));
    EXPECT_EQ(desk.database->ReadSpeed(desk.S().Chip().CurrentChipId)->value_or(-1), slower);
    EXPECT_TRUE(desk.S().Verify(Memory::Flash));
}

TEST(SessionOps, AutoProgramWithEveryBoxUncheckedOnlyChecksAdapterAndChip) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    desk.Plan([](AutoPlan& p) {
        p.UpdateFlashFile = p.UpdateEEPROMFile = p.EraseAll = p.WriteFlash = p.WriteEEPROM = false;
    });
    desk.Poke(Memory::Flash, 0, 0x12);  // would be written if the flow wrote anything
    desk.view.Running.clear();
    EXPECT_TRUE(s.AutoProgram());
    EXPECT_EQ(desk.view.Keys(), (std::vector<std::string>{"CoreAutoDone"}));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"ok"}));
    EXPECT_TRUE(desk.view.Questions.empty());
    EXPECT_EQ(desk.view.Running, (std::vector<bool>{true, false}));
    EXPECT_FALSE(s.Verify(Memory::Flash));  // the chip stayed blank
}

TEST(SessionOps, ReloadQuestionAnsweredNoGoesOnAndYesStops) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    desk.Plan([](AutoPlan& p) { p.UpdateFlashFile = p.EraseAll = true; });
    desk.Put(Memory::Flash, {0x12, 0x34});
    desk.view.Answers = {false};
    EXPECT_TRUE(s.AutoProgram());
    EXPECT_EQ(desk.view.QuestionsAsked, (std::vector<Message>{Msg("CoreAskNoFlashFile")}));
    EXPECT_EQ(desk.view.QuestionKinds, (std::vector<QuestionKind>{QuestionKind::StopsOperation}));
    EXPECT_TRUE(desk.view.Said("CoreWriteFlashDone"));
    EXPECT_TRUE(desk.view.Said("CoreAutoDone"));
    EXPECT_TRUE(s.Verify(Memory::Flash));

    desk.view.Clear();
    desk.view.Answers = {true};
    EXPECT_EQ(s.AutoProgram().Key(), "CoreAutoStoppedFlash");
    EXPECT_EQ(desk.view.Keys(), (std::vector<std::string>{"CoreAutoStoppedFlash"}));
    EXPECT_TRUE(desk.view.Sounds.empty());

    // Asked even for a file the flow could do without.
    desk.Plan([](AutoPlan& p) { p.UpdateFlashFile = false, p.UpdateEEPROMFile = true; });
    desk.view.Clear();
    desk.view.Answers = {true};
    EXPECT_FALSE(s.AutoProgram());
    EXPECT_EQ(desk.view.QuestionsAsked, (std::vector<Message>{Msg("CoreAskNoEEPROMFile")}));
    EXPECT_EQ(desk.view.Keys(), (std::vector<std::string>{"CoreAutoStoppedEEPROM"}));
}

TEST(SessionOps, AutoProgramReloadsTheRememberedFile) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    const std::string hex = desk.dir.File("app.hex");
    std::ofstream(hex) << ":0400000001020304F2\r\n:00000001FF\r\n";
    ASSERT_TRUE(s.LoadFile(Memory::Flash, hex));
    EXPECT_EQ(desk.view.State.FlashFile, hex);
    EXPECT_EQ(desk.view.Tabs.back(), "sheetFlash");
    desk.Poke(Memory::Flash, 0, 0x99);  // edited in the grid after loading
    desk.Plan([](AutoPlan& p) { p.UpdateFlashFile = true; });
    EXPECT_TRUE(s.AutoProgram());
    EXPECT_EQ(desk.Buf(Memory::Flash)[0], 0x01);
    EXPECT_TRUE(desk.view.Questions.empty());
    EXPECT_TRUE(s.Verify(Memory::Flash));
    EXPECT_EQ(desk.view.State.FlashFile, hex);

    // A file that does not load: error sound, name and status bar unchanged.
    desk.view.Clear();
    std::ofstream(desk.dir.File("bad.hex")) << "garbage\r\n";
    EXPECT_FALSE(s.LoadFile(Memory::Flash, desk.dir.File("bad.hex")));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
    EXPECT_EQ(desk.view.State.FlashFile, hex);
    EXPECT_EQ(desk.Buf(Memory::Flash)[0], 0x01);  // and the buffer still holds that file
}

// The board lines of loading and saving, in the order and the language the user reads them.
TEST(SessionOps, FailedLoadsAndSavesSayWhy) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    s.SetLanguageCode(2);
    std::ofstream(desk.dir.File("bad.eep")) << "x\r\n";
    EXPECT_FALSE(s.LoadFile(Memory::EEPROM, desk.dir.File("bad.eep")));
    EXPECT_EQ(desk.view.Board,
              (std::vector<std::string>{"", ">>打开EEPROM文件", "第一个字母不为\":\",不是HEX文件！",
                                        "（文件" + desk.dir.File("bad.eep") + "第1行）"}));
    desk.view.Clear();
    ASSERT_TRUE(s.SaveFile(Memory::EEPROM, desk.dir.File("e.idf")));
    EXPECT_EQ(desk.view.Board,
              (std::vector<std::string>{"", ">>文件成功保存到" + desk.dir.File("e.idf")}));

    s.SetLanguageCode(1);
    desk.view.Clear();
    EXPECT_FALSE(s.SaveFile(Memory::Flash, desk.dir.File("none/f.hex")));
    EXPECT_EQ(desk.view.Board,
              (std::vector<std::string>{"", ">>cannot save file " + desk.dir.File("none/f.hex") +
                                                ": " + std::strerror(ENOENT)}));
}

TEST(SessionOps, SpeedIsStoredAfterAWriteAndLoadedAtTheNextSelection) {
    Desk desk("sim:ATmega16@16MHz");  // follows any speed: the one set is the one stored
    desk.StartAndFind();
    Session& s = desk.S();
    const int id = s.Chip().CurrentChipId;
    s.SetSpeed(400000);
    EXPECT_EQ(desk.view.State.Speed, kSpeedMax);  // clamped to the bar
    s.SetSpeed(40);
    desk.Poke(Memory::Flash, 0, 0x12);
    ASSERT_TRUE(s.Write(Memory::Flash));
    EXPECT_EQ(*desk.database->ReadSpeed(id), 40);

    s.SetSpeed(0);
    desk.view.Clear();
    desk.view.SpeedPositions.clear();
    ASSERT_TRUE(s.AutoSearch());
    EXPECT_EQ(desk.view.SpeedPositions, (std::vector<int32_t>{40}));
    EXPECT_EQ(desk.view.State.Speed, 40);
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
    desk.Put(Memory::Flash, {0x12, 0x34});
    std::vector<std::string> inner;
    desk.view.Running.clear();
    desk.view.OnBreathe = [&] {
        if (!inner.empty()) return;
        EXPECT_TRUE(desk.view.State.Busy);
        inner = {s.Read(Memory::Flash).Key(),
                 s.Write(Memory::EEPROM).Key(),
                 s.AutoProgram().Key(),
                 s.AutoSearch().Error().Key,
                 s.LoadFile(Memory::Flash, desk.dir.File("none.hex")).Key(),
                 s.Erase().Key(),
                 s.SwitchMode(3).Key()};
    };
    EXPECT_TRUE(s.Write(Memory::Flash));
    EXPECT_EQ(inner, (std::vector<std::string>(7, "CoreBusy")));
    EXPECT_EQ(desk.view.Running, (std::vector<bool>{true, false}));
    EXPECT_FALSE(desk.view.Said("CoreEraseBegin"));
    EXPECT_EQ(desk.ports->GetBench()->DownloadMode(), 1);
    EXPECT_FALSE(desk.view.State.Busy);
    EXPECT_TRUE(s.Verify(Memory::Flash));
}

TEST(SessionOps, PicWordsSurviveWriteReadAndSave) {
    Desk desk("sim:PIC16F84A");
    desk.StartAndFind();
    Session& s = desk.S();
    ASSERT_EQ(s.Chip().CurrentMethodCode, Method::Pic);
    const auto& b = desk.Buf(Memory::Flash);
    desk.Put(Memory::Flash, {0x34, 0x12});                      // word 0x1234
    desk.Put(Memory::Flash, {0x05, 0x00}, PicConfigAreaStart);  // ID word 0 = 0x0005
    desk.Poke(Memory::Flash, PicConfigAreaStart + 14, 0xF1);    // configuration word 0x3FF1
    ASSERT_TRUE(s.AutoProgram()) << ::testing::PrintToString(desk.view.Board);
    EXPECT_TRUE(s.Verify(Memory::Flash));

    // Without erasing, a buffer that says nothing about the words keeps the chip's.
    s.SelectChip(**desk.database->ChipById(s.Chip().CurrentChipId));
    desk.Put(Memory::Flash, {0x78, 0x06}, 2);
    ASSERT_TRUE(s.Write(Memory::Flash));
    EXPECT_EQ(b[PicConfigAreaStart + 14], 0xF1);
    EXPECT_EQ(b[PicConfigAreaStart], 0x05);

    // Read back into a blank buffer and save: the words are in the file.
    s.SelectChip(**desk.database->ChipById(s.Chip().CurrentChipId));
    ASSERT_TRUE(s.Read(Memory::Flash));
    EXPECT_EQ(b[0], 0x34);
    EXPECT_EQ(b[1], 0x12);
    EXPECT_EQ(b[PicConfigAreaStart], 0x05);
    EXPECT_EQ(b[PicConfigAreaStart + 14], 0xF1);
    EXPECT_EQ(b[PicConfigAreaStart + 15], 0x3F);
    const std::string saved = desk.dir.File("read.hex");
    ASSERT_TRUE(s.SaveFile(Memory::Flash, saved));
    s.SelectChip(**desk.database->ChipById(s.Chip().CurrentChipId));
    ASSERT_TRUE(s.LoadFile(Memory::Flash, saved));
    EXPECT_EQ(b[PicConfigAreaStart + 14], 0xF1);
    EXPECT_EQ(b[PicConfigAreaStart], 0x05);
    EXPECT_EQ(b[2], 0x78);
}

TEST(SessionOps, VerifyNamesTheFirstDifferingAddresses) {
    Desk desk("sim:AT89S52");
    desk.StartAndFind();
    Session& s = desk.S();
    desk.Fill(Memory::Flash, 0, 16, 0x5A);
    ASSERT_TRUE(s.Write(Memory::Flash));
    desk.Poke(Memory::Flash, 3, 0x00);
    desk.Poke(Memory::Flash, 20, 0x11);
    desk.view.Clear();
    EXPECT_FALSE(s.Verify(Memory::Flash));
    EXPECT_EQ(desk.view.Lines(), (std::vector<Message>{
                                     Msg("CoreVerifyFlashBegin"),
                                     Msg("CoreVerifyDiffers", "03", "5A", "00"),
                                     Msg("CoreVerifyDiffers", "14", "FF", "11"),
                                     Msg("CoreVerifyFlashFail"),
                                 }));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
}

TEST(SessionOps, AutoProgrammingStopsBeforeErasingWhenTheReloadFails) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    const std::string file = desk.dir.File("fw.hex");
    std::ofstream(file) << ":0400000012345678E8\r\n:00000001FF\r\n";
    ASSERT_TRUE(s.LoadFile(Memory::Flash, file));
    desk.Plan([](AutoPlan& p) { p.EraseAll = p.WriteFlash = true, p.WriteEEPROM = false; });
    ASSERT_TRUE(s.AutoProgram());

    // The remembered file vanishes, then comes back damaged half-way.
    desk.Plan([](AutoPlan& p) { p.UpdateFlashFile = true; });
    const std::vector<std::string> damages = {"", ":0400000000000000FC\r\n:0400040"};
    for (const std::string& damage : damages) {
        std::filesystem::remove(file);
        if (!damage.empty()) std::ofstream(file) << damage;
        desk.view.Clear();
        EXPECT_EQ(s.AutoProgram().Key(), "CoreAutoStoppedLoad") << damage;
        EXPECT_TRUE(desk.view.Said("CoreAutoStoppedLoad"))
            << ::testing::PrintToString(desk.view.Board);
        EXPECT_FALSE(desk.view.Said("CoreEraseBegin"));
        EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
        ASSERT_TRUE(s.Read(Memory::Flash));
        EXPECT_EQ(desk.Buf(Memory::Flash)[1], 0x34) << "the chip was erased or rewritten";
    }
}

// A signature that reads differently twice, or reads the same twice as no chip's, is read again
// a step slower; one that stays garbled is no chip's, and nothing is done to it. (A signature
// read is three byte reads: 1 garbles the first read only, 6 both reads alike.)
TEST(SessionOps, AGarbledSignatureIsReadAgainSlowerThenRefused) {
    for (const uint32_t garbled : {1u, 6u, 100u}) {
        SCOPED_TRACE(garbled);
        Desk desk("sim:ATmega16");
        desk.StartAndFind();
        const int32_t found = desk.S().State().Speed;
        desk.Poke(Memory::Flash, 0, 0x12);
        ASSERT_TRUE(desk.S().Write(Memory::Flash));
        desk.ChipModel().Faults.GarbledSignatureReads = garbled;
        desk.view.Clear();
        const Status erased = desk.S().Erase();
        desk.ChipModel().Faults.GarbledSignatureReads = 0;
        ASSERT_TRUE(desk.S().Read(Memory::Flash));
        if (garbled < 100) {
            EXPECT_TRUE(erased) << erased.Key();
            EXPECT_EQ(desk.S().State().Speed, SerialIsp::NextSlower(found));
            EXPECT_EQ(desk.Buf(Memory::Flash)[0], 0xFF);
        } else {
            EXPECT_EQ(erased.Key(), "CoreUnknownSignature");
            EXPECT_FALSE(desk.view.Said("CoreEraseDone"));
            EXPECT_EQ(desk.Buf(Memory::Flash)[0], 0x12) << "erased though never identified";
        }
    }
}

TEST(SessionOps, WritesAreReadBackWhereTheEngineDoesNotLook) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    // Page mode polls one byte per page: byte 0x10 is not that byte.
    desk.ChipModel().Faults.StuckAddress = 0x10;
    desk.Fill(Memory::Flash, 0, 0x40, 0x5A);
    EXPECT_FALSE(s.Write(Memory::Flash));
    EXPECT_TRUE(desk.view.Said(Msg("CoreVerifyDiffers", "08", "5AFF", "5A5A")))
        << ::testing::PrintToString(desk.view.Board);
    EXPECT_FALSE(desk.view.Said("CoreWriteFlashDone"));
    desk.Plan([](AutoPlan& p) { p.VerifyAfter = false; });
    EXPECT_TRUE(s.Write(Memory::Flash));
    EXPECT_FALSE(desk.view.State.Plan.VerifyAfter);
}

}  // namespace
// A file's gaps are not the user's data: after a write only the bytes the file defined are
// compared, unless the blank check asks that the rest reads blank too (to the chip's end).
TEST(SessionOps, ReadBackComparesTheFileAndTheBlankCheckTheRest) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    // Something an earlier program left at word 0x1000.
    std::ofstream(desk.dir.File("old.hex")) << ":0120000012CD\r\n:00000001FF\r\n";
    ASSERT_TRUE(s.LoadFile(Memory::Flash, desk.dir.File("old.hex")));
    ASSERT_TRUE(s.Write(Memory::Flash));
    const std::string hex = desk.dir.File("app.hex");
    std::ofstream(hex) << ":0400000001020304F2\r\n:00000001FF\r\n";
    ASSERT_TRUE(s.LoadFile(Memory::Flash, hex));
    desk.Plan([](AutoPlan& p) {
        p.UpdateFlashFile = p.UpdateEEPROMFile = p.WriteEEPROM = p.EraseAll = false;
        p.WriteFlash = p.VerifyAfter = true;
    });
    desk.view.Clear();
    EXPECT_TRUE(s.AutoProgram()) << ::testing::PrintToString(desk.view.Board);

    desk.Plan([](AutoPlan& p) { p.CheckRestBlank = true; });
    desk.view.Clear();
    EXPECT_FALSE(s.AutoProgram());
    EXPECT_TRUE(desk.view.Said(Msg("CoreVerifyDiffers", "1000", "FF12", "FFFF")))
        << ::testing::PrintToString(desk.view.Board);

    // Erased first, the chip holds the file and blanks, the skipped pages included.
    desk.Plan([](AutoPlan& p) { p.EraseAll = true; });
    desk.view.Clear();
    EXPECT_TRUE(s.AutoProgram()) << ::testing::PrintToString(desk.view.Board);
    const auto& chip = dynamic_cast<sim::AvrChip&>(desk.ChipModel()).Flash();
    std::vector<uint8_t> want(chip.size(), 0xFF);
    std::copy_n(std::vector<uint8_t>{1, 2, 3, 4}.begin(), 4, want.begin());
    EXPECT_TRUE(chip == want);
}

// A Stop between bytes ends each long operation there: said, never a success, the later steps
// of auto programming skipped, and the next operation runs to its end. Each phase is named.
TEST(SessionOps, StopEndsTheOperationAtTheNextByte) {
    struct Case {
        const char* name;
        Status (*run)(Session&);
        const char* phase;
    };
    const Case cases[] = {
        {"write", [](Session& s) { return s.Write(Memory::Flash); }, "PhaseWriteFlash"},
        {"read", [](Session& s) { return s.Read(Memory::EEPROM); }, "PhaseReadEEPROM"},
        {"verify", [](Session& s) { return s.Verify(Memory::Flash); }, "PhaseVerifyFlash"},
        {"auto", [](Session& s) { return s.AutoProgram(); }, "PhaseWriteFlash"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Desk desk("sim:ATmega16");
        desk.StartAndFind();
        desk.Fill(Memory::Flash, 0, 0x400, 0x5A);
        desk.Fill(Memory::EEPROM, 0, 0x10, 0x33);
        desk.view.OnBreathe = [&desk] {
            if (desk.view.Progress == 20) desk.S().Stop();
        };
        const Status stopped = c.run(desk.S());
        desk.view.OnBreathe = nullptr;
        EXPECT_EQ(stopped.Error(), Msg("CoreStopped"));
        EXPECT_EQ(desk.view.Lines().back(), Msg("CoreStopped"));
        EXPECT_EQ(desk.view.Progress, 21);  // the byte under way, then no further
        EXPECT_EQ(desk.view.Phases.back(), Msg(c.phase));
        EXPECT_EQ(desk.view.Phases.size(), 1u);  // auto programming wrote no EEPROM after it
        EXPECT_FALSE(desk.S().State().Busy);
        EXPECT_TRUE(desk.S().Write(Memory::EEPROM));  // the stop does not outlive its operation
    }
}

namespace {

// The window's seventh box writes an ELF file's fuses and lock bits after the memories,
// through the configuration form and its questions; without it they are only shown.
TEST(SessionOps, AutoProgrammingWritesTheFileFusesOnlyWithItsBox) {
    TONDREL_NEED_TOOL("avr-gcc");
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    const std::string elf = desk.dir.File("prog.elf");
    std::ofstream(desk.dir.File("prog.c")) << tondrel::testsupport::kFusedProgram;
    ASSERT_TRUE(tondrel::testsupport::CompileAvr(desk.dir.File("prog.c"), "atmega16", elf));
    ASSERT_TRUE(s.LoadFile(Memory::Flash, elf));
    ASSERT_TRUE(s.LoadFile(Memory::EEPROM, elf));
    EXPECT_EQ(desk.view.CountSaid("FileConfigAsked"), 1u);  // the same bytes are shown once
    EXPECT_EQ(desk.view.CountSaid("FileConfigByte"), 3u);
    auto& chip = dynamic_cast<sim::AvrChip&>(desk.ChipModel());

    EXPECT_TRUE(s.AutoProgram());
    EXPECT_EQ(chip.FuseLow(), 0xE1);
    EXPECT_EQ(desk.Buf(Memory::EEPROM)[4], 5);

    desk.Plan([](AutoPlan& p) { p.WriteFileFuses = true; });
    desk.view.Answers = {true};  // the lock bits' question
    desk.view.QuestionKinds.clear();
    EXPECT_TRUE(s.AutoProgram());
    EXPECT_EQ(desk.view.QuestionKinds, (std::vector<QuestionKind>{QuestionKind::Locks}));
    EXPECT_EQ(chip.FuseLow(), 0xE4);
    EXPECT_EQ(chip.FuseHigh(), 0xD9);
    EXPECT_EQ(chip.Lock() & 0x03, 0x02);

    // A Flash file without fuses leaves none to write.
    const std::string hex = desk.dir.File("app.hex");
    std::ofstream(hex) << ":0400000001020304F2\r\n:00000001FF\r\n";
    ASSERT_TRUE(s.LoadFile(Memory::Flash, hex));
    EXPECT_FALSE(s.FileConfiguration());
    EXPECT_EQ(s.WriteFileConfiguration(desk.view).Key(), "CoreNoFileConfig");
}

// Every kind the buffer saves as loads back to the same bytes; a kind it cannot save is refused
// rather than written as something else under that name.
TEST(SessionOps, SavedFilesOfEveryKindLoadAgainUnchanged) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    Session& s = desk.S();
    desk.Put(Memory::EEPROM, {0x53, 0x31, 0x30, 0x3A});  // "S10:" leads the binary
    desk.Poke(Memory::EEPROM, 300, 0x42);
    const std::vector<uint8_t> image = desk.Buf(Memory::EEPROM);
    for (const char* name : {"e.hex", "e.eep", "e.bin", "e.idf", "e.txt"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(s.SaveFile(Memory::EEPROM, desk.dir.File(name)));
        desk.Fill(Memory::EEPROM, 0, 4, 0x11);
        ASSERT_TRUE(s.LoadFile(Memory::EEPROM, desk.dir.File(name)));
        EXPECT_EQ(desk.Buf(Memory::EEPROM), image);
    }
    for (const char* name : {"e.elf", "e.srec", "e.S19"}) {
        desk.view.Clear();
        EXPECT_FALSE(s.SaveFile(Memory::EEPROM, desk.dir.File(name)));
        EXPECT_EQ(desk.view.Keys(), (std::vector<std::string>{"CoreSaveKindUnsupported"}));
        EXPECT_FALSE(std::filesystem::exists(desk.dir.File(name)));
    }
}

}  // namespace
}  // namespace tondrel::core::testsupport
