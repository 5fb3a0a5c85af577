// The session finding its adapter and its chip: the identification answers, the Altera cable
// banner, the chip search in method-code order, the manual choice, the port choice.
#include <algorithm>

#include "tests/core/SessionTestSupport.h"

namespace tondrel::core::testsupport {
namespace {

std::vector<std::string> LabelKeys(const SessionState& state) {
    const AdapterLabels l = LabelsOf(state.Adapter, state.AdapterChecked);
    return {l.Name.Key, l.Version.Key, l.Detail.Key};
}

TEST(SessionAdapter, IdentificationAnswersAndTheirLabels) {
    struct Case {
        uint8_t Raw;  // status register as the port reads it (bit 7 inverted)
        std::vector<std::string> Labels;
        AdapterKind Kind;
        int Firmware;
    };
    const Case cases[] = {
        {0x80, {"CoreHwBrisk", "CoreHwVersion10", "CoreHwKernel10"}, AdapterKind::Gen1, 1},
        {0x88, {"CoreHwBrisk", "CoreHwVersion10", "CoreHwKernel20"}, AdapterKind::Gen1, 2},
        {0x20, {"CoreHwRegal", "CoreHwVersion20", "CoreHwKernel10"}, AdapterKind::Gen2, 1},
    };
    for (const Case& c : cases) {
        auto set = std::make_unique<RecordingSet>();
        set->Port.SetStatusRaw(c.Raw);
        Desk desk(std::move(set));
        desk.Start();
        auto found = desk.S().DetectHardware();
        ASSERT_TRUE(found) << int(c.Raw);
        EXPECT_EQ(found->Kind, c.Kind);
        EXPECT_EQ(found->Firmware, c.Firmware);
        EXPECT_EQ(desk.view.State.Adapter, *found);
        EXPECT_EQ(LabelKeys(desk.view.State), c.Labels);
        EXPECT_TRUE(desk.view.Messages.empty());
    }

    // 0xA8 is no generation: the cable test runs, finds nothing, and says so.
    auto set = std::make_unique<RecordingSet>();
    set->Port.SetStatusRaw(0x28);
    Desk desk(std::move(set));
    desk.Start();
    const auto missing = desk.S().DetectHardware();
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.Error().Key, "CoreHwDisconnected");
    EXPECT_EQ(desk.view.Messages, (std::vector<Message>{{}, Msg("CoreHwDisconnected")}));
    const SessionState& st = desk.view.State;
    EXPECT_EQ(ModeStatusOf(st).Key, "CoreHwNotLaunched");
    EXPECT_EQ(LabelKeys(st), (std::vector<std::string>{"CoreHwUnknown", "", ""}));
    EXPECT_EQ(st.Adapter.Kind, AdapterKind::None);
    EXPECT_FALSE(st.ChipReady);
    EXPECT_FALSE(st.SearchAllowed());
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
}

// At rest the adapter lets the target run: its reset line is not held after the program ends,
// nor after an operation that failed.
TEST(SessionAdapter, TheRestStateReleasesTheTarget) {
    Desk desk("sim:ATmega16");
    desk.StartAndFind();
    desk.Fill(Memory::Flash, 0, 0x40, 0x5A);
    desk.ChipModel().Faults.StuckAddress = 0x10;
    EXPECT_FALSE(desk.S().Write(Memory::Flash));
    EXPECT_FALSE(desk.ports->GetBench()->TargetConnected());
    ASSERT_TRUE(desk.S().SetTestPin(14, false));
    ASSERT_TRUE(desk.ports->GetBench()->TargetConnected());
    EXPECT_TRUE(desk.S().SaveSettings());
    EXPECT_FALSE(desk.ports->GetBench()->TargetConnected());
}

TEST(SessionAdapter, HandshakeBytesAndTheRestHandshakeAtShutDown) {
    auto owned = std::make_unique<RecordingSet>();
    RecordingSet& set = *owned;
    Desk desk(std::move(owned));
    desk.Start();
    set.Port.ClearLog();
    EXPECT_TRUE(desk.S().SaveSettings());
    // Logical control 14 leaves the port with bits 0, 1 and 3 inverted.
    std::vector<std::pair<uint16_t, uint8_t>> writes;
    for (const auto& e : set.Port.Events())
        if (e.Op == tondrel::testsupport::PortOp::Out) writes.emplace_back(e.Address, e.Arg);
    const std::vector<std::pair<uint16_t, uint8_t>> expected = {
        {0x37A, 14 ^ 0x0B}, {0x378, 0xAC}, {0x378, 0xAA}, {0x378, 0x00}, {0x37A, 0x0B}};
    EXPECT_EQ(writes, expected);
    // then pin 14 back high (control bit 1 cleared), the drivers off: the target is let go
    ASSERT_FALSE(set.Port.Events().empty());
    EXPECT_EQ(set.Port.Events().back().Op, tondrel::testsupport::PortOp::ClrBit);
    EXPECT_EQ(set.Port.Events().back().Address, 0x37A);
    EXPECT_EQ(desk.database->ReadSettings()->Lpt, 1);

    // A mode without a code is neither sent nor stored.
    set.Port.ClearLog();
    desk.view.Clear();
    const Status unknown = desk.S().SwitchMode(0);
    EXPECT_EQ(unknown.Key(), "CoreModeUnknown");
    EXPECT_EQ(desk.database->ReadSettings()->Launch, 1);
}

TEST(SessionAdapter, AlteraBannerOnTheFirstAndThe52ndRecognition) {
    Desk desk("sim:byteblaster");
    desk.Start();
    std::vector<int> shownAt;
    for (int n = 1; n <= 120; ++n) {
        desk.view.Clear();
        ASSERT_TRUE(desk.S().DetectHardware());
        if (desk.view.Said("CoreBannerRuleTop")) shownAt.push_back(n);
    }
    // Once in 51 recognitions (the start's own were the first).
    ASSERT_EQ(shownAt.size(), 2u);
    EXPECT_EQ(shownAt[1] - shownAt[0], 51);
    EXPECT_EQ(desk.view.State.Adapter, (AdapterInfo{AdapterKind::Altera, 0, "ByteBlaster"}));
    EXPECT_EQ(LabelKeys(desk.view.State),
              (std::vector<std::string>{"CoreHwAltera", "CoreHwVersion", "Verbatim"}));

    Desk mv("sim:byteblastermv");
    mv.view.LanguageChoice = 2;
    mv.Start();
    ASSERT_TRUE(mv.S().DetectHardware());
    EXPECT_EQ(mv.view.State.Adapter.Cable, "ByteBlasterMV");
    Desk first("sim:byteblastermv");
    first.view.LanguageChoice = 2;
    ASSERT_TRUE(first.S().Start());
    const std::vector<Message> banner = {
        {},
        Msg("CoreBannerRuleTop"),
        Msg("CoreBannerLine1"),
        Msg("CoreBannerLine2"),
        Msg("CoreBannerAddress", "file:///usr/share/tondrel/manual.html"),
        Msg("CoreBannerRuleBottom"),
    };
    ASSERT_GE(first.view.Messages.size(), banner.size());
    EXPECT_EQ(std::vector<Message>(first.view.Messages.begin(),
                                   first.view.Messages.begin() + banner.size()),
              banner);
    EXPECT_EQ(first.view.Board[1], "   " + std::string(72, '=') + " ");
}

TEST(SessionSearch, ProbesCodeZeroFirstAndFindsAt89s52UnderCodeOne) {
    Desk desk("sim:AT89S52");
    desk.Start();
    Session& s = desk.S();
    const auto found = s.AutoSearch();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Name, "AT89S52");
    EXPECT_EQ(s.Chip().CurrentChipName, "AT89S52");
    EXPECT_EQ(s.Chip().CurrentMethodCode, Method::At89s);
    EXPECT_EQ(desk.view.Lines(), (std::vector<Message>{Msg("CoreChipDetected", "AT89S52")}));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"detect"}));
    const SessionState& st = desk.view.State;
    EXPECT_EQ(st.ChipName, "AT89S52");
    EXPECT_TRUE(st.ChipReady);
    EXPECT_TRUE(st.HasFlash);
    EXPECT_FALSE(st.HasEEPROM);  // no EEPROM on this chip
    ASSERT_EQ(desk.Buf(Memory::Flash).size(), 8192u);
    EXPECT_TRUE(std::all_of(desk.Buf(Memory::Flash).begin(), desk.Buf(Memory::Flash).end(),
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(desk.view.FlashShows, 1);
    EXPECT_EQ(desk.ports->GetBench()->DownloadMode(), 1);
}

TEST(SessionSearch, NoAdapterOneMessageSearchStopsTwoErrorSounds) {
    Desk desk("sim:none");
    desk.Start();  // start-up already found nothing
    Session& s = desk.S();
    EXPECT_FALSE(s.AutoSearch());
    EXPECT_EQ(desk.view.Keys(), (std::vector<std::string>{"CoreHwDisconnected"}));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err", "err"}));
    EXPECT_FALSE(desk.view.State.ChipReady);
    EXPECT_EQ(ModeStatusOf(desk.view.State).Key, "CoreHwNotLaunched");

    // Without sound nothing plays.
    s.SetSound(false);
    desk.view.Clear();
    EXPECT_FALSE(s.AutoSearch());
    EXPECT_TRUE(desk.view.Sounds.empty());
}

TEST(SessionSearch, NoSupportedChipLeavesSearchUsable) {
    Desk desk("sim:empty");
    desk.Start();
    Session& s = desk.S();
    EXPECT_FALSE(s.AutoSearch());
    EXPECT_EQ(desk.view.Keys(), (std::vector<std::string>{"CoreNoChipFound"}));
    EXPECT_EQ(desk.view.Sounds, (std::vector<std::string>{"err"}));
    EXPECT_TRUE(desk.view.State.SearchAllowed());
    EXPECT_FALSE(desk.view.State.ChipReady);
    EXPECT_TRUE(desk.view.State.ChipName.empty());
}

TEST(SessionSelect, ChipWithoutFlashAndPicBlankFills) {
    Desk desk("sim:ATmega16");
    desk.Start();
    Session& s = desk.S();
    s.SelectChip(MadeUp(Method::Avr, 0, 512));
    EXPECT_TRUE(desk.Buf(Memory::Flash).empty());
    ASSERT_EQ(desk.Buf(Memory::EEPROM).size(), 512u);
    EXPECT_EQ(desk.Buf(Memory::EEPROM)[511], 0xFF);
    EXPECT_TRUE(desk.view.State.ChipReady);
    EXPECT_FALSE(desk.view.State.HasFlash);
    EXPECT_TRUE(desk.view.State.HasEEPROM);
    EXPECT_EQ(desk.view.FlashShows, 0);
    EXPECT_EQ(desk.view.EEPROMShows, 1);
    EXPECT_EQ(desk.view.Lines(), (std::vector<Message>{Msg("CoreChipDetected", "MadeUp5")}));

    // A chip without Flash leaves the Flash buffer as it was.
    s.SelectChip(MadeUp(Method::Avr, 8, 0));
    desk.Put(Memory::Flash, {1, 2, 3});
    s.SelectChip(MadeUp(Method::Avr, 0, 512));
    EXPECT_EQ(
        std::vector<uint8_t>(desk.Buf(Memory::Flash).begin(), desk.Buf(Memory::Flash).begin() + 3),
        (std::vector<uint8_t>{1, 2, 3}));

    s.SelectChip(MadeUp(Method::Pic, 8, 0));
    EXPECT_EQ(
        std::vector<uint8_t>(desk.Buf(Memory::Flash).begin(), desk.Buf(Memory::Flash).begin() + 8),
        (std::vector<uint8_t>{0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F}));
    s.SelectChip(MadeUp(Method::PicA, 8, 0));
    EXPECT_EQ(
        std::vector<uint8_t>(desk.Buf(Memory::Flash).begin(), desk.Buf(Memory::Flash).begin() + 8),
        std::vector<uint8_t>(8, 0xFF));
}

TEST(SessionSearch, PortChoiceSearchesOnTheNewPortAtOnce) {
    Desk desk("sim:ATmega16", 1);
    desk.Start();
    Session& s = desk.S();
    s.ChoosePort(2);  // nothing at LPT2
    EXPECT_EQ(s.PortBase(), 0x278);
    EXPECT_EQ(desk.view.State.Lpt, 2);
    EXPECT_EQ(desk.view.CountSaid("CoreHwDisconnected"), 1u);
    desk.view.Clear();
    s.ChoosePort(1);
    EXPECT_TRUE(desk.view.Said(Msg("CoreChipDetected", "ATmega16")));
}

}  // namespace
}  // namespace tondrel::core::testsupport
