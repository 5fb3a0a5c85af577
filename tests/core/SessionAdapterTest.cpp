// The session finding its adapter and its chip: the identification answers, the Altera cable
// banner, the chip search in method-code order, the manual choice, the port choice.
#include <algorithm>

#include "tests/core/SessionTestSupport.h"

namespace tondrel::core::testsupport {
namespace {

const std::string kNoAdapter = ">>hardware disconnected or no electricity !";

TEST(SessionAdapter, IdentificationAnswersAndTheirLabels) {
    struct Case {
        uint8_t Raw;  // status register as the port reads it (bit 7 inverted)
        const char* Model;
        const char* Version;
        const char* Kernel;
        int Gen;
        bool Eprom3;
    };
    const Case cases[] = {
        {0x80, "Brisk I", "hardware 1.0", "kernel 1.0", 1, false},
        {0x88, "Brisk I", "hardware 1.0", "kernel 2.0", 1, false},
        {0x20, "Regal II", "hardware 2.0", "kernel 1.0", 2, true},
    };
    for (const Case& c : cases) {
        auto set = std::make_unique<RecordingSet>();
        set->Port.SetStatusRaw(c.Raw);
        Desk desk(std::move(set));
        desk.S().SetLanguageCode(1);
        desk.S().CurrentEngine().SetPortBase(0x378);
        EXPECT_TRUE(desk.S().DetectHardware()) << int(c.Raw);
        EXPECT_EQ(desk.view.Label("HardwareVer"), c.Model);
        EXPECT_EQ(desk.view.Label("hardware1"), c.Version);
        EXPECT_EQ(desk.view.Label("hardware2"), c.Kernel);
        EXPECT_EQ(desk.S().HardwareGen, c.Gen);
        EXPECT_EQ(desk.view.Enabled("MEEProm3"), c.Eprom3);
        EXPECT_EQ(desk.view.Enabled("SbtnEEProm3"), c.Eprom3);
        EXPECT_TRUE(desk.view.Board.empty());
    }

    // 0xA8 is no generation: the cable test runs, finds nothing, and says so in Chinese.
    auto set = std::make_unique<RecordingSet>();
    set->Port.SetStatusRaw(0x28);
    Desk desk(std::move(set));
    desk.S().SetLanguageCode(2);
    desk.S().HardwareGen = 2;
    desk.S().CurrentEngine().SetPortBase(0x378);
    EXPECT_FALSE(desk.S().DetectHardware());
    EXPECT_EQ(desk.view.Board,
              (std::vector<std::string>{"", ">>编程器没有连接或没有提供电源给编程器"}));
    EXPECT_EQ(desk.view.Label("ispstatus"), ">>编程器没有启动！");
    EXPECT_EQ(desk.view.Label("HardwareVer"), "硬件未知！");
    EXPECT_EQ(desk.view.Label("hardware1"), "");
    EXPECT_EQ(desk.S().HardwareGen, 0);  // gone: the front ends ask AdapterPresent()
    EXPECT_FALSE(desk.S().AdapterPresent());
    for (auto c : {"Mfile", "Moper", "MSearchChip", "NormalBar", "FlashToolBar", "EEPROMToolBar",
                   "FlashDataBoard", "EEPROMdataBoard"})
        EXPECT_FALSE(desk.view.Enabled(c)) << c;
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
}

TEST(SessionAdapter, HandshakeBytesAndTheRestHandshakeAtShutDown) {
    auto owned = std::make_unique<RecordingSet>();
    RecordingSet& set = *owned;
    Desk desk(std::move(owned));
    desk.S().PortBase = 0x378;
    desk.S().CurrentEngine().SetPortBase(0x378);
    set.Port.ClearLog();
    EXPECT_TRUE(desk.S().SaveSettings());
    // Logical control 14 leaves the port with bits 0, 1 and 3 inverted.
    std::vector<std::pair<uint16_t, uint8_t>> writes;
    for (const auto& e : set.Port.Events())
        if (e.Op == tondrel::testsupport::PortOp::Out) writes.emplace_back(e.Address, e.Arg);
    const std::vector<std::pair<uint16_t, uint8_t>> expected = {
        {0x37A, 14 ^ 0x0B}, {0x378, 0xAC}, {0x378, 0xAA}, {0x378, 0x00}, {0x37A, 0x0B}};
    EXPECT_EQ(writes, expected);
    EXPECT_EQ(desk.database->ReadSettings()->Lpt, 1);

    // A mode without a code sends only the closing pair.
    set.Port.ClearLog();
    desk.S().SendModeCommand(0);
    EXPECT_EQ(set.Port.Count(tondrel::testsupport::PortOp::Out), 2u);
}

TEST(SessionAdapter, AlteraBannerOnTheFirstAndThe52ndRecognition) {
    Desk desk("sim:byteblaster");
    desk.S().SetLanguageCode(1);
    desk.S().CurrentEngine().SetPortBase(0x378);
    std::vector<int> shownAt;
    const std::string top = "   " + std::string(72, '=') + " ";
    for (int n = 1; n <= 60; ++n) {
        desk.view.Clear();
        ASSERT_TRUE(desk.S().DetectHardware());
        if (desk.view.HasLine(top)) shownAt.push_back(n);
    }
    EXPECT_EQ(shownAt, (std::vector<int>{1, 52}));
    EXPECT_EQ(desk.view.Label("HardwareVer"), "ALTERA");
    EXPECT_EQ(desk.view.Label("hardware1"), "hardware ver");
    EXPECT_EQ(desk.view.Label("hardware2"), "ByteBlaster");
    EXPECT_EQ(desk.S().HardwareGen, 3);

    Desk mv("sim:byteblastermv");
    mv.S().SetLanguageCode(2);
    mv.S().CurrentEngine().SetPortBase(0x378);
    ASSERT_TRUE(mv.S().DetectHardware());
    EXPECT_EQ(mv.view.Label("hardware2"), "ByteBlasterMV");
    EXPECT_EQ(mv.view.Label("hardware1"), "硬件版本");
    const std::vector<std::string> banner = {
        "",
        top,
        "    您使用的是ALTERA下载线，请使用MCU快捷键进行ATMEL单片机的编程。",
        "    为获得更多的芯片支持、最稳定的编程及技术支持，请使用与本软件配套的硬件！",
        "            file:///usr/share/tondrel/manual.html",
        "   " + std::string(73, '='),
    };
    EXPECT_EQ(mv.view.Board, banner);
}

TEST(SessionSearch, ProbesCodeZeroFirstAndFindsAt89s52UnderCodeOne) {
    Desk desk("sim:AT89S52");
    desk.Start();
    Session& s = desk.S();
    ASSERT_TRUE(s.AutoSearch());
    EXPECT_EQ(&s.CurrentEngine(), s.EngineFor(Method::At89s));
    // An engine that was tried got the port base; the ones after the find were never touched.
    EXPECT_EQ(s.EngineFor(Method::Pic)->DataPort, 0x378);
    EXPECT_EQ(s.EngineFor(Method::At89s)->DataPort, 0x378);
    for (size_t n = 2; n < kSearchOrder.size(); ++n)
        EXPECT_EQ(s.EngineFor(kSearchOrder[n])->DataPort, 0) << n;
    EXPECT_EQ(s.Chip.CurrentChipName, "AT89S52");
    EXPECT_EQ(s.Chip.CurrentMethodCode, Method::At89s);
    EXPECT_EQ(desk.view.Text(), (std::vector<std::string>{">>chip detected:AT89S52"}));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"detect"}));
    EXPECT_EQ(desk.view.Label(kStatusChip), "chip: AT89S52");
    EXPECT_TRUE(desk.view.Enabled("Mfile"));
    EXPECT_TRUE(desk.view.Enabled("Moper"));
    EXPECT_TRUE(desk.view.Enabled("FlashToolBar"));
    EXPECT_FALSE(desk.view.Enabled("EEPROMToolBar"));  // no EEPROM on this chip
    ASSERT_EQ(s.Bufs.FlashBuffer.size(), 8192u);
    EXPECT_TRUE(std::all_of(s.Bufs.FlashBuffer.begin(), s.Bufs.FlashBuffer.end(),
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(desk.view.FlashShows, 1);
    EXPECT_EQ(desk.ports->GetBench()->DownloadMode(), 1);
}

TEST(SessionSearch, NoAdapterOneMessageSearchStopsTwoErrorSounds) {
    Desk desk("sim:none");
    desk.Start();  // start-up already found nothing
    Session& s = desk.S();
    EXPECT_FALSE(s.AutoSearch());
    EXPECT_EQ(desk.view.CountLine(kNoAdapter), 1u);
    EXPECT_EQ(desk.view.Text().size(), 1u);
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err", "err"}));
    EXPECT_EQ(s.EngineFor(Method::Pic)->DataPort, 0x378);
    EXPECT_EQ(s.EngineFor(Method::At89s)->DataPort, 0);  // the search stopped at the first engine
    EXPECT_FALSE(desk.view.Enabled("Moper"));
    EXPECT_FALSE(desk.view.Enabled("MopenFlashFile"));
    EXPECT_EQ(desk.view.Label("ispstatus"), ">>hardware did not launch!");

    // Without sound nothing plays.
    s.Msound = false;
    desk.view.Clear();
    EXPECT_FALSE(s.AutoSearch());
    EXPECT_TRUE(desk.view.Sounds.empty());
}

TEST(SessionSearch, NoSupportedChipLeavesSearchUsable) {
    Desk desk("sim:empty");
    desk.Start();
    Session& s = desk.S();
    EXPECT_FALSE(s.AutoSearch());
    EXPECT_EQ(desk.view.Text(), (std::vector<std::string>{">>no supported chip found!"}));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
    EXPECT_EQ(&s.CurrentEngine(), s.EngineFor(Method::PicA));
    EXPECT_TRUE(desk.view.Enabled("MSearchChip"));
    EXPECT_TRUE(desk.view.Enabled("NormalBar"));
    EXPECT_FALSE(desk.view.Enabled("Mfile"));
    EXPECT_FALSE(desk.view.Enabled("FlashDataBoard"));
    EXPECT_FALSE(s.ChipCurrent);
}

TEST(SessionSelect, ChipWithoutFlashAndPicBlankFills) {
    Desk desk("sim:ATmega16");
    desk.Start();
    Session& s = desk.S();
    s.Bufs.FlashBuffer = {1, 2, 3};
    s.SelectChip(MadeUp(Method::Avr, 0, 512));
    EXPECT_EQ(s.Bufs.FlashBuffer, (std::vector<uint8_t>{1, 2, 3}));
    ASSERT_EQ(s.Bufs.EEPROMBuffer.size(), 512u);
    EXPECT_EQ(s.Bufs.EEPROMBuffer[511], 0xFF);
    for (auto c : {"FlashDataBoard", "MopenFlashFile", "MsaveFlash", "MFlash", "FlashToolBar"})
        EXPECT_FALSE(desk.view.Enabled(c)) << c;
    for (auto c : {"EEPROMdataBoard", "MopenEEPROMfile", "MsaveEEProm", "Meeprom", "EEPROMToolBar",
                   "Mfile", "Moper"})
        EXPECT_TRUE(desk.view.Enabled(c)) << c;
    EXPECT_EQ(desk.view.FlashShows, 0);
    EXPECT_EQ(desk.view.EEPROMShows, 1);
    EXPECT_EQ(&s.CurrentEngine(), s.EngineFor(Method::Avr));
    EXPECT_EQ(desk.view.Text(), (std::vector<std::string>{">>chip detected:MadeUp5"}));

    s.SelectChip(MadeUp(Method::Pic, 8, 0));
    EXPECT_EQ(std::vector<uint8_t>(s.Bufs.FlashBuffer.begin(), s.Bufs.FlashBuffer.begin() + 8),
              (std::vector<uint8_t>{0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F}));
    s.SelectChip(MadeUp(Method::PicA, 8, 0));
    EXPECT_EQ(std::vector<uint8_t>(s.Bufs.FlashBuffer.begin(), s.Bufs.FlashBuffer.begin() + 8),
              std::vector<uint8_t>(8, 0xFF));
}

TEST(SessionSearch, PortChoiceSearchesOnTheNewPortAtOnce) {
    Desk desk("sim:ATmega16", 1);
    desk.Start();
    Session& s = desk.S();
    s.ChoosePort(2);  // nothing at LPT2
    EXPECT_EQ(s.PortBase, 0x278);
    EXPECT_EQ(desk.view.Checked("Mp2"), true);
    EXPECT_EQ(desk.view.Checked("Mp1"), false);
    EXPECT_EQ(desk.view.CountLine(kNoAdapter), 1u);
    desk.view.Clear();
    s.ChoosePort(1);
    EXPECT_TRUE(desk.view.HasLine(">>chip detected:ATmega16"));
}

}  // namespace
}  // namespace tondrel::core::testsupport
