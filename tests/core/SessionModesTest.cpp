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
    const SessionState& st = desk.view.State;
    EXPECT_EQ(desk.view.LanguageAsked, 1);
    EXPECT_EQ(st.LanguageCode, 2);
    EXPECT_EQ(s.PortBase(), 0x278);
    EXPECT_EQ(st.Lpt, 2);
    EXPECT_TRUE(st.Plan.UpdateFlashFile);
    EXPECT_FALSE(st.Plan.UpdateEEPROMFile);
    EXPECT_FALSE(st.Plan.WriteFlash);
    // The bench opened for "the stored LPT" sits on LPT2, so the start found the adapter.
    EXPECT_EQ(desk.ports->HomeBase(), 0x278);
    EXPECT_EQ(ModeStatusOf(st), Msg("CoreModeState1"));
    EXPECT_EQ(ModeStatusOf(st).Text(Language::Chinese), ">>编程器状态----单片机下载状态");

    desk.Plan([](AutoPlan& p) { p.WriteFlash = true; });
    s.SetSound(false);
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
    EXPECT_EQ(desk.S().PortBase(), 0x378);
    EXPECT_EQ(desk.view.State.Lpt, 1);
    EXPECT_EQ(desk.view.LanguageAsked, 0);
    EXPECT_EQ(desk.view.State.LanguageCode, 1);
    ASSERT_TRUE(desk.S().SaveSettings());
    EXPECT_EQ(desk.database->ReadSettings()->Lpt, 1);
}

TEST(SessionSettings, StartWaitsForTheLinesAndLeavesChipControlsOff) {
    Desk desk("sim:ATmega16");
    ASSERT_TRUE(desk.S().Start());
    EXPECT_GE(desk.ports->GetClock().NowMs(), 50u);
    EXPECT_FALSE(desk.view.State.ChipReady);
    EXPECT_TRUE(desk.view.State.SearchAllowed());  // the stored mode 1 offers the search
    EXPECT_EQ(desk.view.Keys(), (std::vector<std::string>{"CoreModeSwitched1", "CoreModeWarning"}));
    EXPECT_EQ(desk.view.Text(),
              (std::vector<std::string>{
                  ">>progammer status: MCU！",
                  ">>please do not close this software when you use the third part software！"}));
}

TEST(SessionLanguage, BothItemsSwapAndMessagesFollowAtOnce) {
    Desk desk("sim:empty");
    desk.Start();
    Session& s = desk.S();
    ASSERT_EQ(desk.view.State.LanguageCode, 1);
    s.SwapLanguage();
    EXPECT_EQ(desk.view.State.LanguageCode, 2);
    (void)s.AutoSearch();
    EXPECT_EQ(desk.view.Text().back(), ">>没有检测到可支持的芯片!");
    s.SwapLanguage();
    (void)s.AutoSearch();
    EXPECT_EQ(desk.view.Text().back(), ">>no supported chip found!");
    s.SetLanguageCode(9);  // not a language: nothing changes
    EXPECT_EQ(desk.view.State.LanguageCode, 1);
}

TEST(SessionLanguage, LanguageDialogClosedWithoutAChoiceThenSwapped) {
    // English is shown until a choice; the swap must tick exactly one item, and the next start
    // asks again because nothing was chosen.
    Desk desk("sim:empty");
    desk.view.LanguageChoice = 0;
    desk.Start();
    Session& s = desk.S();
    EXPECT_EQ(desk.view.State.Lang(), Language::English);
    EXPECT_EQ(desk.view.State.LanguageCode, 0);
    s.SwapLanguage();
    EXPECT_EQ(desk.view.State.LanguageCode, 2);
}

