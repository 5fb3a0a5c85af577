// Start-up and shut-down with their settings, the language state, the download modes and the
// external tools.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/core/SessionTestSupport.h"

namespace tondrel::core::testsupport {
namespace {

TEST(SessionSettings, RoundTripWithLpt2AndTheFirstLanguageChoice) {
    Desk desk("sim:ATmega16");
    ASSERT_TRUE(desk.database->SaveSettings(0, true, true, false, true, false, true, 2));
    desk.view.LanguageChoice = 2;
    desk.Start();
    Session& s = desk.S();
    EXPECT_EQ(desk.view.LanguageAsked, 1);
    EXPECT_TRUE(s.Mchinese());
    EXPECT_FALSE(s.Menglish());
    EXPECT_EQ(s.PortBase, 0x278);
    EXPECT_EQ(desk.view.Checked("Mp2"), true);
    EXPECT_EQ(desk.view.Checked("Mp1"), false);
    EXPECT_EQ(desk.view.Checked("Mp3"), false);
    EXPECT_TRUE(s.isUpdateFlashFile);
    EXPECT_FALSE(s.isUpdateEEPROMfile);
    EXPECT_FALSE(s.isWriteFlash);
    // The bench opened for "the stored LPT" sits on LPT2, so the start found the adapter.
    EXPECT_EQ(desk.ports->HomeBase(), 0x278);
    EXPECT_EQ(desk.view.Label("ispstatus"), ">>编程器状态----单片机下载状态");

    s.isWriteFlash = true;
    s.Msound = false;
    ASSERT_TRUE(s.SaveSettings());
    const db::Settings stored = *desk.database->ReadSettings();
    EXPECT_EQ(stored.Lpt, 2);
    EXPECT_EQ(stored.Language, 2);
    EXPECT_EQ(stored.IsProgramFlash, 1);
    EXPECT_EQ(stored.Sound, 0);
    EXPECT_EQ(stored.IsUpdateFlash, 1);
}

TEST(SessionSettings, StoredPortOutsideLpt1To3FallsBackToLpt1) {
    Desk desk("sim:ATmega16");
    ASSERT_TRUE(desk.database->SaveSettings(1, true, false, false, true, true, true, 7));
    desk.Start();
    EXPECT_EQ(desk.S().PortBase, 0x378);
    EXPECT_EQ(desk.view.Checked("Mp1"), true);
    EXPECT_EQ(desk.view.LanguageAsked, 0);
    EXPECT_TRUE(desk.S().Menglish());
    ASSERT_TRUE(desk.S().SaveSettings());
    EXPECT_EQ(desk.database->ReadSettings()->Lpt, 1);
}

TEST(SessionSettings, StartWaitsHalfASecondAndLeavesChipControlsOff) {
    Desk desk("sim:ATmega16");
    std::string error;
    ASSERT_TRUE(desk.S().Start(error));
    EXPECT_GE(desk.ports->GetClock().NowMs(), 500u);
    for (auto c :
         {"Mfile", "Moper", "FlashToolBar", "EEPROMToolBar", "FlashDataBoard", "EEPROMdataBoard"})
        EXPECT_FALSE(desk.view.Enabled(c)) << c;
    EXPECT_TRUE(desk.view.Enabled("MSearchChip"));  // the stored mode 1 offers the search
    EXPECT_EQ(desk.view.Text(),
              (std::vector<std::string>{
                  ">>progammer status: MCU！",
                  ">>please do not close this software when you use the third part software！"}));
}

TEST(SessionLanguage, BothItemsSwapAndMessagesFollowAtOnce) {
    Desk desk("sim:empty");
    desk.Start();
    Session& s = desk.S();
    ASSERT_TRUE(s.Menglish());
    s.SwapLanguage();
    EXPECT_TRUE(s.Mchinese());
    EXPECT_FALSE(s.Menglish());
    EXPECT_EQ(desk.view.Checked("Mchinese"), true);
    s.AutoSearch();
    EXPECT_EQ(desk.view.Text().back(), ">>没有检测到可支持的芯片!");
    s.SwapLanguage();
    s.AutoSearch();
    EXPECT_EQ(desk.view.Text().back(), ">>no supported chip found!");
    s.SetLanguageCode(9);  // not a language: nothing changes
    EXPECT_TRUE(s.Menglish());
}

TEST(SessionLanguage, LanguageDialogClosedWithoutAChoiceThenSwapped) {
    // English is shown until a choice; the swap must tick exactly one item, and the next start
    // asks again because nothing was chosen.
    Desk desk("sim:empty");
    desk.view.LanguageChoice = 0;
    desk.Start();
    Session& s = desk.S();
    EXPECT_EQ(s.CurrentLanguage(), Language::English);
    EXPECT_FALSE(s.Mchinese() || s.Menglish());
    s.SwapLanguage();
    EXPECT_TRUE(s.Mchinese());
    EXPECT_FALSE(s.Menglish());
    EXPECT_EQ(desk.view.Checked("Menglish"), false);
}

struct ModeCase {
    int Mode;
    int Code;
    const char* English;
    const char* Chinese;
};

TEST(SessionModes, EachModeSendsItsCodeStoresLaunchAndSaysSo) {
    const ModeCase cases[] = {
        {1, 1, ">>progammer status: MCU！", ">>编程器状态已经切换到 单片机 下载状态！"},
        {2, 1, ">>progammer status: Altera ！", ">>编程器状态已经切换到 Altera 下载状态！"},
        {3, 3, ">>progammer status: Xilinx！", ">>编程器状态已经切换到 Xilinx 下载状态！"},
        {4, 8, ">>progammer status: Lattice！", ">>编程器状态已经切换到 Lattice 下载状态！"},
        {5, 11, ">>progammer status: Willem EPROM3！",
         ">>编程器状态已经切换到<多功能编程器>下载状态！"},
        {6, 10, ">>progammer status: ARM9 ！", ">>编程器状态已经切换到 ARM 下载状态！"},
        {7, 9, ">>progammer status: Msp430！", ">>编程器状态已经切换到 Msp430下载状态！"},
    };
    Desk desk("sim:ATmega16");
    desk.Start();
    Session& s = desk.S();
    for (const ModeCase& c : cases) {
        for (bool chinese : {false, true}) {
            s.SetLanguageCode(chinese ? 2 : 1);
            desk.view.Clear();
            s.SwitchMode(c.Mode);
            EXPECT_EQ(desk.ports->GetBench()->DownloadMode(), c.Code) << c.Mode;
            EXPECT_EQ(desk.database->ReadSettings()->Launch, c.Mode);
            const std::string warning =
                chinese ? ">>在使用第三方软件的过程中，请不要关闭本软件！"
                        : ">>please do not close this software when you use the third part "
                          "software！";
            EXPECT_EQ(desk.view.Text(),
                      (std::vector<std::string>{chinese ? c.Chinese : c.English, warning}));
            EXPECT_EQ(desk.view.Enabled("MSearchChip"), c.Mode == 1) << c.Mode;
            EXPECT_FALSE(desk.view.Enabled("Moper"));
        }
    }
    EXPECT_EQ(desk.view.Label("ispstatus"), ">>编程器状态----Msp430下载状态");
    s.SetLanguageCode(1);
    s.SwitchMode(6);
    EXPECT_EQ(desk.view.Label("ispstatus"), ">>progammer status:----ARM9");
}

TEST(SessionModes, StartUpRestoresTheStoredModeEvenOneWithoutControl) {
    Desk desk("sim:ATmega16");
    ASSERT_TRUE(desk.database->SetLaunch(7));
    desk.Start();
    EXPECT_EQ(desk.ports->GetBench()->DownloadMode(), 9);
    EXPECT_FALSE(desk.view.Enabled("MSearchChip"));

    Desk none("sim:none");
    ASSERT_TRUE(none.database->SetLaunch(3));
    none.Start();
    EXPECT_EQ(none.database->ReadSettings()->Launch, 3);
    EXPECT_EQ(none.ports->GetBench()->DownloadMode(), 0);
}

TEST(SessionModes, LaunchesTheStoredToolDetachedAndWithoutAShell) {
    Desk desk("sim:ATmega16");
    desk.Start();
    Session& s = desk.S();
    const std::string marker = desk.dir.File("ran; echo injected");
    const std::string tool = desk.dir.File("tool.sh");
    std::ofstream(tool) << "#!/bin/sh\ntouch \"$0.ran\"\n";
    ::chmod(tool.c_str(), 0755);

    desk.view.ToolPath = tool;
    EXPECT_TRUE(s.SetToolPath(3));
    EXPECT_EQ(desk.view.Informs, (std::vector<std::string>{"setting successfully！"}));
    EXPECT_EQ(*desk.database->ToolPath("xilinx"), tool);
    EXPECT_TRUE(s.SetToolPath(5, marker));
    EXPECT_EQ(*desk.database->ToolPath("EEProm"), marker);  // stored as "eeprom", found either way

    s.SwitchMode(3);  // launch option off: nothing starts
    s.ToggleRunProgram();
    EXPECT_EQ(desk.database->ReadSettings()->IsRunProgram, 1);
    s.SwitchMode(3);
    bool ran = false;
    for (int i = 0; i < 200 && !ran; ++i) {
        ran = std::filesystem::exists(tool + ".ran");
        if (!ran) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(ran);

    // A path that is not a program is reported, and the switch goes on.
    desk.view.Clear();
    s.SwitchMode(5);
    ASSERT_FALSE(desk.view.Text().empty());
    EXPECT_EQ(desk.view.Text()[0].rfind(">>cannot start " + marker, 0), 0u) << desk.view.Text()[0];
    EXPECT_EQ(desk.ports->GetBench()->DownloadMode(), 11);
    EXPECT_FALSE(std::filesystem::exists(desk.dir.File("injected")));

    // No path stored: nothing is said.
    desk.view.Clear();
    s.SwitchMode(4);
    EXPECT_EQ(desk.view.Text().size(), 2u);
    s.ToggleRunProgram();
    EXPECT_EQ(desk.database->ReadSettings()->IsRunProgram, 0);
}

TEST(SessionModes, ResetTouchesNothingBeforeAChipIsChosen) {
    auto owned = std::make_unique<RecordingSet>();
    RecordingSet& set = *owned;
    Desk desk(std::move(owned));
    set.Port.ClearLog();
    desk.S().ResetTarget();
    EXPECT_EQ(set.Port.Accesses(), 0u);
}

TEST(SessionSettings, StoresThatFailAreShownInABox) {
    Desk desk("sim:ATmega16");
    desk.Start();
    Session& s = desk.S();
    // Every store of a setting fails from here on.
    ASSERT_TRUE(desk.database->Raw().Execute("DROP TABLE settings"));
    desk.view.Clear();
    s.SwitchMode(3);
    ASSERT_EQ(desk.view.Informs.size(), 1u) << ::testing::PrintToString(desk.view.Board);
    EXPECT_NE(desk.view.Informs[0].find("cannot store the download mode"), std::string::npos);
    desk.view.Clear();
    EXPECT_FALSE(s.SaveSettings());
    ASSERT_EQ(desk.view.Informs.size(), 1u);
    EXPECT_NE(desk.view.Informs[0].find("cannot save the settings"), std::string::npos);
}

}  // namespace
}  // namespace tondrel::core::testsupport
