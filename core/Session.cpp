// The session's door: each public operation hands over to the part that owns it.
#include "core/Session.h"

#include <algorithm>

#include "config/ConfigForm.h"
#include "core/AdapterLink.h"
#include "core/ChipSelection.h"
#include "core/Programming.h"
#include "core/SerialStamp.h"
#include "core/SessionContext.h"
#include "core/SessionSettings.h"

namespace tondrel::core {

namespace {
// From driving every port line low at start to the adapter detection.
constexpr uint32_t kStartSettleMs = 50;
}  // namespace

struct Session::Parts {
    Parts(View& view, db::Database& database, PortSet& ports)
        : Context(view, database, ports),
          Settings(Context),
          Link(Context),
          Chips(Context, Link),
          Work(Context, Link, Chips) {}
    SessionContext Context;
    SessionSettings Settings;
    AdapterLink Link;
    ChipSelection Chips;
    Programming Work;
};

Session::Session(View& view, db::Database& database, PortSet& ports)
    : parts_(std::make_unique<Parts>(view, database, ports)) {
    parts_->Context.Publish();
}

Session::~Session() = default;

// ---- start and end ----

Status Session::Start(const StartOptions& options) {
    SessionContext& s = parts_->Context;
    s.PortBaseOverride = options.PortBaseOverride;
    s.LaunchTools = options.LaunchTools;
    s.RunSpeed.reset();
    if (options.Speed) s.RunSpeed = std::clamp<int32_t>(*options.Speed, 0, kSpeedMax);
    parts_->Link.Restart();
    if (auto loaded = parts_->Settings.Load(); !loaded) return loaded;
    s.UseEngine(s.PlainEngine());
    s.SetBase();
    s.Engine().WriteControlPort(0);
    s.Engine().WriteDataPort(0);
    // The lines settle in microseconds; the adapter's controller sees them low well before
    // the detection handshake that follows.
    s.Ports.GetClock().SleepMs(kStartSettleMs);
    s.ChipReady = false;
    s.Publish();
    if (options.RestoreMode) parts_->Link.RestoreStoredMode();
    return {};
}

Status Session::SaveSettings() {
    const Status saved = parts_->Settings.Save();
    // The adapter goes to rest whatever the database said.
    parts_->Link.SendRest();
    return saved;
}

SessionState Session::State() const {
    return parts_->Context.State();
}

const CurrentChip& Session::Chip() const {
    return parts_->Context.Chip;
}

const std::vector<uint8_t>& Session::Buffer(Memory memory) const {
    const Buffers& b = parts_->Context.Bufs;
    return memory == Memory::Flash ? b.FlashBuffer : b.EEPROMBuffer;
}

int32_t Session::PortBase() const {
    return parts_->Context.PortBase;
}

// ---- choices ----

void Session::SetLanguageCode(int code) {
    parts_->Settings.SetLanguageCode(code);
}
void Session::SwapLanguage() {
    parts_->Settings.SwapLanguage();
}
void Session::SetSound(bool on) {
    parts_->Settings.SetSound(on);
}
void Session::SetAutoVerify(bool on) {
    parts_->Settings.SetAutoVerify(on);
}
void Session::SetWriteBlank(bool on) {
    parts_->Settings.SetWriteBlank(on);
}
void Session::SetRunProgram(bool on) {
    parts_->Link.SetRunProgram(on);
}
void Session::SetPlan(const AutoPlan& plan, PlanScope scope) {
    parts_->Settings.SetPlan(plan, scope == PlanScope::Stored);
}
void Session::SetSpeed(int32_t position) {
    parts_->Settings.SetSpeed(position);
}
void Session::ChoosePort(int lpt) {
    parts_->Chips.ChoosePort(lpt);
}

// ---- adapter ----

Result<AdapterInfo> Session::DetectHardware() {
    return parts_->Link.Detect();
}
Status Session::ResetTarget() {
    return parts_->Link.Reset();
}
Status Session::SwitchMode(int mode) {
    return parts_->Link.SwitchMode(mode);
}
Status Session::SetToolPath(int mode) {
    return parts_->Link.SetToolPath(mode);
}
Status Session::SetToolPath(int mode, const std::string& path) {
    return parts_->Link.SetToolPath(mode, path);
}
void Session::ShowSupport() {
    parts_->Link.ShowSupport();
}
bool Session::SetTestPin(uint8_t pin, bool high) {
    return parts_->Link.SetTestPin(pin, high);
}
bool Session::TestPin(uint8_t pin) {
    return parts_->Link.TestPin(pin);
}

// ---- the chip ----

Result<ChipRecord> Session::AutoSearch() {
    return parts_->Chips.AutoSearch();
}
void Session::SelectChip(const ChipRecord& record) {
    parts_->Chips.Select(record);
}
std::optional<ChipRecord> Session::ChipFound() const {
    return parts_->Context.ChipFound;
}
Status Session::CheckChip() {
    return parts_->Work.Run(Programming::Operation::CheckChip);
}
Result<std::string> Session::ReadSignature() {
    return parts_->Work.ReadSignature();
}

// ---- operations ----

Status Session::Erase() {
    return parts_->Work.Run(Programming::Operation::Erase);
}
Status Session::Write(Memory memory) {
    return parts_->Work.Run(Programming::Operation::Write, memory);
}
Status Session::Read(Memory memory) {
    return parts_->Work.Run(Programming::Operation::Read, memory);
}
Status Session::Verify(Memory memory) {
    return parts_->Work.Run(Programming::Operation::Verify, memory);
}
Status Session::AutoProgram() {
    return parts_->Work.Run(Programming::Operation::AutoProgram);
}
void Session::Stop() {
    parts_->Context.StopAsked = true;
}
void Session::SetSerialStamp(std::optional<SerialStamp> stamp) {
    parts_->Context.Serial = std::move(stamp);
}
Result<std::string> Session::ProbeSocket() {
    return core::ProbeSocket(parts_->Context);
}

// ---- buffers and files ----

Status Session::LoadFile(Memory memory, const std::string& path) {
    return parts_->Work.LoadFile(memory, path);
}
Status Session::SaveFile(Memory memory, const std::string& path) {
    return parts_->Work.SaveFile(memory, path);
}
std::string Session::EditBuffer(Memory memory, GridMode mode, int32_t position,
                                std::string_view text) {
    return parts_->Work.EditBuffer(memory, mode, position, text);
}
int32_t Session::LastAddress(Memory memory) const {
    return parts_->Work.LastAddress(memory);
}

// ---- configuration ----

Result<std::unique_ptr<config::ConfigForm>> Session::OpenConfiguration(Prompts& prompts) {
    // The configuration bits of an empty socket would read as all set and "write" fine.
    if (auto answered = CheckChip(); !answered) return answered;
    return parts_->Work.OpenForm(prompts);
}

Status Session::WriteFileConfiguration(Prompts& prompts, bool dryRun) {
    return parts_->Work.WriteFileConfiguration(prompts, dryRun);
}

Status Session::CheckFileConfiguration() {
    return parts_->Work.CheckFileConfiguration();
}

std::optional<FileConfigBytes> Session::FileConfiguration() const {
    return parts_->Context.FileConfig;
}

Status Session::TakePortError() {
    return parts_->Context.TakePortFailure();
}

}  // namespace tondrel::core
