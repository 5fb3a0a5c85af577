#pragma once
// What the session shows, in its own terms: a typed state (adapter, chip, memories, files,
// options, busy, language), the message board, progress, the buffers, sounds and questions.
// The session never names a widget; the window maps the state to its menus, tool bars and
// panels in one place, the terminal shows what it can and ignores the rest, and tests read the
// state and the messages (keys and arguments) as they were given.
#include <cstdint>
#include <optional>
#include <string>

#include "adapter/Controller.h"
#include "common/Memory.h"
#include "common/Messages.h"
#include "common/Prompts.h"

namespace tondrel::core {

// The six boxes of the auto-programming tab, as one value that is set and stored as one.
struct AutoPlan {
    bool UpdateFlashFile = false;   // reload the Flash file before writing
    bool UpdateEEPROMFile = false;  // reload the EEPROM file
    bool EraseAll = true;           // chip erase first
    bool WriteFlash = true;
    bool WriteEEPROM = true;
    bool VerifyAfter = true;  // read the written range back after each write
    // Write the fuse and lock bytes a loaded ELF file carries, after the EEPROM; a choice of
    // this window's run, not stored.
    bool WriteFileFuses = false;
    // ... and check that what the file left out reads blank, not only what it defined
    bool CheckRestBlank = false;
    bool operator==(const AutoPlan&) const = default;
};

using adapter::AdapterKind;

// The adapter found by the last identification.
struct AdapterInfo {
    AdapterKind Kind = AdapterKind::None;
    int Firmware = 0;   // controller firmware 1 or 2 (1.0 / 2.0); 0 without a controller
    std::string Cable;  // Altera: "ByteBlaster" or "ByteBlasterMV"
    bool operator==(const AdapterInfo&) const = default;
};

// Download modes: 1 microcontrollers (this program), 2 Altera, 3 Xilinx, 4 Lattice,
// 5 Willem EPROM3, 6 ARM, 7 MSP430.
inline constexpr int kModeMcu = 1;
inline constexpr int kModeEprom3 = 5;
inline constexpr int kModeMsp430 = 7;

// The speed bar's range: the length of each serial clock phase (half an SCK period) in
// nanoseconds, 0 the fastest.
inline constexpr int32_t kSpeedMax = 300000;
// The SCK rate a speed gives on the parallel port, in Hz: no phase is shorter than the port
// access that makes its edge, about a microsecond.
constexpr uint32_t SckHz(int32_t speed) {
    const int64_t phaseNs = speed < 1000 ? 1000 : speed;
    return static_cast<uint32_t>(500'000'000 / phaseNs);
}
// The same as a text: "250 kHz", "1.67 kHz".
std::string SckText(int32_t speed);

struct SessionState {
    // 0 not chosen yet (English shown), 1 English, 2 Chinese.
    int LanguageCode = 0;
    Language Lang() const { return LanguageCode == 2 ? Language::Chinese : Language::English; }

    AdapterInfo Adapter;          // Kind None: no adapter answered the last identification
    bool AdapterChecked = false;  // an identification has been made since start
    int Mode = 0;                 // the download mode last chosen (0 = none yet)
    bool ModeActive = false;      // the adapter was switched to Mode and has answered since

    std::string ChipName;    // the chip found or chosen last ("" = none since start)
    bool ChipReady = false;  // that chip can be worked on (no adapter or search failure since)
    bool HasFlash = false;   // the current chip has Flash (EEPROM)
    bool HasEEPROM = false;
    std::string FlashFile;  // the files loaded last
    std::string EEPROMFile;

    bool Busy = false;  // an operation runs
    AutoPlan Plan;
    bool Sound = true;
    bool AutoVerify = true;   // poll each written byte until it reads back
    bool WriteBlank = false;  // also write 0xFF bytes
    bool RunProgram = false;  // start the mode's external tool when switching
    int Lpt = 1;              // the LPT of the port in use; 0 = another base
    int32_t Speed = 0;        // the speed bar

    bool SearchAllowed() const { return Mode == kModeMcu && Adapter.Kind != AdapterKind::None; }
    bool operator==(const SessionState&) const = default;
};

enum class SoundName : uint8_t { Detect, Error, Done };

class View : public Prompts {
  public:
    // Everything above changed: show it. Called once at construction and after each change.
    virtual void StateChanged(const SessionState& state) = 0;
    virtual void ClearBoard() = 0;

    // ---- progress ----
    // A long operation's phase (writing Flash, verifying EEPROM, ...) begins: `total` bytes.
    virtual void SetProgressMax(int32_t total, const Message& phase) = 0;
    // `position` of those bytes are done.
    virtual void SetProgress(int32_t position) = 0;
    // Called between bytes of a long operation: a window repaints here (throttled by the view).
    virtual void Breathe() = 0;
    // True once the program was asked to end (Ctrl+C, SIGTERM): a long operation stops between
    // bytes, leaving programming mode as any failure does.
    virtual bool StopAsked() const { return false; }

    // The buffer of `memory` changed as a whole; `bringToFront`: show its grid now.
    virtual void ShowBuffer(Memory memory, bool bringToFront) = 0;

    // Only called when the sound option is on.
    virtual void PlaySound(SoundName sound) = 0;
    // The first-start language choice: 1 English, 2 Chinese, 0 when nothing was chosen.
    virtual int ChooseLanguage() = 0;
    // A file-open dialog for an external tool (mode 1 to 7); nothing when cancelled.
    virtual std::optional<std::string> PickToolPath(int mode) = 0;
};

// The texts views show for the state, so the window and the terminal say the same.
// The adapter's three labels (name, hardware version, kernel or cable).
struct AdapterLabels {
    Message Name, Version, Detail;
};
AdapterLabels LabelsOf(const AdapterInfo& adapter, bool checked);
// The programmer status line: the mode the adapter serves, or that it did not start.
Message ModeStatusOf(const SessionState& state);

}  // namespace tondrel::core
