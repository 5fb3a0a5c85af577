#include <gtest/gtest.h>

#include <set>

#include "common/Messages.h"

namespace tondrel {
namespace {

TEST(Messages, LooksUpBothLanguagesAndShowsMissingKeys) {
    EXPECT_EQ(Tr("OpenFlashFile", Language::Chinese), ">>打开FLASHROM文件");
    EXPECT_EQ(Tr("OpenFlashFile", Language::English), ">>open FLASH file");
    EXPECT_EQ(Tr("NoSuchMessage", Language::English), "NoSuchMessage");
    EXPECT_FALSE(HasMessage("NoSuchMessage"));
}

TEST(Messages, FormatFillsPlaceholdersAndLeavesUnmatchedOnes) {
    EXPECT_EQ(TrFormat("FileSize", Language::Chinese, 8192), "文件大小:8192Bytes");
    EXPECT_EQ(Format("{1}-{0}-{0}", "a", 7), "7-a-a");
    EXPECT_EQ(Format("{2} {x} {", 1), "{2} {x} {");
}

TEST(Messages, TableHasUniqueKeysAndNoEmptyTexts) {
    std::set<std::string_view> keys;
    for (const MessageEntry& e : AllMessages()) {
        EXPECT_TRUE(keys.insert(e.Key).second) << e.Key;
        EXPECT_FALSE(e.Chinese.empty()) << e.Key;
        EXPECT_FALSE(e.English.empty()) << e.Key;
    }
}

}  // namespace
}  // namespace tondrel
