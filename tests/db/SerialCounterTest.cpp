// Serial-number counters: a number per chip, numbers given back reused, and no number twice
// between two programs on one database.
#include <gtest/gtest.h>

#include "tests/db/DbTestSupport.h"

namespace tondrel::db {
namespace {

using tondrel::testing::Got;

class SerialCounter : public tondrel::testing::FreshDatabase {};

TEST_F(SerialCounter, CountsPerProjectAndReusesNumbersGivenBack) {
    EXPECT_EQ(Got(db_->ReserveSerial("/fw/a.hex", 100, 5)), 100);
    EXPECT_EQ(Got(db_->ReserveSerial("/fw/a.hex", 100, 5)), 105);
    // Another project has its own counter; a start given later does not move an existing one.
    EXPECT_EQ(Got(db_->ReserveSerial("/fw/b.hex", 7, 1)), 7);
    EXPECT_EQ(Got(db_->ReserveSerial("/fw/a.hex", 0, 5)), 110);
    // A chip that failed gave its number back: the next chip takes it, then the count goes on.
    ASSERT_TRUE(db_->ReleaseSerial("/fw/a.hex", 105));
    EXPECT_EQ(Got(db_->ReserveSerial("/fw/a.hex", 0, 5)), 105);
    EXPECT_EQ(Got(db_->ReserveSerial("/fw/a.hex", 0, 5)), 115);
    // A project name holding quotes is a name like any other.
    EXPECT_EQ(Got(db_->ReserveSerial("/fw/it's \"x\".hex", 1, 1)), 1);
}

TEST_F(SerialCounter, TwoProgramsNeverTakeTheSameNumberAndALockIsAFailure) {
    auto other = tondrel::testing::OpenOk(dir_.File("chip.db"));
    ASSERT_TRUE(other);
    std::vector<int64_t> taken;
    for (int i = 0; i < 10; ++i) {
        taken.push_back(Got(db_->ReserveSerial("p", 0, 1)));
        taken.push_back(Got(other->ReserveSerial("p", 0, 1)));
    }
    for (int64_t i = 0; i < 20; ++i) EXPECT_EQ(taken[static_cast<size_t>(i)], i);
    // A program that holds the write lock past the busy time-out: no number, and none lost.
    ASSERT_TRUE(other->Raw().Execute("BEGIN IMMEDIATE"));
    const auto blocked = db_->ReserveSerial("p", 0, 1);
    ASSERT_FALSE(blocked.Ok());
    EXPECT_EQ(blocked.Error().Key, "DbSerialReserve");
    ASSERT_TRUE(other->Raw().Execute("ROLLBACK"));
    EXPECT_EQ(Got(db_->ReserveSerial("p", 0, 1)), 20);
}

}  // namespace
}  // namespace tondrel::db
