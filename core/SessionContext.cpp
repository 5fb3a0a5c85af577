#include "core/SessionContext.h"

#include <algorithm>
#include <type_traits>

#include "engines/Engines.h"

namespace tondrel::core {

namespace {

// Forwards every register access to the port the set has at that register's base. Port bases
// are multiples of four, so the base is the address with its register bits cleared.
class RoutedPort : public PortIo {
  public:
    explicit RoutedPort(PortSet& set) : set_(set) {}
    uint8_t PortIn(uint16_t a) override { return For(a).PortIn(a); }
    void PortOut(uint16_t a, uint8_t v) override { For(a).PortOut(a, v); }
    void SetPortBit(uint16_t a, uint8_t bit) override { For(a).SetPortBit(a, bit); }
    void ClrPortBit(uint16_t a, uint8_t bit) override { For(a).ClrPortBit(a, bit); }
    bool GetPortBit(uint16_t a, uint8_t bit) override { return For(a).GetPortBit(a, bit); }
    void ChangePortBits(uint16_t a, uint8_t mask, uint8_t values) override {
        For(a).ChangePortBits(a, mask, values);
    }
    std::string Describe() const override { return set_.Describe(); }
    // A failure reaches the engine that met it, so it is known where it happens.
    Status TakeError() override { return set_.TakeError(); }

  private:
    PortIo& For(uint16_t address) {
        const int32_t base = address & ~3;
        // The set's home can move once (FollowStoredLpt), so the cache is keyed on it too.
        const int32_t home = set_.HomeBase();
        if (base != lastBase_ || home != lastHome_ || last_ == nullptr) {
            last_ = &set_.At(base);
            lastBase_ = base;
            lastHome_ = home;
        }
        return *last_;
    }
    PortSet& set_;
    int32_t lastBase_ = -1;
    int32_t lastHome_ = -1;
    PortIo* last_ = nullptr;
};

}  // namespace

SessionContext::SessionContext(View& view, db::Database& database, PortSet& ports)
    : Out(view), Db(database), Ports(ports), router_(std::make_unique<RoutedPort>(ports)) {
    env_.Io = router_.get();
    env_.Clk = &ports.GetClock();
    env_.Chip = &Chip;
    env_.Link = ports.Link();
    plain_ = MakeEngine(Method::None, env_);
    for (size_t i = 0; i < kSearchOrder.size(); ++i)
        engines_[i] = MakeEngine(kSearchOrder[i], env_);
    current_ = plain_.get();
}

SessionContext::~SessionContext() = default;

Tpro& SessionContext::EngineFor(Method method) {
    for (size_t i = 0; i < kSearchOrder.size(); ++i)
        if (kSearchOrder[i] == method) return *engines_[i];
    return *plain_;
}

void SessionContext::ApplyEngineOptions() {
    current_->SetAutoVerify(MisautoVerify);
    current_->SetWriteBlank(Miswrite0xff);
    current_->SetBitDelay(SpeedPosition);
}

// ---- engine calls ----

// Each call notes a port failure where it happens; PortStatus says the first one.
template <typename T>
T SessionContext::Noted(T outcome) {
    if constexpr (std::is_same_v<T, Status>)
        Note(outcome);
    else
        Note(outcome.GetStatus());
    return outcome;
}

Status SessionContext::Enter() {
    return Noted(current_->EnterProgramming());
}

void SessionContext::Leave() {
    (void)Noted(current_->LeaveProgramming());
}

Result<std::string> SessionContext::ReadSignature() {
    return Noted(current_->ReadSignature());
}

Status SessionContext::EraseChip() {
    return Noted(current_->EraseChip());
}

Status SessionContext::WriteByte(Memory memory, int32_t address, uint8_t value) {
    return Noted(memory == Memory::Flash ? current_->WriteFlashByte(address, value)
                                         : current_->WriteEepromByte(address, value));
}

Result<uint8_t> SessionContext::ReadByte(Memory memory, int32_t address) {
    return Noted(memory == Memory::Flash ? current_->ReadFlashByte(address)
                                         : current_->ReadEepromByte(address));
}

Result<uint16_t> SessionContext::ReadPicConfigWord(int index) {
    return Noted(current_->ReadConfigWord(index));
}

Status SessionContext::EraseEverything() {
    return Noted(current_->EraseEverything());
}

// ---- saying things ----

Status SessionContext::Fail(const Status& failure) {
    Say(failure.Error());
    Sound(SoundName::Error);
    return failure;
}

bool SessionContext::IsPortFailure(const Status& s) {
    return !s.Ok() && s.Key().rfind("Engine", 0) != 0;
}

void SessionContext::Note(const Status& s) {
    if (IsPortFailure(s) && portFailure_.Ok()) portFailure_ = s;
}

Status SessionContext::TakePortFailure() {
    Status failure = std::move(portFailure_);
    portFailure_ = {};
    if (failure.Ok()) failure = Ports.TakeError();
    return failure;
}

Status SessionContext::PortStatus() {
    const Status failure = TakePortFailure();
    if (failure.Ok()) return {};
    Blank();
    return Fail(Status::Error("CorePortFailed", failure.Text(Lang())));
}

SessionState SessionContext::State() const {
    SessionState s;
    s.LanguageCode = LanguageCode;
    s.Adapter = HardwareGen;
    s.AdapterChecked = AdapterChecked;
    s.Mode = Mode;
    s.ModeActive = ModeActive;
    s.ChipName = ChipCurrent ? Chip.CurrentChipName : std::string();
    s.ChipReady = ChipReady;
    s.HasFlash = Chip.FlashSize >= 1;
    s.HasEEPROM = Chip.EEPROMSize >= 1;
    s.FlashFile = FlashFileName;
    s.EEPROMFile = EEPROMFileName;
    s.Busy = BusyShown;
    s.Plan = Plan;
    s.Sound = Msound;
    s.AutoVerify = MisautoVerify;
    s.WriteBlank = Miswrite0xff;
    s.RunProgram = MisRunProgram;
    s.Lpt = LptForBase(PortBase);
    s.Speed = SpeedPosition;
    return s;
}

void SessionContext::Publish() {
    SessionState now = State();
    if (published_ && now == *published_) return;
    published_ = now;
    Out.StateChanged(now);
}

// ---- guards ----

OperationScope::OperationScope(SessionContext& s, bool signal) : s_(s), signal_(signal) {
    if (s_.Busy) return;
    s_.Busy = true;
    ok_ = true;
    if (signal_) {
        s_.BusyShown = true;
        s_.Publish();
    }
}

OperationScope::~OperationScope() {
    if (!ok_) return;
    // The speed the engine found it had to slow down to becomes the speed bar's, so that it is
    // shown and stored after a good write.
    const int32_t working = s_.Engine().WorkingBitDelay();
    if (working >= 0 && working != s_.SpeedPosition)
        s_.SpeedPosition = std::clamp<int32_t>(working, 0, kSpeedMax);
    s_.Busy = false;
    s_.BusyShown = false;
    s_.StopAsked = false;
    s_.Publish();
}

ProgrammingMode::ProgrammingMode(SessionContext& s)
    : s_(s), entered_(s.ModeHolders > 0 ? s.HeldEntry : s.Enter()) {
    if (s_.ModeHolders++ == 0) s_.HeldEntry = entered_;
}

ProgrammingMode::~ProgrammingMode() {
    if (--s_.ModeHolders == 0) s_.Leave();
}

}  // namespace tondrel::core
