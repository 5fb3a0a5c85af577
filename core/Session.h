#pragma once
// The session: everything the main window knows and does, without drawing anything. The
// window, the command-line tool and the tests each drive one Session through a View.
//
// Every operation runs synchronously to its end; between bytes it calls View::Breathe so a
// window can repaint. Operations do not nest: one started while another runs returns false
// at once and changes nothing.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "common/ChipRecord.h"
#include "common/Memory.h"
#include "common/Messages.h"
#include "common/Status.h"
#include "core/Ports.h"
#include "core/View.h"
#include "data/Buffers.h"
#include "db/Database.h"
#include "engines/Tpro.h"

namespace tondrel::core {

// Download modes: 1 microcontrollers (this program), 2 Altera, 3 Xilinx, 4 Lattice,
// 5 Willem EPROM3, 6 ARM, 7 MSP430.
inline constexpr int kModeMcu = 1;
inline constexpr int kModeMsp430 = 7;
// Adapter control code of a mode (the handshake's first write); -1 for an unknown mode.
int ModeControlCode(int mode);
// Table `path` keys: the name a lookup uses and the name an update uses (case differs).
const char* ModeLookupName(int mode);
const char* ModeUpdateName(int mode);
// "MCU" ... "MSP430" (command-line names, any case) -> 1 ... 7; 0 when unknown.
int ModeFromName(const std::string& name);

inline constexpr int32_t kSpeedMax = 300000;
inline constexpr uint8_t kBannerLimit = 50;

class Session {
  public:
    // The database and the ports must outlive the session.
    Session(View& view, db::Database& database, PortSet& ports);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // ---- start and end ----
    // LoadSettings, the language choice, the engines, quiet port lines, the 500 ms wait, the
    // chip controls disabled, then the start-up mode restore. False only when the settings
    // could not be read (the reason is on the board and in the returned error).
    bool Start(std::string& error);
    bool LoadSettings(std::string& error);
    // The settings update (language, sound, the five boxes, the port), then the adapter's rest
    // handshake (control 14). False when the database refused the update (said on the board);
    // the handshake is sent either way.
    bool SaveSettings();

    // ---- the language (the check marks Mchinese / Menglish) ----
    // One value behind both check marks: 0 not chosen yet (English shown), 1 English, 2 Chinese.
    int LanguageCode() const { return languageCode_; }
    bool Mchinese() const { return languageCode_ == 2; }
    bool Menglish() const { return languageCode_ == 1; }
    Language CurrentLanguage() const { return Mchinese() ? Language::Chinese : Language::English; }
    std::string T(std::string_view key) const { return Tr(key, CurrentLanguage()); }
    // MchineseClick / MenglishClick: both swap the two check marks.
    void SwapLanguage();
    void SetLanguageCode(int code);  // 1 English, 2 Chinese; other values change nothing

    // ---- adapter (hardware detection, mode handshake, reset) ----
    bool DetectHardware();
    void SendModeCommand(int mode);
    bool ResetTarget();  // MresetClick; false when no adapter answers
    // The adapter found by the last detection: 0 none, 1 generation one, 2 generation two,
    // 3 Altera cable.
    int AdapterKind() const { return HardwareGen; }
    bool AdapterPresent() const { return HardwareGen != 0; }

    // ---- port choice (Mp1..Mp3) ----
    // Sets PortBase and the check marks, then runs AutoSearch.
    void ChoosePort(int lpt);

    // ---- chip search and selection ----
    bool SearchChip();
    void ChipSelected();
    bool AutoSearch();  // MautosearchClick: true when a chip was found
    // The chip dialog's choice ("选定"): the record becomes current without touching the target.
    void SelectChip(const ChipRecord& record);

    // ---- port test: one connector pin (1-17) at PortBase, as a level on the cable ----
    // Drives an output pin; false for a pin that is not an output.
    bool SetTestPin(uint8_t pin, bool high);
    bool TestPin(uint8_t pin);  // reads any pin, inputs included

    // ---- engine options ----
    void SetSpeed(int32_t position);  // speedbarChange (clamped to 0 .. kSpeedMax)
    void ToggleAutoVerify();          // MisautoVerifyClick
    void ToggleWriteBlank();          // Miswrite0xffClick
    void SetVerifyAfter(bool on);     // the sixth auto-programming box, "isVerifyAfter"
    void SpeedRead();
    bool SpeedWrite();

    // ---- the target ----
    // The adapter answers and so does a chip (the programming-enable echo, a signature that is
    // not all 00 or all FF, a PIC device ID). Chips without a signature pass with a note said
    // once. Every operation makes this check first; false with the reason on the board.
    bool CheckChip();
    // Enters programming mode, reads the chip's signature (empty for a chip that has none) and
    // leaves again; false as CheckChip is.
    bool ReadSignature(std::string& signature);

