// The catalogue and the simulated bench describe the same AVRs: a chip chosen from the list
// must be the chip the bench builds under that name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "db/Database.h"
#include "sim/AvrChip.h"

namespace {

TEST(CatalogueAndBench, EveryAvrRowHasASimulatedChipWithItsSignatureAndSizes) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("tondrel-catalogue-sim-" + std::to_string(::getpid()) + ".db");
    std::filesystem::remove(file);
    auto db = tondrel::db::Database::Open(file.string());
    ASSERT_TRUE(db) << db.Error().Text(tondrel::Language::English);
    int avrs = 0;
    for (const auto& row : (*db)->ListChips().ValueOr({})) {
        if (row.MethodCode != tondrel::Method::Avr) continue;
        ++avrs;
        SCOPED_TRACE(row.Name);
        std::string upper = row.Name;
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        const tondrel::sim::AvrFacts* facts = tondrel::sim::FindAvrFacts(upper);
        ASSERT_NE(facts, nullptr);
        char signature[7];
        std::snprintf(signature, sizeof signature, "%02X%02X%02X", facts->Signature[0],
                      facts->Signature[1], facts->Signature[2]);
        EXPECT_EQ(row.Signature, signature);
        EXPECT_EQ(row.FlashSize, facts->FlashSize);
        EXPECT_EQ(row.EEPROMSize, facts->EepromSize);
        EXPECT_EQ(row.PageSize, facts->PageSize);
        // A known erase time is the worst case the chip may take, never less.
        if (row.EraseDelayMs > 0 && facts->ChipEraseUs > 0) {
            EXPECT_GE(static_cast<uint32_t>(row.EraseDelayMs) * 1000, facts->ChipEraseUs);
        }
        EXPECT_EQ(row.FlashReadback, facts->FlashReadback);
        EXPECT_EQ(row.EepromReadback, facts->EepromReadback);
        EXPECT_EQ(row.CalibrationCount, facts->CalCount);
    }
    EXPECT_EQ(avrs, 163);
    db.Value().reset();
    std::filesystem::remove(file);
}

}  // namespace
