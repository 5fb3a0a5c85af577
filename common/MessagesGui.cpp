#include "common/MessageTables.h"

namespace tondrel {

// Texts of the window: menus, captions, dialogs. Key, Chinese, English, used exactly as the
// program shows them (double blanks, full-width parentheses and old spellings included).
// "Cap.<component>" keys are the captions the language switch sets.
const std::vector<MessageEntry>& GuiMessageTable() {
    static const std::vector<MessageEntry> table = {
        {"Cap.TMain", "tondrel2.3下载软件——（tondrel project）", "tondrel2.3——（tondrel project）"},
        {"Cap.Mfunction", "功能选择", "Function"},
        {"Cap.MsetPath", "手动设置路径", "set program path manually"},
        {"Cap.MisRunProgram", "切换下载状态时是否启动相应程序",
         "launch correspond program when switch function"},
        {"Cap.MmcuPath", "手动设置单片机程序路径", "set MCU program path"},
        {"Cap.MalteraPath", "手动设置ALTERA程序路径", "set ALTERA program path"},
        {"Cap.MxilinxPath", "手动设置XILINX程序路径", "set XILINX program path"},
        {"Cap.MlatticePath", "手动设置LATTICE程序路径", "set Lattice program path"},
        {"Cap.MARMpath", "手动设置ARM程序路径", "set ARM program path"},
        {"Cap.Meprom3Path", "手动设置<多功能编程器>程序路径", "set Willem-Eprom3 path"},
        {"Cap.Mclear", "清除信息", "clear information"},
        {"Cap.Msupport", "显示支持芯片信息", "show supported chips"},
        {"Cap.Mquit", "退出", "quit"},
        {"Cap.Mfile", "文件", "File"},
        {"Cap.MopenFlashFile", "装载FLASH文件...", "load FLASH file..."},
        {"Cap.MopenEEPROMfile", "装载EEPROM文件...", "load EEPROM file..."},
        {"Cap.MsaveFlash", "保存FLASH文件...", "save FLASH file..."},
        {"Cap.MsaveEEProm", "保存EEPROM文件...", "save EEPROM file..."},
        {"Cap.MSearchChip", "芯片识别", "Chip-Identification"},
        {"Cap.Mautosearch", "自动搜索", "search chip ID automatically"},
        {"Cap.Mmaunal", "手动选择/管理...", "select chip maunally/management..."},
        {"Cap.Moper", "芯片操作", "Chip-Operation"},
        {"Cap.MautoProgram", "自动编程", "auto programming"},
        {"Cap.Mearse", "擦除", "chip earse"},
        {"Cap.MreadFlash", "读FLASH", "read FLASH"},
        {"Cap.MwriteFlash", "写FLASH", "write FLASH"},
        {"Cap.Mreadeeprom", "读EEPROM", "read EEPROM"},
        {"Cap.MwriteEEProm", "写EEPROM", "write EEPROM"},
        {"Cap.Mother", "其它操作..", "other operations..."},
        {"Cap.Mreset", "复位目标板芯片", "reset chip in target board"},
        {"Cap.Moption", "选项", "Options"},
        {"Cap.MisautoVerify", "写芯片时自动校验", "auto verify when programing"},
        {"Cap.Miswrite0xff", "写0xff", "write 0xff"},
        {"Cap.Mlpt", "并口选择", "parallel"},
        {"Cap.Msound", "声音", "sound"},
        {"Cap.Mhelp", "帮助", "Help"},
        {"Cap.Mabout", "关于...", "about..."},
        {"Cap.GBinfo", "编程器信息", "hardware information"},
        {"Cap.GBspeed", "速度调节及工作进度", "speed and progression"},
        {"Cap.Label5", "快", "fast"},
        {"Cap.Label6", "慢", "slow"},
        {"Cap.Label1", "硬件信息", "hardware info"},
        {"Cap.TabSheet1", "[自动编程]  的流程设置", "[auto programming]  flow option"},
        {"Cap.sheetEEPROM", "EEPROM数据区", "EEPROM"},
        {"Cap.sheetFlash", "FLASH数据区", "FLASH "},
        {"Cap.GBauto", "[自动编程]  的流程设置", "[auto programming]  flow option"},
        {"Cap.isUpdateFlashFile", "1.  是否更新FLASH文件", "1.  update Flash file"},
        {"Cap.isUpdateEEPROMfile", "2.  是否更新EEPROM文件(如果存在)", "2.  update EEPROM file"},
        {"Cap.isEraseAll", "3.  是否进行全片擦除（FLASH+EEPROM）", "3.  erase all（FLASH+EEPROM）"},
        {"Cap.isWriteFlash", "4.  是否写FLASH", "4.  write FLASH"},
        {"Cap.isWriteEEPROM", "5.  是否写EEPROM(如果存在)", "5.  write EEPROM(if exist)"},
        // The notes of the auto-programming tab exist in Chinese only; in English the box is empty.
        {"Memo1.1", "[自动编程] 的流程设置说明：", "[自动编程] 的流程设置说明："},
        {"Memo1.2",
         "1. "
         "是否更新FLASH文件。如果需要更新上次的FLASH文件，请打勾，否则下载到芯片的数据将是FLASH数据"
         "区的当前数据。（这个选项适用于调试程序，选择了该选项，程序改变后，计算机自动载入新的程序"
         "内容！）",
         "1. "
         "是否更新FLASH文件。如果需要更新上次的FLASH文件，请打勾，否则下载到芯片的数据将是FLASH数据"
         "区的当前数据。（这个选项适用于调试程序，选择了该选项，程序改变后，计算机自动载入新的程序"
         "内容！）"},
        {"Memo1.3",
         "2. "
         "是否更新EEPROM文件（如果存在）。如果需要更新上次的EEPORM文件，请打勾，否则下载到芯片的数"
         "据将是EEPROM数据区的当前数据。（这个选项适用于调试程序，选择了该选项，程序改变后，计算机"
         "自动载入新的程序内容！）",
         "2. "
         "是否更新EEPROM文件（如果存在）。如果需要更新上次的EEPORM文件，请打勾，否则下载到芯片的数"
         "据将是EEPROM数据区的当前数据。（这个选项适用于调试程序，选择了该选项，程序改变后，计算机"
         "自动载入新的程序内容！）"},
        {"Memo1.4", "3. 是否进行全片擦除（FLASH+EEPROM），需要全片擦除请打勾。", "3. 是否进行全片擦除（FLASH+EEPROM），需要全片擦除请打勾。"},
        {"Memo1.5", "4. 是否写FLASH，是请打勾，否则将跳过FLASH编程。", "4. 是否写FLASH，是请打勾，否则将跳过FLASH编程。"},
        {"Memo1.6", "5. 是否写EEPROM（如果存在），是请打勾，否则将跳过EEPROM编程。", "5. 是否写EEPROM（如果存在），是请打勾，否则将跳过EEPROM编程。"},
        // Beyond the window's original commands
        {"Gui.MsaveFlashHex", "另存FLASH为Intel HEX...", "save FLASH as Intel HEX..."},
        {"Gui.MsaveEEPromHex", "另存EEPROM为Intel HEX...", "save EEPROM as Intel HEX..."},
        {"Gui.MverifyFlash", "校验FLASH", "verify FLASH"},
        {"Gui.MverifyEEPROM", "校验EEPROM", "verify EEPROM"},
        {"Gui.MportTest", "端口测试…", "Port test…"},
        {"Gui.Simulated", ">>没有可用的并口：{0}。本软件现在运行在模拟的编程器和芯片上。",
         ">>no usable parallel port: {0}. tondrel now runs on the simulated bench."},
        {"Gui.StatusPort", "端口：{0}", "port: {0}"},
        {"Gui.BusyClose", "正在操作芯片，请等待操作结束后再退出。",
         "An operation is running; wait for it to end before quitting."},
        {"Gui.OpenFlashTitle", "装载FLASH文件", "load FLASH file"},
        {"Gui.OpenEEPROMTitle", "装载EEPROM文件", "load EEPROM file"},
        {"Gui.HexFilter", "Intel HEX (*.hex *.eep)", "Intel HEX (*.hex *.eep)"},
        {"Gui.PathDialogTitle", "选择程序", "choose program"},
        {"Gui.StatusBench", "端口：模拟编程器 {0}", "port: simulated bench {0}"},
        {"Gui.StatusEmpty", "端口：空的并口插座", "port: empty connector"},
        {"Gui.PortTestTitle", "端口测试 {0}", "Port test {0}"},
        {"Gui.PortTestOutputs", "输出（打勾为高电平）", "Outputs (pin: high when ticked)"},
        {"Gui.PortTestInputs", "输入", "Inputs"},
        {"Gui.PortTestPin", "引脚 {0}", "pin {0}"},
        {"Gui.PortTestLevel", "引脚 {0}：{1}", "pin {0}: {1}"},
        {"Gui.PortTestHigh", "高", "high"},
        {"Gui.PortTestLow", "低", "low"},
        {"Gui.AllFiles", "所有文件 (*)", "all files (*)"},
    };
    return table;
}

}  // namespace tondrel
