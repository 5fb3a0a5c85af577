// The catalogue as the rest of the program sees it: detection lookup, the chip dialog's lists
// and the facts the engines and configuration dialogs rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/db/DbTestSupport.h"

namespace tondrel::db {
namespace {

using tondrel::testing::Got;

class Catalogue : public tondrel::testing::FreshDatabase {
  protected:
    static std::vector<std::string> Names(const std::vector<ChipRecord>& chips) {
        std::vector<std::string> names;
        for (const auto& c : chips) names.push_back(c.Name);
        return names;
    }
};

TEST_F(Catalogue, SelectStarGivesTheSevenColumnsWithTheNameAtPositionTwoThenThePartData) {
    const std::vector<std::string> expected = {"chipid",
                                               "芯片编程方法代号",
                                               "芯片名称",
                                               "芯片特征码",
                                               "芯片FLASHROM容量(B)",
                                               "芯片EEPROM容量(B)",
                                               "页面大小(AVR)",
                                               "擦除时间(ms)",
                                               "FLASH写入时间(us)",
                                               "EEPROM写入时间(us)",
                                               "FLASH忙读回值",
                                               "EEPROM忙读回值",
                                               "校准字节数"};
    EXPECT_EQ(Got(db_->ChipColumns()), expected);
}

TEST_F(Catalogue, PartDataColumnsReachTheChipRecord) {
    const auto mega16 = Got(db_->ChipById(5));
    ASSERT_TRUE(mega16);
    EXPECT_EQ(mega16->EraseDelayMs, 9);
    EXPECT_EQ(mega16->FlashWriteDelayUs, 4500);
    EXPECT_EQ(mega16->EepromWriteDelayUs, 9000);
    EXPECT_EQ(mega16->FlashReadback, 0xFFFF);
    EXPECT_EQ(mega16->CalibrationCount, 4);
    const auto mega8 = Got(db_->ChipById(54));
    EXPECT_EQ(mega8->FlashReadback, 0xFF00);  // busy Flash reads 0xFF, then 0x00
    EXPECT_EQ(Got(db_->ChipById(38))->EraseDelayMs, 500);
    const auto pic = Got(db_->ChipById(6));
    EXPECT_EQ(pic->EraseDelayMs, 0);
    EXPECT_EQ(pic->FlashReadback, -1);
    EXPECT_EQ(pic->EepromReadback, -1);
}

TEST_F(Catalogue, ChipsSharingASignatureAreFoundAsTheOlderRowAndChosenByName) {
    const auto found = Got(db_->FindChip(Method::Avr, "1E9307"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Name, "ATmega8");
    const auto mega8a = Got(db_->ChipByName("ATmega8A"));
    ASSERT_TRUE(mega8a);
    EXPECT_GT(mega8a->ChipId, 54);
    EXPECT_EQ(mega8a->Signature, "1E9307");
    EXPECT_EQ(mega8a->FlashSize, 8192);

    for (const char* name :
         {"ATmega328P", "ATtiny85", "ATmega2560", "ATmega1284P", "ATmega32U4", "ATtiny4313"}) {
        const auto chip = Got(db_->ChipByName(name));
        ASSERT_TRUE(chip) << name;
        EXPECT_GT(chip->ChipId, 54) << name;
        const auto detected = Got(db_->FindChip(Method::Avr, chip->Signature));
        ASSERT_TRUE(detected) << name;
        EXPECT_EQ(detected->Name, name);
        EXPECT_GT(chip->EraseDelayMs, 0) << name;
    }
    EXPECT_EQ(Got(db_->ChipByName("ATmega2560"))->FlashSize, 262144);
    EXPECT_EQ(Got(db_->SearchChips("ATTINY")).size(), Got(db_->SearchChips("attiny")).size());
}

TEST_F(Catalogue, DetectionMatchesMethodCodeAndSignatureSubstring) {
    auto mega16 = Got(db_->FindChip(Method::Avr, "1E9403"));
    ASSERT_TRUE(mega16);
    EXPECT_EQ(mega16->ChipId, 5);
    EXPECT_EQ(mega16->Name, "ATmega16");
    EXPECT_EQ(mega16->FlashSize, 16384);
    EXPECT_EQ(mega16->EEPROMSize, 512);
    EXPECT_EQ(mega16->PageSize, 128);

    auto s52 = Got(db_->FindChip(Method::At89s, "1E5206"));
    ASSERT_TRUE(s52);
    EXPECT_EQ(s52->Name, "AT89S52");
    auto pic = Got(db_->FindChip(Method::PicA, "0E20"));
    ASSERT_TRUE(pic);
    EXPECT_EQ(pic->ChipId, 53);

    // The same signature under another method code is not this engine's chip.
    EXPECT_FALSE(Got(db_->FindChip(Method::Pic, "1E9403")));
    EXPECT_FALSE(Got(db_->FindChip(Method::Pic, "0E20")));  // A-family IDs belong to method 6 only

    // A floating data line must not find anything.
    for (const char* noise : {"FFFFFF", "000000", "3FE0", "0000"}) {
        for (Method method : kSearchOrder) {
            EXPECT_FALSE(Got(db_->FindChip(method, noise)))
                << noise << " method " << MethodCode(method);
        }
    }
}

TEST_F(Catalogue, DetectionTakesTheFirstRowWhenSeveralMatch) {
    // "1E90" is part of the AT90S1200 (4), ATtiny12 (32), ATtiny13 (33) and ATtiny15 (34).
    auto first = Got(db_->FindChip(Method::Avr, "1E90"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->ChipId, 4);

    // A row may hold several signatures; it matches any of them, but an earlier row still wins.
    ASSERT_TRUE(
        db_->Raw().Execute("insert into chip (chipid, \"芯片编程方法代号\", \"芯片名称\", "
                           "\"芯片特征码\") values (990, 5, '  Combo  ', '1E9404/1E9499')"));
    auto combo = Got(db_->FindChip(Method::Avr, "1E9499"));
    ASSERT_TRUE(combo);
    EXPECT_EQ(combo->ChipId, 990);
    EXPECT_EQ(combo->Name, "Combo");  // detection trims the name
    EXPECT_EQ(Got(db_->FindChip(Method::Avr, "1E9404"))->ChipId, 21);
}

TEST_F(Catalogue, DetectionIgnoresEmptySignaturesAndTreatsWildcardsAsText) {
    // Methods 2-4 store an empty signature; an engine that reads nothing must not pick them.
    for (Method method : {Method::At89s53, Method::At89s8252, Method::At89s8253}) {
        EXPECT_FALSE(Got(db_->FindChip(method, "")));
        EXPECT_FALSE(Got(db_->FindChip(method, " \r\n")));
    }
    EXPECT_FALSE(Got(db_->FindChip(Method::Avr, "%")));
    EXPECT_FALSE(Got(db_->FindChip(Method::Avr, "1E9_03")));
    EXPECT_FALSE(Got(db_->FindChip(Method::Avr, "1E9403' or '1'='1")));
}

TEST_F(Catalogue, NameSearchIgnoresLetterCase) {
    const auto found = Names(Got(db_->SearchChips("mega8")));
    EXPECT_EQ(found, (std::vector<std::string>{"ATmega8", "ATmega8515", "ATmega8535", "ATmega88",
                                               "ATmega88A", "ATmega88P", "ATmega88PA", "ATmega88PB",
                                               "ATmega8A", "ATmega8U2"}));
    EXPECT_EQ(Names(Got(db_->SearchChips("MEGA8"))), found);
    EXPECT_EQ(Got(db_->SearchChips("")).size(), 181u);
    EXPECT_TRUE(Got(db_->SearchChips("zz")).empty());
}

TEST_F(Catalogue, QuotesAndWildcardsInASearchAreLiteralText) {
    EXPECT_TRUE(Got(db_->SearchChips("O'Brien")).empty());
    EXPECT_TRUE(Got(db_->SearchChips("%")).empty());
    EXPECT_TRUE(Got(db_->SearchChips("AT_0")).empty());
    ASSERT_TRUE(
        db_->Raw().Execute("insert into chip (chipid, \"芯片编程方法代号\", \"芯片名称\") "
                           "values (991, 5, 'O''Brien 50%')"));
    EXPECT_EQ(Names(Got(db_->SearchChips("o'brien"))), std::vector<std::string>{"O'Brien 50%"});
    EXPECT_EQ(Names(Got(db_->SearchChips("50%"))), std::vector<std::string>{"O'Brien 50%"});
}

TEST_F(Catalogue, CategoryFilterListsExactlyTheChipsHoldingItOrderedByMethodThenName) {
    const auto at89 = Got(db_->SearchChips("AT89"));
    EXPECT_EQ(Names(at89), (std::vector<std::string>{"AT89S51", "AT89S52", "AT89S53", "AT89S8252",
                                                     "AT89S8253"}));
    for (const char* family : {"PIC", "AT89", "AT90", "ATMEGA", "ATTINY"}) {
        const auto chips = Got(db_->SearchChips(family));
        std::string lowerFamily(family);
        std::transform(lowerFamily.begin(), lowerFamily.end(), lowerFamily.begin(), ::tolower);
        size_t holding = 0;
        for (const auto& c : Got(db_->ListChips())) {
            std::string lowerName = c.Name;
            std::transform(lowerName.begin(), lowerName.end(), lowerName.begin(), ::tolower);
            holding += lowerName.find(lowerFamily) != std::string::npos;
        }
        EXPECT_EQ(chips.size(), holding) << family;
        EXPECT_TRUE(std::is_sorted(chips.begin(), chips.end(), [](const auto& a, const auto& b) {
            return MethodCode(a.MethodCode) != MethodCode(b.MethodCode)
                       ? MethodCode(a.MethodCode) < MethodCode(b.MethodCode)
                       : a.Name < b.Name;
        })) << family;
    }
    // PIC rows of method 0 come before the A family of method 6.
    const auto pics = Got(db_->SearchChips("PIC"));
    ASSERT_EQ(pics.size(), 13u);
    EXPECT_EQ(MethodCode(pics.front().MethodCode), 0);
    EXPECT_EQ(pics.back().Name, "PIC16F877A");
}

TEST_F(Catalogue, LookupByIdAndByNameIgnoringCase) {
    EXPECT_EQ(Got(db_->ChipById(54))->Name, "ATmega8");
    EXPECT_FALSE(Got(db_->ChipById(3)));
    EXPECT_EQ(Got(db_->ChipByName("atmega8"))->ChipId, 54);
    EXPECT_EQ(Got(db_->ChipByName("PIC16F877A"))->ChipId, 53);
    EXPECT_FALSE(Got(db_->ChipByName("ATmega")));
}

TEST_F(Catalogue, EveryRowFitsItsEngine) {
    const auto chips = Got(db_->ListChips());
    std::set<int> methods;
    std::set<std::pair<int, std::string>> signatures;
    for (const auto& c : chips) {
        SCOPED_TRACE(c.Name);
        ASSERT_GE(MethodCode(c.MethodCode), 0);
        ASSERT_LE(MethodCode(c.MethodCode), 6);
        methods.insert(MethodCode(c.MethodCode));
        // What ReadSignature renders: 4 hex digits for PIC, 6 for AT89S51/52 and AVR, nothing
        // for the three AT89S engines that cannot identify a chip.
        const size_t length = (MethodCode(c.MethodCode) == 0 || MethodCode(c.MethodCode) == 6) ? 4
                              : (MethodCode(c.MethodCode) == 1 || MethodCode(c.MethodCode) == 5)
                                  ? 6
                                  : 0;
        EXPECT_EQ(c.Signature.size(), length);
        EXPECT_EQ(c.Signature.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        if (length > 0) {
            // Detection of this chip's own signature must land on this row, or, for a later
            // variant sharing an older chip's signature, on the lowest key holding it.
            const bool first = signatures.insert({MethodCode(c.MethodCode), c.Signature}).second;
            auto found = Got(db_->FindChip(c.MethodCode, c.Signature));
            ASSERT_TRUE(found);
            int lowest = c.ChipId;
            for (const auto& other : chips)
                if (MethodCode(other.MethodCode) == MethodCode(c.MethodCode) &&
                    other.Signature == c.Signature)
                    lowest = std::min(lowest, other.ChipId);
            EXPECT_EQ(found->ChipId, lowest);
            if (!first || lowest != c.ChipId) {
                EXPECT_EQ(MethodCode(c.MethodCode), 5) << "only AVR variants share a signature";
                EXPECT_GT(c.ChipId, 54);
            }
        }
        EXPECT_GT(c.FlashSize, 0);
        const bool wordChip = MethodCode(c.MethodCode) == 0 || MethodCode(c.MethodCode) == 5 ||
                              MethodCode(c.MethodCode) == 6;
        if (wordChip) {
            EXPECT_EQ(c.FlashSize % 2, 0);
        }
        EXPECT_GE(c.EEPROMSize, 0);
        EXPECT_EQ(c.EEPROMSize % 16, 0);  // the EEPROM grid has 16 bytes a row
        EXPECT_GE(c.PageSize, 0);
        if (c.PageSize > 0) {
            EXPECT_EQ(MethodCode(c.MethodCode), 5) << "only the AVR engine writes pages";
            EXPECT_EQ(c.FlashSize % c.PageSize, 0);
        }
        if (MethodCode(c.MethodCode) == 4) {
            EXPECT_EQ(c.EEPROMSize, 2048) << "the AT89S8253 has 2 KiB of data EEPROM";
        }
    }
    EXPECT_EQ(methods, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
}

TEST_F(Catalogue, HoldsEveryChipTheConfigurationDialogsAndPicSizeGuardExpect) {
    // Keys of the configuration-dialog dispatch table.
    const std::set<int> dialogKeys = {4,  5,  6,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                                      18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30,
                                      31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43,
                                      44, 45, 46, 48, 49, 50, 51, 52, 53, 54};
    for (int id : dialogKeys) EXPECT_TRUE(Got(db_->ChipById(id))) << "chipid " << id;

    // Each dialog drives one engine family; the key's row must be of that family.
    auto method = [&](int id) { return MethodCode(Got(db_->ChipById(id))->MethodCode); };
    for (int id : {6, 42, 43, 44, 45, 46, 48}) EXPECT_EQ(method(id), 0) << id;
    for (int id : {50, 51, 52, 53}) EXPECT_EQ(method(id), 6) << id;
    for (int id : {37, 38}) EXPECT_EQ(method(id), 1) << id;
    EXPECT_EQ(method(39), 2);
    EXPECT_EQ(method(40), 3);
    EXPECT_EQ(method(41), 4);
    for (int id : dialogKeys) {
        if ((id <= 36 && id != 6) || id == 49 || id == 54) {
            EXPECT_EQ(method(id), 5) << id;
        }
    }

    // The PIC engine refuses words at and above 0x800 for keys 42-44 and 0x1000 for 45-46:
    // exactly the end of those chips' program memory (2 bytes a word).
    for (int id : {42, 43, 44}) EXPECT_EQ(Got(db_->ChipById(id))->FlashSize, 0x800 * 2) << id;
    for (int id : {45, 46}) EXPECT_EQ(Got(db_->ChipById(id))->FlashSize, 0x1000 * 2) << id;
}

TEST_F(Catalogue, AdapterTextsListTheChipsEachKindServes) {
    const std::string gen1 = Got(db_->SupportText(1));
    const std::string gen2 = Got(db_->SupportText(2));
    const std::string cable = Got(db_->SupportText(3));
    for (const auto& c : Got(db_->ListChips())) {
        EXPECT_NE(gen1.find(c.Name), std::string::npos) << c.Name;
        EXPECT_NE(gen2.find(c.Name), std::string::npos) << c.Name;
        const bool atmel = MethodCode(c.MethodCode) >= 1 && MethodCode(c.MethodCode) <= 5;
        EXPECT_EQ(cable.find(c.Name) != std::string::npos, atmel) << c.Name;
    }
    EXPECT_EQ(Got(db_->SupportText(0)), "");
}

}  // namespace
}  // namespace tondrel::db
