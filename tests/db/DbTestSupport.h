#pragma once
// Shared by the database tests: a database that must open, the value of a call that must
// succeed, and a fixture holding a fresh database.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "db/Database.h"
#include "tests/db/TempDir.h"
#include "tests/support/Results.h"

namespace tondrel::db {

inline void PrintTo(const Settings& s, std::ostream* os) {
    *os << "{launch " << s.Launch << ", run " << s.IsRunProgram << ", language " << s.Language
        << ", update " << s.IsUpdateFlash << '/' << s.IsUpdateEEProm << ", erase " << s.IsEraseAll
        << ", program " << s.IsProgramFlash << '/' << s.IsProgramEEProm << ", sound " << s.Sound
        << ", lpt " << s.Lpt << ", verify " << s.IsVerifyAfter << '}';
}

}  // namespace tondrel::db

namespace tondrel::testing {

using testsupport::Got;

inline std::unique_ptr<db::Database> OpenOk(const std::string& path) {
    return Got(db::Database::Open(path));
}

// A fresh database of first-start contents in a folder of its own.
class FreshDatabase : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(db_ = OpenOk(dir_.File("chip.db"))); }
    TempDir dir_;
    std::unique_ptr<db::Database> db_;
};

}  // namespace tondrel::testing