    // ---- operations ----
    bool EraseTarget();
    int32_t LastFlashAddress() const;
    int32_t LastEEPROMAddress() const;
    bool WriteFlash();
    bool WriteEEPROM();
    bool ReadFlash();
    bool ReadEEPROM();
    bool AutoProgram();
    // Beyond the window's own commands: read the chip back and compare with the buffer up to
    // the last byte a write would send; names the first differing addresses on the board.
    bool VerifyFlash();
    bool VerifyEEPROM();

    // ---- files (the buffers' loaders with the session's messages and status panels) ----
    bool LoadFlashFile(const std::string& path);
    bool LoadEEPROMFile(const std::string& path);
    bool SaveFlashFile(const std::string& path);  // idf, .hex or .bin by extension
    bool SaveEEPROMFile(const std::string& path);

    // ---- download modes and external tools ----
    void ApplyModeControls(int mode);
    void SwitchMode(int mode);
    bool LaunchTool(int mode);   // starts the stored program detached, without a shell
    bool SetToolPath(int mode);  // asks the View for the file, then stores it
    bool SetToolPath(int mode, const std::string& path);
    void ToggleRunProgram();  // MisRunProgramClick
    void ShowSupport();       // MsupportClick

    // ---- state the window shows ----
    PortSet& Ports;
    db::Database& Db;
    CurrentChip Chip;
    Buffers Bufs{Chip};
    EngineEnv Env;

    int32_t PortBase = 0;
    int HardwareGen = 0;
    uint8_t BannerCount = 0;
    uint8_t BannerLimit = kBannerLimit;
    int StoredLaunch = 0;  // "launch" as read at start
    std::string FlashFileName;
    std::string EEPROMFileName;
    int32_t SpeedPosition = 0;
    // A port base chosen outside the settings (the command line's --lpt or direct:0xBASE): it
    // wins over the stored LPT at start; 0 = use the stored one.
    int32_t PortBaseOverride = 0;

    bool Msound = true;
    // The port menu's check marks follow PortBase: LPT n is ticked when PortBase is its base.
    bool Mp(int lpt) const { return lpt != 0 && LptForBase(PortBase) == lpt; }
    bool MisRunProgram = false;
    bool MisautoVerify = true;
    bool Miswrite0xff = false;
    bool isUpdateFlashFile = false;
    bool isUpdateEEPROMfile = false;
    bool isEraseAll = true;
    bool isWriteFlash = true;
    bool isWriteEEPROM = true;
    bool isVerifyAfter = true;  // read the written range back after a write (the sixth box)
    // The window restores the adapter's stored download mode at start; a command-line run
    // leaves the adapter (and the external tools) alone.
    bool RestoreModeAtStart = true;
    bool ChipCurrent = false;  // a chip has been found or chosen since start
    bool Busy() const { return busy_; }

    Tpro& CurrentEngine() { return *current_; }
    // The engine of a method; nullptr for Method::None.
    Tpro* EngineFor(Method method);

  private:
    View& view_;
    int languageCode_ = 0;
    Tpro* current_ = nullptr;
    std::unique_ptr<Tpro> plain_;
    std::array<std::unique_ptr<Tpro>, kSearchOrder.size()> engines_;  // in search order
    bool busy_ = false;
    bool toldUnchecked_ = false;  // the "no signature" note is said once per session
    int storedLpt_ = 0;           // the LPT the settings held, kept when --lpt overrides it
    // Every engine reaches the port of its own base through this router, so the port menu
    // choice and a base set by SetPortBase always meet the same connector.
    std::unique_ptr<PortIo> router_;

    class Scope;  // the no-nesting guard of an operation
    // After an operation: the speed the engine found it had to slow down to becomes the
    // speed bar's, so that it is shown and stored after a good write.
    void AdoptEngineSpeed();
    void Line(const std::string& text);
    void Say(std::string_view key);
    void Say(const Message& message);  // in the current language
    // A file into a buffer with its board lines: the header, then the failure or the report.
    bool LoadToBuffer(Memory side, const std::string& path);
    // An empty line, then where the file went or why it could not be written.
    bool ReportSave(const Status& saved, const std::string& path);
    void Sound(std::string_view name);
    void SetBase();
    void ShowPortChecks();
    bool Preamble(std::string* signature = nullptr);
    void Handshake(uint8_t code);
    void AlteraBanner();
    void ReportNoHardware();
    void EnableAll(std::initializer_list<std::string_view> controls, bool enabled);
    void ApplyEngineOptions();
    void ReadPicConfigWords(bool onlyWhereBlank);
    bool DoSearchChip();
    bool DoAutoSearch();
    bool DoEraseTarget(bool checkChip);
    bool DoCheckChip(std::string* signature);
    bool PortFailed();
    bool RefusesDatabase(const std::string& path);
    bool CompareWithChip(bool flash, int32_t end, bool skipBlank = false);
    bool DoWriteFlash();
    bool DoWriteEEPROM();
    bool DoReadFlash();
    bool DoReadEEPROM();
    bool DoSwitchMode(int mode);
    bool DoVerify(bool flash);
    std::string AddressText(int32_t index, bool flash) const;
};

}  // namespace tondrel::core
