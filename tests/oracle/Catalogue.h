#pragma once
// The chip catalogue as shipped, read through the program's own database code, so that every
// row (new ones included) becomes one oracle case.
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "common/ChipRecord.h"
#include "db/Database.h"
#include "tests/db/TempDir.h"

namespace tondrel {
// gtest names a failing case's chip instead of dumping its bytes.
inline void PrintTo(const ChipRecord& c, std::ostream* os) {
    *os << c.Name;
}
}  // namespace tondrel

namespace tondrel::oracle {

inline const std::vector<ChipRecord>& CatalogueRows() {
    static const std::vector<ChipRecord> rows = [] {
        tondrel::testing::TempDir dir;
        auto db = db::Database::Open(dir.File("chip.db"));
        return db ? (*db)->ListChips().ValueOr({}) : std::vector<ChipRecord>{};
    }();
    return rows;
}

inline std::vector<ChipRecord> CatalogueRows(bool (*keep)(const ChipRecord&)) {
    std::vector<ChipRecord> out;
    for (const ChipRecord& c : CatalogueRows())
        if (keep(c)) out.push_back(c);
    return out;
}

// A gtest parameter name from a chip name ("PIC16F877A" stays, anything else becomes '_').
inline std::string CaseName(const std::string& chip) {
    std::string s;
    for (char c : chip) s += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return s;
}

inline std::string Lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace tondrel::oracle
