#pragma once
// What the parts of the session share: the view, the database, the ports, the engines, the
// current chip and its buffers, and the values the main window shows. Internal to core/: front
// ends reach all of it through Session.
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/ChipRecord.h"
#include "common/Method.h"
#include "common/Status.h"
#include "core/Ports.h"
#include "core/View.h"
#include "data/Buffers.h"
#include "data/FileLoad.h"
#include "data/SerialField.h"
#include "db/Database.h"
#include "engines/Tpro.h"

namespace tondrel::core {

class SessionContext {
  public:
    SessionContext(View& view, db::Database& database, PortSet& ports);
    ~SessionContext();
    SessionContext(const SessionContext&) = delete;
    SessionContext& operator=(const SessionContext&) = delete;

    View& Out;
    db::Database& Db;
    PortSet& Ports;

    // ---- the values the window shows, by their given names ----
    CurrentChip Chip;
    Buffers Bufs{Chip};
    int32_t PortBase = 0;
    AdapterInfo HardwareGen;  // the adapter found by the last identification
    std::string FlashFileName;
    std::string EEPROMFileName;
    // The fuse and lock bytes of the last file that carried any, kept until a Flash file
    // without them is loaded; written only when asked.
    std::optional<FileConfigBytes> FileConfig;
    int32_t SpeedPosition = 0;
    bool Msound = true;
    bool MisRunProgram = false;
    bool MisautoVerify = true;
    bool Miswrite0xff = false;
    int LanguageCode = 0;  // 0 not chosen yet, 1 English, 2 Chinese
    AutoPlan Plan;         // the plan in use
    AutoPlan StoredPlan;   // the plan the settings keep
    int Mode = 0;
    bool ModeActive = false;
    bool AdapterChecked = false;
    bool ChipCurrent = false;   // a chip has been found or chosen since start
    bool ChosenByName = false;  // the current chip was picked from the catalogue, not found
    bool ChipReady = false;
    bool Busy = false;       // an operation runs (no other may start)
    bool BusyShown = false;  // ... and the view was told, so it holds its controls off
    int StoredLaunch = 0;    // "launch" as read at start
    int StoredLpt = 1;       // the LPT the settings held, kept when --lpt overrides it
    int32_t PortBaseOverride = 0;
    std::optional<int32_t> RunSpeed;  // StartOptions::Speed
    bool LaunchTools = true;          // StartOptions::LaunchTools
    bool ToldUnchecked = false;       // the "cannot be identified" note is said once per session
    // The catalogue chip whose signature the socket answered with when the last check found
    // another chip than the chosen one; empty otherwise.
    std::optional<ChipRecord> ChipFound;
    // A Stop asked for (the window's button, a signal handler): the running operation ends at
    // its next byte. Lock-free, so a signal handler may set it; cleared when the operation ends.
    std::atomic<bool> StopAsked = false;
    // The number the next auto programming writes into the chip, over the file's data.
    std::optional<SerialStamp> Serial;
    // Programming mode held by an outer ProgrammingMode (auto programming keeps one through all
    // its steps): the inner ones neither enter nor leave, and report how the outer one entered.
    int ModeHolders = 0;
    Status HeldEntry;

    // ---- engines ----
    Tpro& Engine() { return *current_; }
    Tpro& PlainEngine() { return *plain_; }
    // The engine of a method; the plain pin layer for Method::None.
    Tpro& EngineFor(Method method);
    void UseEngine(Tpro& engine) { current_ = &engine; }
    // The current engine on the port base in use.
    void SetBase() { current_->SetPortBase(PortBase); }
    // The menu's engine options and the speed bar, as the engine must follow them.
    void ApplyEngineOptions();

    // ---- the current engine, in the session's terms ----
    Status Enter();
    void Leave();
    Result<std::string> ReadSignature();
    Status EraseChip();
    Status WriteByte(Memory memory, int32_t address, uint8_t value);
    Result<uint8_t> ReadByte(Memory memory, int32_t address);
    // A PIC's ID words (0-3) and configuration word (7); the engine enters and leaves
    // programming mode for it by itself.
    Result<uint16_t> ReadPicConfigWord(int index);
    // A PIC wiped whatever its code protection says (a whole programming session of its own).
    Status EraseEverything();

    // ---- saying things ----
    Language Lang() const { return LanguageCode == 2 ? Language::Chinese : Language::English; }
    void Say(const Message& m) { Out.Say(m); }
    template <typename... Args>
    void Say(std::string_view key, const Args&... args) {
        Out.Say(Msg(key, args...));
    }
    void Blank() { Out.Say(Message{}); }
    // Between two bytes of a long operation: the view breathes, then says whether a Stop came.
    bool BreatheStopped() {
        Out.Breathe();
        return StopWanted();
    }
    // A Stop from the window or the session, or the view's own (a terminal's stop signal).
    bool StopWanted() const { return StopAsked.load() || Out.StopAsked(); }
    void Sound(SoundName s) {
        if (Msound) Out.PlaySound(s);
    }
    // Says a failure on the board, with the error sound, and hands it back.
    Status Fail(const Status& failure);
    // The first port failure since the last look, said and returned; fine when the port is well.
    Status PortStatus();
    // The same, neither said nor sounded.
    Status TakePortFailure();
    // A failure of the port behind an engine operation, not one the engine found itself.
    static bool IsPortFailure(const Status& s);
    // Tells the view the state after a change.
    void Publish();
    SessionState State() const;

  private:
    std::unique_ptr<PortIo> router_;  // every engine reaches the port of its own base
    std::unique_ptr<Tpro> plain_;
    std::array<std::unique_ptr<Tpro>, kSearchOrder.size()> engines_;  // in search order
    Tpro* current_ = nullptr;
    EngineEnv env_;
    std::optional<SessionState> published_;
    Status portFailure_;  // the first an engine operation returned since the last look

    void Note(const Status& s);
    template <typename T>
    T Noted(T outcome);
};

// The no-nesting guard of an operation: refused while another runs. `signal`: the view hears
// that an operation runs (its operation controls go off meanwhile).
class OperationScope {
  public:
    OperationScope(SessionContext& s, bool signal);
    ~OperationScope();
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;
    explicit operator bool() const { return ok_; }
    static Status Refused() { return Status::Error("CoreBusy"); }

  private:
    SessionContext& s_;
    bool signal_;
    bool ok_ = false;
};

// Programming mode, held for the life of the object: entered at construction, left at the end,
// whatever path the operation takes out. One made while another lives only shares it.
class ProgrammingMode {
  public:
    explicit ProgrammingMode(SessionContext& s);
    ~ProgrammingMode();
    ProgrammingMode(const ProgrammingMode&) = delete;
    ProgrammingMode& operator=(const ProgrammingMode&) = delete;
    // Whether the chip answered the enable command (some chips never answer: then true).
    const Status& Entered() const { return entered_; }

  private:
    SessionContext& s_;
    Status entered_;
};

}  // namespace tondrel::core
