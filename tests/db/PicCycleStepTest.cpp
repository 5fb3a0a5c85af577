// The schema step that gives a database made before the PIC rows' erase/program cycle the
// shipped values, leaving what the user set alone.
#include <gtest/gtest.h>

#include "db/Database.h"
#include "tests/db/DbTestSupport.h"
#include "tests/db/TempDir.h"

namespace tondrel::db {
namespace {

using tondrel::testing::Got;
using tondrel::testing::OpenOk;

TEST(DatabaseOpen, ThirdReleaseFileGainsThePicCycleTimesKeepingTheUsersValues) {
    tondrel::testing::TempDir dir;
    const std::string path = dir.File("chip.db");
    {
        auto db = OpenOk(path);
        ASSERT_TRUE(db);
        // As the third release left it: no PIC cycle known, plus the user's own changes.
        ASSERT_TRUE(db->Raw().Execute(R"sql(
            UPDATE chip SET "FLASH写入时间(us)" = 0 WHERE "芯片编程方法代号" IN (0, 6);
            UPDATE chip SET "FLASH写入时间(us)" = 12345 WHERE chipid = 47;
            UPDATE chip SET "芯片名称" = 'My 16F84' WHERE chipid = 7;
            INSERT INTO chip (chipid, "芯片编程方法代号", "芯片名称") VALUES (900, 0, 'My PIC');
            PRAGMA user_version = 3;)sql"));
    }
    auto db = OpenOk(path);
    ASSERT_TRUE(db);
    const struct {
        int32_t ChipId;
        int32_t CycleUs;
    } rows[] = {{6, 8000}, {48, 8000}, {53, 10000}, {47, 12345}, {7, 0}, {900, 0}};
    for (const auto& r : rows) {
        const auto chip = Got(db->ChipById(r.ChipId));
        ASSERT_TRUE(chip) << r.ChipId;
        EXPECT_EQ(chip->FlashWriteDelayUs, r.CycleUs) << chip->Name;
    }
}

}  // namespace
}  // namespace tondrel::db