TEST(SessionModes, EachModeSendsItsCodeStoresLaunchAndSaysSo) {
    const int codes[] = {1, 1, 3, 8, 11, 10, 9};  // the adapter's control code of modes 1..7
    Desk desk("sim:ATmega16");
    desk.Start();
    Session& s = desk.S();
    for (int mode = 1; mode <= 7; ++mode) {
        desk.view.Clear();
        EXPECT_TRUE(s.SwitchMode(mode));
        EXPECT_EQ(desk.ports->GetBench()->DownloadMode(), codes[mode - 1]) << mode;
        EXPECT_EQ(desk.database->ReadSettings()->Launch, mode);
        EXPECT_EQ(desk.view.Keys(),
                  (std::vector<std::string>{"CoreModeSwitched" + std::to_string(mode),
                                            "CoreModeWarning"}));
        EXPECT_EQ(ModeStatusOf(desk.view.State).Key, "CoreModeState" + std::to_string(mode));
        EXPECT_EQ(desk.view.State.SearchAllowed(), mode == 1) << mode;
        EXPECT_FALSE(desk.view.State.ChipReady);
    }
}

TEST(SessionModes, StartUpRestoresTheStoredModeEvenOneWithoutControl) {
    Desk desk("sim:ATmega16");
    ASSERT_TRUE(desk.database->SetLaunch(7));
    desk.Start();
    EXPECT_EQ(desk.ports->GetBench()->DownloadMode(), 9);
    EXPECT_FALSE(desk.view.State.SearchAllowed());

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
    EXPECT_EQ(desk.view.InformsGiven, (std::vector<Message>{Msg("CoreToolPathSet")}));
    EXPECT_EQ(*desk.database->ToolPath("xilinx"), tool);
    EXPECT_TRUE(s.SetToolPath(5, marker));
    EXPECT_EQ(*desk.database->ToolPath("EEProm"), marker);  // stored as "eeprom", found either way

    (void)s.SwitchMode(3);  // launch option off: nothing starts
    s.SetRunProgram(true);
    EXPECT_EQ(desk.database->ReadSettings()->IsRunProgram, 1);
    (void)s.SwitchMode(3);
    bool ran = false;
    for (int i = 0; i < 200 && !ran; ++i) {
        ran = std::filesystem::exists(tool + ".ran");
        if (!ran) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(ran);

    // A path that is not a program is reported, and the switch goes on.
    desk.view.Clear();
    (void)s.SwitchMode(5);
    ASSERT_FALSE(desk.view.Lines().empty());
    EXPECT_EQ(desk.view.Lines()[0].Key, "CoreToolStartFail");
    EXPECT_EQ(desk.view.Lines()[0].Args.front(), marker);
    EXPECT_EQ(desk.ports->GetBench()->DownloadMode(), 11);
    EXPECT_FALSE(std::filesystem::exists(desk.dir.File("injected")));

    // No path stored: nothing is said.
    desk.view.Clear();
    (void)s.SwitchMode(4);
    EXPECT_EQ(desk.view.Keys().size(), 2u);
    s.SetRunProgram(false);
    EXPECT_EQ(desk.database->ReadSettings()->IsRunProgram, 0);
}

TEST(SessionModes, ResetTouchesNothingBeforeAChipIsChosen) {
    auto owned = std::make_unique<RecordingSet>();
    RecordingSet& set = *owned;
    Desk desk(std::move(owned));
    set.Port.ClearLog();
    (void)desk.S().ResetTarget();
    EXPECT_EQ(set.Port.Accesses(), 0u);
}

TEST(SessionSettings, StoresThatFailAreShownInABox) {
    Desk desk("sim:ATmega16");
    desk.Start();
    Session& s = desk.S();
    // Every store of a setting fails from here on.
    ASSERT_TRUE(desk.database->Raw().Execute("DROP TABLE settings"));
    desk.view.Clear();
    (void)s.SwitchMode(3);
    ASSERT_EQ(desk.view.InformsGiven.size(), 1u) << ::testing::PrintToString(desk.view.Board);
    EXPECT_EQ(desk.view.InformsGiven[0].Key, "CoreModeSaveFail");
    desk.view.Clear();
    EXPECT_FALSE(s.SaveSettings());
    ASSERT_EQ(desk.view.InformsGiven.size(), 1u);
    EXPECT_EQ(desk.view.InformsGiven[0].Key, "CoreSettingsSaveFail");
}

}  // namespace
}  // namespace tondrel::core::testsupport
