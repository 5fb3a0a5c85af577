// Per-chip speed, the settings row and the external tool paths.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/db/DbTestSupport.h"

namespace tondrel::db {
namespace {

using tondrel::testing::Got;

class Stored : public tondrel::testing::FreshDatabase {
  protected:
    int SpeedRows(int chipId) {
        Statement s(db_->Raw(), "select count(*) from speed where chipid = ?1");
        s.Bind(1, chipId);
        EXPECT_EQ(s.Step(), Statement::StepResult::Row);
        return s.Int(0);
    }
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(Stored, SpeedIsInsertedOnceThenUpdated) {
    EXPECT_FALSE(Got(db_->ReadSpeed(5)));
    ASSERT_TRUE(db_->WriteSpeed(5, 25000));
    EXPECT_EQ(Got(db_->ReadSpeed(5)), 25000);
    ASSERT_TRUE(db_->WriteSpeed(5, 0));
    EXPECT_EQ(Got(db_->ReadSpeed(5)), 0);
    EXPECT_EQ(SpeedRows(5), 1);
    // Other chips are untouched.
    EXPECT_FALSE(Got(db_->ReadSpeed(27)));
    ASSERT_TRUE(db_->WriteSpeed(27, 300000));
    EXPECT_EQ(Got(db_->ReadSpeed(5)), 0);
    EXPECT_EQ(Got(db_->ReadSpeed(27)), 300000);
}

TEST(SettingsFlags, OnlyLowByteOneCountsAsOn) {
    EXPECT_TRUE(IsOn(1));
    EXPECT_FALSE(IsOn(0));
    EXPECT_FALSE(IsOn(2));
    EXPECT_FALSE(IsOn(-1));
    EXPECT_TRUE(IsOn(0x101));  // only the low 8 bits are compared
}

TEST_F(Stored, StoredFlagsOfTwoOrMinusOneReadBackAsOff) {
    ASSERT_TRUE(
        db_->Raw().Execute("update settings set sound = 2, isEraseAll = -1, isUpdateFlash = 1"));
    const Settings s = Got(db_->ReadSettings());
    EXPECT_EQ(s.Sound, 2);
    EXPECT_FALSE(IsOn(s.Sound));
    EXPECT_EQ(s.IsEraseAll, -1);
    EXPECT_FALSE(IsOn(s.IsEraseAll));
    EXPECT_TRUE(IsOn(s.IsUpdateFlash));
}

TEST_F(Stored, SettingsWithoutARowReadAsZero) {
    ASSERT_TRUE(db_->Raw().Execute("delete from settings"));
    const Settings s = Got(db_->ReadSettings());
    for (int v : {s.Launch, s.IsRunProgram, s.Language, s.IsUpdateFlash, s.IsUpdateEEProm,
                  s.IsEraseAll, s.IsProgramFlash, s.IsProgramEEProm, s.Sound, s.Lpt}) {
        EXPECT_EQ(v, 0);
    }
    // Saving puts the row back rather than losing the user's choices.
    ASSERT_TRUE(db_->SaveSettings(1, true, false, false, true, true, false, 2));
    EXPECT_EQ(Got(db_->ReadSettings()).Lpt, 2);
    ASSERT_TRUE(db_->Raw().Execute("delete from settings"));
    ASSERT_TRUE(db_->SetLaunch(6));
    EXPECT_EQ(Got(db_->ReadSettings()).Launch, 6);
}

TEST(SettingsUpdateText, EightLinesAsTheProgramWritesThem) {
    const auto on = Lines(SettingsUpdateText(1, true, true, true, true, true, true, 1));
    EXPECT_EQ(on,
              (std::vector<std::string>{"update settings set language=1,", "sound=1,",
                                        "isupdateFlash=1,", "isUpdateEEProm=1,", "isEraseAll=1,",
                                        "isProgramFlash=1,", "isProgramEEProm=1,", "lpt=1"}));
    const auto off = Lines(SettingsUpdateText(2, false, false, false, false, false, false, 3));
    EXPECT_EQ(off,
              (std::vector<std::string>{"update settings set language=2,", "sound=0,",
                                        "isupdateFlash=0,", "isupdateEEProm=0,", "isEraseall=0,",
                                        "isProgramFlash=0,", "isProgramEEProm=0,", "lpt=3"}));
    for (int lpt = 1; lpt <= 3; ++lpt) {
        const auto lines = Lines(SettingsUpdateText(2, true, false, true, false, true, false, lpt));
        ASSERT_EQ(lines.size(), 8u);
        EXPECT_EQ(lines[7], "lpt=" + std::to_string(lpt));
        EXPECT_EQ(lines[3], "isUpdateEEProm=1,");
        EXPECT_EQ(lines[4], "isEraseall=0,");
    }
}

TEST_F(Stored, SaveSettingsStoresEveryValueAndLeavesLaunchAlone) {
    ASSERT_TRUE(db_->SetLaunch(3));
    for (int lpt = 1; lpt <= 3; ++lpt) {
        ASSERT_TRUE(db_->SaveSettings(2, false, true, false, true, false, true, lpt));
        EXPECT_EQ(Got(db_->ReadSettings()), (Settings{.Launch = 3,
                                                      .Language = 2,
                                                      .IsUpdateFlash = 1,
                                                      .IsEraseAll = 1,
                                                      .IsProgramEEProm = 1,
                                                      .Lpt = lpt}));
    }
    ASSERT_TRUE(db_->SetRunProgram(true));
    ASSERT_TRUE(db_->SetRunProgram(false));
    ASSERT_TRUE(db_->SetRunProgram(true));
    EXPECT_EQ(Got(db_->ReadSettings()).IsRunProgram, 1);
    EXPECT_EQ(Got(db_->ReadSettings()).Language, 2);
}

TEST_F(Stored, ToolPathKeysIgnoreLetterCaseAndPathsMayHoldQuotes) {
    EXPECT_EQ(Got(db_->ToolPath("EEProm")), "");
    const std::string quoted = "/home/o'neil/bin/willem \"eprom3\".exe";
    ASSERT_TRUE(db_->SetToolPath("eeprom", quoted));
    EXPECT_EQ(Got(db_->ToolPath("EEProm")), quoted);
    ASSERT_TRUE(db_->SetToolPath("msp430", "/opt/msp/flash"));
    EXPECT_EQ(Got(db_->ToolPath("Msp430")), "/opt/msp/flash");
    ASSERT_TRUE(db_->SetToolPath("ARM", "/opt/arm/tool"));
    EXPECT_EQ(Got(db_->ToolPath("arm")), "/opt/arm/tool");
    // One row per key still: the differing case updated, it did not add.
    Statement count(db_->Raw(), "select count(*) from path");
    ASSERT_EQ(count.Step(), Statement::StepResult::Row);
    EXPECT_EQ(count.Int(0), 7);
    // The quote did not break out of its value: the other rows are untouched.
    EXPECT_EQ(Got(db_->ToolPath("xilinx")), "");
}

TEST_F(Stored, UnknownToolKeyIsAFailureNotASilentSuccess) {
    EXPECT_EQ(db_->SetToolPath("quartus", "/opt/q"), Status::Error("DbNoToolKey", "quartus"));
    EXPECT_EQ(Got(db_->ToolPath("quartus")), "");
    EXPECT_FALSE(db_->SetToolPath("' or name like '%", "/tmp/evil"));
    EXPECT_EQ(Got(db_->ToolPath("mcu")), "");
}

}  // namespace
}  // namespace tondrel::db
