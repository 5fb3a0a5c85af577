#include "common/MessageTables.h"

namespace tondrel {

// Key, Chinese, English. Texts are used exactly as the program shows them (full-width
// punctuation and odd spellings included). Keys must be unique across all tables.
const std::vector<MessageEntry>& DataMessageTable() {
    static const std::vector<MessageEntry> table = {
        // Loading files into the Flash and EEPROM buffers
        {"OpenFlashFile", ">>打开FLASHROM文件", ">>open FLASH file"},
        {"OpenEEPROMFile", ">>打开EEPROM文件", ">>open EEPROM file"},
        {"FilePosition", "文件位置：{0}", "file position：{0}"},
        {"FileSize", "文件大小:{0}Bytes", "file size:{0}Bytes"},
        {"FileOpenTime", "文件打开时间:{0}", "time:{0}"},
        {"FlashFileOpened", ">>成功打开文件！", ">>open Flash file already！"},
        {"EEPROMFileOpened", ">>成功打开文件！", ">>open file already！"},
        {"FlashNotHexLine", "第一个字母不为\":\",不是HEX文件！", "error,check the File!"},
        {"EEPROMNotHexLine", "第一个字母不为\":\",不是HEX文件！", "error,please check the file!"},
        {"FlashCapacity", "FlashROM文件大于芯片容量{0},装载失败!",
         "Flash File size is bigger than chip size, load file fail!"},
        {"EEPROMCapacity", "EEPROM文件大于芯片容量{0},装载失败!",
         "EEProm File size is bigger than chip size, load file fail!"},
        {"FlashChecksum", "校验错误,请检查HEX文件!", "verified error,please check HEX file!"},
        {"EEPROMChecksum", "校验错误,请检查HEX文件!", "verified error,please check the File!"},
        {"FlashFileFilter", "*.hex;*.idf", "*.hex;*.idf"},
        {"EEPROMFileFilter", "*.hex;*.idf;*.eep", "*.hex;*.idf;*.eep"},
        {"FlashFileStatus", "Flash File:{0}", "Flash File:{0}"},
        {"EEPROMFileStatus", "EEProm File:{0}", "EEProm File:{0}"},
        // Our own: errors the loaders report on the board instead of a platform box
        {"FileCannotOpen", ">>无法打开文件{0}：{1}", ">>cannot open file {0}: {1}"},
        {"FileLineTooLong", "第{0}行太长，不是可装载的文件,装载失败!",
         "line {0} is too long for this kind of file, load file fail!"},
        {"FileTooBig", "文件大于任何芯片的容量,装载失败!",
         "the file is larger than any chip could take, load file fail!"},
        {"FileCannotRead", ">>读文件{0}出错：{1}", ">>error reading file {0}: {1}"},
        {"IdfNotInteger", "第{0}行不是整数：\"{1}\",装载失败!",
         "line {0} is not an integer: \"{1}\", load file fail!"},
        {"IdfTooManyLines", "文件行数大于芯片容量{0},装载失败!",
         "the file has more lines than the chip size {0}, load file fail!"},
        {"BinaryTooBig", "文件大小{0}Bytes大于芯片容量{1},装载失败!",
         "file size {0}Bytes is bigger than chip size {1}, load file fail!"},
        {"EEPROMFromFlashFile", "EEPROM数据已装入EEPROM数据区:{0}Bytes",
         "EEPROM data loaded into the EEPROM buffer:{0}Bytes"},
        // Grids and byte editors
        {"GridAsciiHeader", "ASCII", "ASCII"},
        {"ModifyFlashDataTitle", "修改FLASH数据(modify Flash data)",
         "修改FLASH数据(modify Flash data)"},
        {"ModifyEEPROMDataTitle", "修改EEPROM数据(modify EEPROM data)",
         "修改EEPROM数据(modify EEPROM data)"},
        {"ModifyFlashDataAt", "修改地址为0x{0}的FLASH数据", "modify FLASH data at address :0x{0}"},
        {"ModifyEEPROMDataAt", "修改地址为0x{0}的EEPROM数据",
         "modify EEPROM data at address :0x{0}"},
        // Saving
        {"SaveFileFilter", "*.idf", "*.idf"},
        {"SavedFileTo", ">>文件成功保存到{0}", ">>saved file to {0}"},
        {"FileCannotWrite", ">>无法保存文件{0}：{1}", ">>cannot save file {0}: {1}"},
    };
    return table;
}

}  // namespace tondrel
