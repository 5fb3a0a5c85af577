#include "common/MessageTables.h"

namespace tondrel {

// Texts of the session: start-up, detection, search, operations, download modes. Key, Chinese,
// English, used exactly as the program shows them (full-width punctuation and odd spellings
// included). Placeholders {0}... are filled in when the text is written.
const std::vector<MessageEntry>& CoreMessageTable() {
    static const std::vector<MessageEntry> table = {
        // Adapter identification and the Altera cable banner
        {"CoreHwBrisk", "轻捷I型", "Brisk I"},
        {"CoreHwRegal", "典雅II型", "Regal II"},
        {"CoreHwVersion10", "硬件版本1.0", "hardware 1.0"},
        {"CoreHwVersion20", "硬件版本2.0", "hardware 2.0"},
        {"CoreHwKernel10", "硬件内核1.0", "kernel 1.0"},
        {"CoreHwKernel20", "硬件内核2.0", "kernel 2.0"},
        {"CoreHwAltera", "ALTERA", "ALTERA"},
        {"CoreHwVersion", "硬件版本", "hardware ver"},
        {"CoreHwDisconnected", ">>编程器没有连接或没有提供电源给编程器",
         ">>hardware disconnected or no electricity !"},
        {"CoreHwNotLaunched", ">>编程器没有启动！", ">>hardware did not launch!"},
        {"CoreHwUnknown", "硬件未知！", "unknown hardware!"},
        {"CoreBannerRuleTop",
         "   ======================================================================== ",
         "   ======================================================================== "},
        {"CoreBannerLine1", "    您使用的是ALTERA下载线，请使用MCU快捷键进行ATMEL单片机的编程。",
         "    you hardware is ALTERA download-cable，please click MCU button to program ATMEL "
         "series。"},
        {"CoreBannerLine2",
         "    为获得更多的芯片支持、最稳定的编程及技术支持，请使用与本软件配套的硬件！",
         "    in order to get more chip support, more stable program and technicle support, please "
         "use the corresponding hardware！"},
        {"CoreBannerAddress", "            {0}", "            {0}"},
        {"CoreBannerRuleBottom",
         "   =========================================================================",
         "   ========================================================================="},
        // Chip search and selection
        {"CoreNoChipFound", ">>没有检测到可支持的芯片!", ">>no supported chip found!"},
        {"CoreChipDetected", ">>检测到芯片：{0}", ">>chip detected:{0}"},
        {"CoreStatusChip", "芯片：{0}", "chip: {0}"},
        {"CoreStatusFlashFile", "FLASH文件：{0}", "Flash File:{0}"},
        {"CoreStatusEEPROMFile", "EEPROM文件：{0}", "EEProm File:{0}"},
        // Programming operations
        {"CoreEraseBegin", ">>擦除芯片开始", ">>begin erasing"},
        {"CoreEraseDone", ">>成功擦除芯片", ">>erase successfully"},
        {"CoreNoFlashData", ">>没有FLASH数据！", ">>No FLASH data！"},
        {"CoreWriteFlashBegin", ">>写FLASH开始", ">>begin writing Flash"},
        {"CoreWriteFlashFailByte",
         ">>写FLASH超时，地址<0x{0}>的数据校验错！（请调整编程速度或检查芯片好坏）",
         ">>write FLASH time out ，address<0x{0}>error！（please adjust program speed or check the "
         "chip）"},
        {"CoreWriteFlashFailWord",
         ">>写FLASH超时，地址<0x{0}>的数据校验错！（请调整编程速度或检查芯片好坏）",
         ">>write FLASH time out，address<0x{0}>error！（please adjust program speed or check the "
         "chip）"},
        {"CoreWriteFlashDone", ">>成功写FLASH", ">>write FLASH successfully"},
        {"CoreNoEEPROMData", ">>没有EEPROM数据！", ">>no EEPROM data!"},
        {"CoreWriteEEPROMBegin", ">>写EEPROM开始", ">>begin writing EEPROM"},
        {"CoreWriteEEPROMFail",
         ">>写EEPROM超时，地址<0x{0}>的数据校验错！（请调整编程速度或检查芯片好坏）",
         ">>write EEPROM time out，address<0x{0}>error！（please adjust program speed or check the "
         "chip）"},
        {"CoreWriteEEPROMDone", ">>成功写EEPROM", ">>write EEPROM successfully"},
        {"CoreReadFlashBegin", ">>读FLASH开始", ">>begin reading FLASH"},
        {"CoreReadFlashDone", ">>成功读FLASH到缓冲", ">>read FLASH successfully"},
        {"CoreReadEEPROMBegin", ">>读EEPROM开始", ">>begin reading EEPROM"},
        {"CoreReadEEPROMDone", ">>成功读EEPROM到缓冲", ">>read EEPROM successfully"},
        {"CoreChipInitFail", ">>芯片初始化失败,程序将终止写芯片！",
         ">>chip initialization fail, program Terminated！"},
        {"CoreAskNoFlashFile", "没有可用的FLASH数据文件,是否中断操作？",
         "no available FLASH file,terminate program？"},
        {"CoreAutoStoppedFlash", ">>自动编程被中断！", ">>auto progrmming terminted！"},
        {"CoreAskNoEEPROMFile", "没有可用的EEPROM数据文件,是否中断操作？",
         "no available EEPROM file,terminate program？"},
        {"CoreAutoStoppedEEPROM", ">>自动编程被中断！", ">>auto program terminated！"},
        {"CoreAutoDone", ">>自动编程完成！", ">>auto program completed！"},
        // Comparing the chip with the buffers (read back after a write)
        {"CoreVerifyFlashBegin", ">>校验FLASH开始", ">>begin verifying FLASH"},
        {"CoreVerifyEEPROMBegin", ">>校验EEPROM开始", ">>begin verifying EEPROM"},
        {"CoreVerifyDiffers", ">>地址<0x{0}>不同：芯片 {1}，缓冲 {2}",
         ">>address<0x{0}> differs: chip {1}, buffer {2}"},
        {"CoreVerifyMore", ">>另有{0}处不同", ">>{0} more differences"},
        {"CoreVerifyFlashOk", ">>FLASH校验成功", ">>FLASH verified successfully"},
        {"CoreVerifyFlashFail", ">>FLASH校验失败", ">>FLASH verify failed"},
        {"CoreVerifyEEPROMOk", ">>EEPROM校验成功", ">>EEPROM verified successfully"},
        {"CoreVerifyEEPROMFail", ">>EEPROM校验失败", ">>EEPROM verify failed"},
        // Download modes and external tools
        {"CoreModeSwitched1", ">>编程器状态已经切换到 单片机 下载状态！",
         ">>progammer status: MCU！"},
        {"CoreModeSwitched2", ">>编程器状态已经切换到 Altera 下载状态！",
         ">>progammer status: Altera ！"},
        {"CoreModeSwitched3", ">>编程器状态已经切换到 Xilinx 下载状态！",
         ">>progammer status: Xilinx！"},
        {"CoreModeSwitched4", ">>编程器状态已经切换到 Lattice 下载状态！",
         ">>progammer status: Lattice！"},
        {"CoreModeSwitched5", ">>编程器状态已经切换到<多功能编程器>下载状态！",
         ">>progammer status: Willem EPROM3！"},
        {"CoreModeSwitched6", ">>编程器状态已经切换到 ARM 下载状态！",
         ">>progammer status: ARM9 ！"},
        {"CoreModeSwitched7", ">>编程器状态已经切换到 Msp430下载状态！",
         ">>progammer status: Msp430！"},
        {"CoreModeState1", ">>编程器状态----单片机下载状态", ">>progammer status:----MCU"},
        {"CoreModeState2", ">>编程器状态----Altera下载状态", ">>progammer status:----Altera"},
        {"CoreModeState3", ">>编程器状态----Xilinx下载状态", ">>progammer status:----Xilinx"},
        {"CoreModeState4", ">>编程器状态----Lattice下载状态", ">>progammer status:----Lattice"},
        {"CoreModeState5", ">>编程器状态----<多功能编程器>下载状态",
         ">>progammer status:----Willem EPROM3"},
        {"CoreModeState6", ">>编程器状态----ARM下载状态", ">>progammer status:----ARM9"},
        {"CoreModeState7", ">>编程器状态----Msp430下载状态", ">>progammer status:----Msp430"},
        {"CoreModeWarning", ">>在使用第三方软件的过程中，请不要关闭本软件！",
         ">>please do not close this software when you use the third part software！"},
        {"CoreToolPathSet", "设置成功！", "setting successfully！"},
        {"CoreToolPathFail", "设置失败！", "setting fail！"},
        {"CoreToolStartFail", ">>无法启动 {0}：{1}", ">>cannot start {0}: {1}"},
        // Settings and speed
        {"CoreSettingsReadFail", ">>无法读取设置：{0}", ">>cannot read the settings: {0}"},
        {"CoreSettingsSaveFail", ">>无法保存设置：{0}", ">>cannot save the settings: {0}"},
        {"CoreSpeedSaveFail", ">>无法保存编程速度：{0}",
         ">>cannot store the programming speed: {0}"},
    };
    return table;
}

}  // namespace tondrel
