// The manual's chip list against the catalogue: a chip the program serves but the manual does
// not list (or lists with another signature) is a fault of the generator or a stale manual.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/Version.h"
#include "db/Database.h"
#include "tests/db/TempDir.h"

namespace tondrel {
namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The text between the markers of one generated section.
std::string Section(const std::string& html, const std::string& name) {
    const std::string begin = "<!-- generated:" + name + " -->";
    const size_t b = html.find(begin);
    const size_t e = html.find("<!-- end generated:" + name + " -->");
    if (b == std::string::npos || e == std::string::npos || e < b) return {};
    return html.substr(b + begin.size(), e - b - begin.size());
}

// The table row of one chip, empty when there is none.
std::string Row(const std::string& section, const std::string& name) {
    const size_t b = section.find("<tr id=\"chip-" + name + "\">");
    if (b == std::string::npos) return {};
    return section.substr(b, section.find("</tr>", b) - b);
}

TEST(Manual, ListsEveryCatalogueChipWithItsSignatureAndConfigurationView) {
    tondrel::testing::TempDir dir;
    auto db = db::Database::Open(dir.File("chip.db"));
    ASSERT_TRUE(db) << db.Error().Text(Language::English);
    const auto chips = (*db)->ListChips().ValueOr({});
    ASSERT_FALSE(chips.empty());

    for (const std::string& path : {std::string(TONDREL_MANUAL_OUTPUT),
                                    std::string(TONDREL_SOURCE_ROOT "/docs/manual.html")}) {
        SCOPED_TRACE(path);
        const std::string list = Section(Read(path), "chips");
        ASSERT_FALSE(list.empty()) << "no chip list";
        size_t rows = 0;
        for (size_t at = list.find("<tr id=\"chip-"); at != std::string::npos;
             at = list.find("<tr id=\"chip-", at + 1))
            ++rows;
        EXPECT_EQ(rows, chips.size()) << "the list and the catalogue differ in length";
        for (const ChipRecord& chip : chips) {
            const std::string row = Row(list, chip.Name);
            ASSERT_FALSE(row.empty()) << chip.Name << " is missing from the manual's chip list";
            std::string signature = chip.Signature;
            while (!signature.empty() && signature.back() == ' ') signature.pop_back();
            if (signature.empty())
                EXPECT_NE(row.find("chosen by hand"), std::string::npos) << row;
            else
                EXPECT_NE(row.find("<code>" + signature + "</code>"), std::string::npos) << row;
        }
    }
}

TEST(Manual, PinMapAndTroubleshootingAreFilledIn) {
    const std::string html = Read(TONDREL_MANUAL_OUTPUT);
    for (const char* section : {"pins", "packages", "trouble"})
        EXPECT_GT(Section(html, section).size(), 40u) << section << " is empty";
    EXPECT_NE(Section(html, "version").find(std::string("tondrel ") + kVersion), std::string::npos);
    // One pin table per family, each naming the clock, the reset line and the data lines.
    const std::string pins = Section(html, "pins");
    for (const char* family : {"AT89S (8051)", "AVR", "PIC16"})
        EXPECT_NE(pins.find("<h3>" + std::string(family)), std::string::npos) << family;
}

}  // namespace
}  // namespace tondrel
