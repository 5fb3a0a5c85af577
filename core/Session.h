#pragma once
// The session: everything the main window knows and does, without drawing anything. The
// window, the command-line tool and the tests each drive one Session through a View; it is
// the one door to the adapter, the chip, the buffers, the database and the configuration.
//
// Every operation runs synchronously to its end; between bytes it calls View::Breathe so a
// window can repaint. Operations do not nest: one started while another runs fails at once
// ("CoreBusy") and changes nothing. Each failure is said on the board when it happens and
// returned as well, so a caller knows the outcome without reading the board.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ChipRecord.h"
#include "common/Memory.h"
#include "common/Status.h"
#include "core/Ports.h"
#include "core/View.h"
#include "data/FileLoad.h"
#include "data/GridText.h"
#include "data/SerialField.h"
#include "db/Database.h"

namespace tondrel::config {
class ConfigForm;
}

namespace tondrel::core {

// Download-mode names on the command line ("MCU" ... "MSP430", any case) -> 1 ... 7; 0 when
// unknown.
int ModeFromName(const std::string& name);

// The LPT the settings hold (LPT1 where they hold none or nonsense): read before the port is
// opened, so that the device opened is the one the stored choice names.
int StoredLpt(db::Database& db);

struct StartOptions {
    // A port base chosen for this run only (--lpt): it wins over the stored LPT and is not
    // stored; 0 = the stored one.
    int32_t PortBaseOverride = 0;
    // The window restores the adapter's stored download mode at start; a command-line run
    // leaves the adapter (and the external tools) alone.
    bool RestoreMode = true;
    // A mode switch starts the mode's external tool when the stored option says so; a
    // command-line run never starts one.
    bool LaunchTools = true;
    // A speed given for this run only (--speed): the search probes every engine at it, and it
    // wins over the speed stored for the chip found or chosen.
    std::optional<int32_t> Speed;
};

// How long a plan given to SetPlan holds.
enum class PlanScope : uint8_t {
    Stored,   // the user's choice: kept and written back with the settings
    ThisRun,  // one run's flags (the command line): used, never stored
};

class Session {
  public:
    // The database and the ports must outlive the session.
    Session(View& view, db::Database& database, PortSet& ports);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // ---- start and end ----
    // The settings, the language choice, quiet port lines, the 500 ms wait, then the start-up
    // mode restore. Fails only when the settings cannot be read (said on the board as well).
    Status Start(const StartOptions& options = {});
    // Writes the settings back, then sends the adapter to rest (identification code) whatever
    // the database said.
    Status SaveSettings();

    SessionState State() const;
    const CurrentChip& Chip() const;
    const std::vector<uint8_t>& Buffer(Memory memory) const;
    int32_t PortBase() const;

    // ---- choices (each tells the view) ----
    void SetLanguageCode(int code);  // 1 English, 2 Chinese; other values change nothing
    void SwapLanguage();             // Mchinese / Menglish: both swap the two
    void SetSound(bool on);
    void SetAutoVerify(bool on);
    void SetWriteBlank(bool on);
    void SetRunProgram(bool on);  // stored at once
    void SetPlan(const AutoPlan& plan, PlanScope scope = PlanScope::Stored);
    void SetSpeed(int32_t position);  // clamped to 0 .. kSpeedMax
    // Mp1..Mp3: the port of that LPT, then an automatic search.
    void ChoosePort(int lpt);

    // ---- adapter ----
    Result<AdapterInfo> DetectHardware();
    Status ResetTarget();
    Status SwitchMode(int mode);
    // A file dialog through the view, then the path is stored; or the given path is stored.
    Status SetToolPath(int mode);
    Status SetToolPath(int mode, const std::string& path);
    void ShowSupport();
    // The port test: one connector pin (1-17) at PortBase, as a level on the cable.
    bool SetTestPin(uint8_t pin, bool high);  // false for a pin that is not an output
    bool TestPin(uint8_t pin);

    // ---- the chip ----
    Result<ChipRecord> AutoSearch();
    // The chip dialog's choice: the record becomes current without touching the target.
    void SelectChip(const ChipRecord& record);
    // After a check that found another catalogue chip in the socket than the chosen one
    // ("CoreWrongChip"), that chip: the window offers to select it.
    std::optional<ChipRecord> ChipFound() const;
    // The adapter answers and so does a chip. Chips without a signature pass with a note.
    Status CheckChip();
    // The chip's signature ("" for a chip that has none), after the same check.
    Result<std::string> ReadSignature();

    // ---- operations ----
    Status Erase();
    Status Write(Memory memory);
    Status Read(Memory memory);
    // Reads the chip back and compares it with the buffer up to the last byte a write sends.
    Status Verify(Memory memory);
    Status AutoProgram();
    // Asks the running operation to end at its next byte: it leaves programming mode and says
    // it stopped; auto programming skips its later steps. Only sets a lock-free flag, so a
    // signal handler may call it; without an operation running the next one stops at once
    // (a Ctrl-C between the steps of a command line ends the run there).
    void Stop();
    // The serial number the next auto programmings write (none: the file alone).
    void SetSerialStamp(std::optional<SerialStamp> stamp);
    // The signature the socket answers with now, "" for an empty socket; quiet, for a loop that
    // waits for the next chip.
    Result<std::string> ProbeSocket();

    // ---- buffers and files ----
    // Intel HEX, S-records, ELF, idf or binary (data/FileLoad.h); an ELF file's fuse and lock
    // bytes are kept for WriteFileConfiguration.
    Status LoadFile(Memory memory, const std::string& path);
    // idf, Intel HEX (.hex; .eep for the EEPROM) or raw binary (.bin) by the extension; an ELF
    // or S-record name is refused, since loading it again would not read what was saved.
    Status SaveFile(Memory memory, const std::string& path);
    // What a cell editor closing with `text` stores at `position`; returns the cell's text.
    std::string EditBuffer(Memory memory, GridMode mode, int32_t position, std::string_view text);
    // The last buffer address a write of that memory sends; -1 when it holds no data.
    int32_t LastAddress(Memory memory) const;

    // ---- configuration bits ----
    // The current chip's configuration form, opened (its groups read) once a chip answers;
    // questions and messages go to `prompts`.
    Result<std::unique_ptr<config::ConfigForm>> OpenConfiguration(Prompts& prompts);
    // The first port failure since the last look (a configuration command reaches the chip
    // outside the session's operations), naming the device; fine when the port is well.
    Status TakePortError();
    // The fuse and lock bytes the loaded files carry (an avr-gcc ELF's .fuse and .lock), shown
    // when loaded; WriteFileConfiguration writes them through the configuration form, with its
    // questions and re-read, refused for another chip than the one in the socket.
    std::optional<FileConfigBytes> FileConfiguration() const;
    Status WriteFileConfiguration(Prompts& prompts, bool dryRun = false);
    // Fails, saying so, when those bytes are for another chip than the current one: a front
    // end that writes them after the memories asks first, so that nothing is written at all.
    Status CheckFileConfiguration();

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace tondrel::core
