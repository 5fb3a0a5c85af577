#include <gtest/gtest.h>

#include <set>

#include "common/Messages.h"
#include "common/Status.h"

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

// What the loaders, the savers and the database report, as the board and the terminal show it.
struct Shown {
    Message Said;
    const char* Chinese;
    const char* English;
};
const Shown kTexts[] = {
    {Msg("OpenFlashFile"), ">>打开FLASHROM文件", ">>open FLASH file"},
    {Msg("OpenEEPROMFile"), ">>打开EEPROM文件", ">>open EEPROM file"},
    {Msg("FilePosition", "/x/a.hex"), "文件位置：/x/a.hex", "file position：/x/a.hex"},
    {Msg("FileSize", 8192), "文件大小:8192Bytes", "file size:8192Bytes"},
    {Msg("FileOpenTime", "2026-12-08 03:17:47"), "文件打开时间:2026-12-08 03:17:47",
     "time:2026-12-08 03:17:47"},
    {Msg("EEPROMFromFlashFile", 64), "EEPROM数据已装入EEPROM数据区:64Bytes",
     "EEPROM data loaded into the EEPROM buffer:64Bytes"},
    {Msg("FlashFileOpened"), ">>成功打开文件！", ">>open Flash file already！"},
    {Msg("EEPROMFileOpened"), ">>成功打开文件！", ">>open file already！"},
    {Msg("FlashNotHexLine", 1), "第一个字母不为\":\",不是HEX文件！", "error,check the File!"},
    {Msg("EEPROMNotHexLine", 2), "第一个字母不为\":\",不是HEX文件！",
     "error,please check the file!"},
    {Msg("FlashCapacity", 65536, 1), "FlashROM文件大于芯片容量65536,装载失败!",
     "Flash File size is bigger than chip size, load file fail!"},
    {Msg("EEPROMCapacity", 64, 1), "EEPROM文件大于芯片容量64,装载失败!",
     "EEProm File size is bigger than chip size, load file fail!"},
    {Msg("FlashChecksum", 3), "校验错误,请检查HEX文件!", "verified error,please check HEX file!"},
    {Msg("EEPROMChecksum", 1), "校验错误,请检查HEX文件!", "verified error,please check the File!"},
    {Msg("IdfNotInteger", 3, "abc"), "第3行不是整数：\"abc\",装载失败!",
     "line 3 is not an integer: \"abc\", load file fail!"},
    {Msg("IdfTooManyLines", 16, 17), "文件行数大于芯片容量16,装载失败!",
     "the file has more lines than the chip size 16, load file fail!"},
    {Msg("BinaryTooBig", 1025, 1024), "文件大小1025Bytes大于芯片容量1024,装载失败!",
     "file size 1025Bytes is bigger than chip size 1024, load file fail!"},
    {Msg("FileLineTooLong", 5), "第5行太长，不是可装载的文件,装载失败!",
     "line 5 is too long for this kind of file, load file fail!"},
    {Msg("FileTooBig"), "文件大于任何芯片的容量,装载失败!",
     "the file is larger than any chip could take, load file fail!"},
    {Msg("FileCannotOpen", "/x/m.hex", "No such file or directory"),
     ">>无法打开文件/x/m.hex：No such file or directory",
     ">>cannot open file /x/m.hex: No such file or directory"},
    {Msg("FileCannotRead", "/x/m.hex", "Input/output error"),
     ">>读文件/x/m.hex出错：Input/output error",
     ">>error reading file /x/m.hex: Input/output error"},
    {Msg("SavedFileTo", "/x/e.idf"), ">>文件成功保存到/x/e.idf", ">>saved file to /x/e.idf"},
    {Msg("FileCannotWrite", "/x/e.idf", "Is a directory"), ">>无法保存文件/x/e.idf：Is a directory",
     ">>cannot save file /x/e.idf: Is a directory"},
    {Msg("DbNoPath"), "未指定芯片数据库的路径", "no chip database path given"},
    {Msg("DbIsFolder", "/d"), "'/d'是文件夹，不是数据库文件；请用--database选择一个文件。",
     "'/d' is a folder, not a database file; choose a file with --database."},
    {Msg("DbCannotCreateFolder", "/f", "Not a directory"),
     "无法为芯片数据库创建文件夹'/f'（Not a directory）；请用--database选择可写的位置。",
     "cannot create the folder '/f' for the chip database (Not a directory); choose a writable "
     "place with --database."},
    {Msg("DbFolderNotWritable", "/f/c.db", "/f"),
     "无法写入芯片数据库'/f/c.db'：文件夹'/f'不可写；请用--database选择可写的位置。",
     "cannot write the chip database '/f/c.db': the folder '/f' is not writable; choose a "
     "writable place with --database."},
    {Msg("DbNotADatabase", "/c.db"),
     "'/c.db'不是数据库文件，未作任何改动。请将其移走，或用--database选择其他文件。",
     "'/c.db' is not a database file; it was left untouched. Move it away or choose another "
     "file with --database."},
    {Msg("DbDamaged", "/c.db"),
     "'/c.db'是已损坏的数据库，未作任何改动。请恢复备份，或用--database选择其他文件。",
     "'/c.db' is a damaged database; it was left untouched. Restore a copy or choose another "
     "file with --database."},
    {Msg("DbLocked", "/c.db"), "'/c.db'已被另一个程序锁定；请关闭该程序后重试。",
     "'/c.db' is locked by another program; close that program and try again."},
    {Msg("DbCannotWrite", "/c.db", "disk I/O error"),
     "无法写入芯片数据库'/c.db'（disk I/O error）；请用--database选择可写的位置。",
     "cannot write the chip database '/c.db' (disk I/O error); choose a writable place with "
     "--database."},
    {Msg("DbCannotOpen", "/c.db", "out of memory"), "无法打开芯片数据库'/c.db'：out of memory",
     "cannot open the chip database '/c.db': out of memory"},
    {Msg("DbReadOnly", "/c.db"),
     "'/c.db'是只读的：设置、编程速度和工具路径都无法保存。请使其可写，或用--database选择其他文件"
     "。",
     "'/c.db' is read-only: settings, speeds and tool paths could not be saved. Make it "
     "writable or choose another file with --database."},
    {Msg("DbNewer", "/c.db", 4, 3),
     "'/c.db'由更新版本的tondrel写入（数据库版本4，本版本只认识3），未作任何改动。",
     "'/c.db' was written by a newer release of tondrel (schema version 4, this one knows 3); "
     "it was left untouched."},
    {Msg("DbOtherProgram", "/c.db"),
     "'/c.db'是其他程序的数据库，未作任何改动。请用--database选择其他文件。",
     "'/c.db' is a database of another program; it was left untouched. Choose another file "
     "with --database."},
    {Msg("DbCannotPrepare", "/c.db", "no such table: chip"),
     "无法准备芯片数据库'/c.db'：no such table: chip；未作任何改动。",
     "cannot prepare the chip database '/c.db': no such table: chip; nothing was changed."},
    {Msg("DbChipList", "e"), "芯片列表：e", "chip list: e"},
    {Msg("DbChipColumns", "e"), "芯片表的列：e", "chip columns: e"},
    {Msg("DbSpeedRead", "e"), "读取编程速度：e", "speed read: e"},
    {Msg("DbSpeedWrite", "e"), "保存编程速度：e", "speed write: e"},
    {Msg("DbSettingsRead", "e"), "读取设置：e", "settings read: e"},
    {Msg("DbSettingsSave", "e"), "保存设置：e", "settings save: e"},
    {Msg("DbLaunchOption", "e"), "启动选项：e", "launch option: e"},
    {Msg("DbVerifyOption", "e"), "写后校验选项：e", "verify option: e"},
    {Msg("DbDownloadMode", "e"), "下载模式：e", "download mode: e"},
    {Msg("DbToolPath", "e"), "工具路径：e", "tool path: e"},
    {Msg("DbNoToolKey", "quartus"), "工具路径：没有名为'quartus'的下载模式",
     "tool path: no download mode is named 'quartus'"},
    {Msg("DbAdapterText", "e"), "编程器说明：e", "adapter text: e"},
};

TEST(LayerMessages, ChineseTexts) {
    for (const Shown& t : kTexts) EXPECT_EQ(t.Said.Text(Language::Chinese), t.Chinese);
}

TEST(LayerMessages, EnglishTexts) {
    for (const Shown& t : kTexts) EXPECT_EQ(t.Said.Text(Language::English), t.English);
}

}  // namespace
}  // namespace tondrel
