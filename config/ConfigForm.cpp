#include "config/ConfigForm.h"

#include <cctype>
#include <stdexcept>

#include "common/Text.h"
#include "config/Consequences.h"

namespace tondrel::config {
namespace {

std::string Hex2(uint16_t v) {
    return HexText(v & 0xFF, 2);
}

}  // namespace

uint8_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return static_cast<uint8_t>(up - 'A' + 10);
}

uint8_t HexPairToByte(char c1, char c2) {
    return static_cast<uint8_t>(16 * HexDigitValue(c1) + HexDigitValue(c2));
}

ConfigForm::ConfigForm(const LayoutDesc& layout, Tpro& engine, int32_t portBase, Prompts& prompts,
                       std::string chip)
    : layout_(layout),
      engine_(engine),
      portBase_(portBase),
      prompts_(&prompts),
      chip_(chip.empty() && !layout.ChipNames.empty() ? layout.ChipNames.front() : chip) {
    for (const GroupDesc& g : layout_.Groups) {
        readValue_.push_back(g.WriteBase);
        std::vector<BoxState> states;
        for (const BoxDesc& b : g.Boxes) states.push_back({false, !b.Disabled});
        boxes_.push_back(std::move(states));
        readTicked_.emplace_back(g.Boxes.size(), false);
        if (g.Kind == GroupKind::PicUserIds) edits_.assign(g.Edits.size(), std::string());
    }
}

void ConfigForm::Open() {
    engine_.SetPortBase(portBase_);
    engine_.InitPinMap();
    for (const std::string& g : layout_.OpenOrder) Refresh(g);
}

// ---- lookup ----

size_t ConfigForm::GroupIndex(const std::string& name) const {
    for (size_t i = 0; i < layout_.Groups.size(); ++i)
        if (layout_.Groups[i].Name == name) return i;
    throw std::out_of_range("no group " + name + " in " + layout_.ClassName);
}

const GroupDesc& ConfigForm::Group(const std::string& name) const {
    return layout_.Groups[GroupIndex(name)];
}

bool ConfigForm::HasGroup(const std::string& name) const {
    for (const GroupDesc& g : layout_.Groups)
        if (g.Name == name) return true;
    return false;
}

bool ConfigForm::Find(const std::string& boxName, Where& where) const {
    for (size_t g = 0; g < layout_.Groups.size(); ++g)
        for (size_t b = 0; b < layout_.Groups[g].Boxes.size(); ++b)
            if (layout_.Groups[g].Boxes[b].Name == boxName) {
                where = {g, b};
                return true;
            }
    return false;
}

bool ConfigForm::HasBox(const std::string& boxName) const {
    Where w{};
    return Find(boxName, w);
}

const BoxState& ConfigForm::Box(const std::string& boxName) const {
    Where w{};
    if (!Find(boxName, w))
        throw std::out_of_range("no box " + boxName + " in " + layout_.ClassName);
    return boxes_[w.Group][w.Box];
}

// ---- chip access ----

uint16_t ConfigForm::Bracketed(const Command& c) {
    answered_ = engine_.EnterProgramming().Ok();
    const uint16_t reply = engine_.RawCommand(c.B1, c.B2, c.B3, c.B4).ValueOr(0);
    (void)engine_.LeaveProgramming();
    return reply;
}

uint16_t ConfigForm::Send(const Command& c) {
    // A PIC group reads a configuration-memory word; the engine enters and leaves programming
    // mode for it by itself.
    if (layout_.Fam == Family::Pic) {
        const auto word = engine_.ReadConfigWord(c.B1);
        answered_ = word.Ok();
        return word.ValueOr(0);
    }
    return Bracketed(c);
}

uint16_t ConfigForm::ReadValue(const std::string& groupName) const {
    return readValue_[GroupIndex(groupName)];
}

// ---- reads ----

void ConfigForm::ShowBits(size_t group, size_t read, uint16_t value) {
    const GroupDesc& g = layout_.Groups[group];
    if (read == 0) readValue_[group] = value;
    for (size_t i = 0; i < g.Boxes.size(); ++i) {
        const BoxDesc& b = g.Boxes[i];
        if (static_cast<size_t>(b.Read) != read) continue;
        const bool one = ((value >> b.ReadBit) & 1u) != 0;
        boxes_[group][i].Ticked = g.TickOnOne ? one : !one;
        readTicked_[group][i] = boxes_[group][i].Ticked;
    }
}

void ConfigForm::RefreshLockBits(size_t group) {
    auto& states = boxes_[group];
    for (BoxState& s : states) s = {true, true};
    const uint16_t v = Bracketed(layout_.Groups[group].Reads.at(0));
    readValue_[group] = v;
    // A programmed lock bit can only be returned to 1 by a chip erase: it stays ticked and the
    // user cannot untick it, so a later write sends it as 0 again.
    const GroupDesc& g = layout_.Groups[group];
    for (size_t i = 0; i < g.Boxes.size(); ++i) {
        if ((v >> g.Boxes[i].ReadBit) & 1u)
            states[i].Ticked = false;
        else
            states[i].Enabled = false;
        readTicked_[group][i] = states[i].Ticked;
    }
}

void ConfigForm::RefreshUserIds(size_t group) {
    const GroupDesc& g = layout_.Groups[group];
    for (size_t n = 0; n < g.Reads.size() && n < edits_.size(); ++n)
        edits_[n] = HexText(Send(g.Reads[n]), 4);
}

void ConfigForm::Refresh(const std::string& groupName) {
    const size_t gi = GroupIndex(groupName);
    const GroupDesc& g = layout_.Groups[gi];
    switch (g.Kind) {
        case GroupKind::LockBits:
            RefreshLockBits(gi);
            return;
        case GroupKind::PicUserIds:
            RefreshUserIds(gi);
            return;
        default:
            for (size_t r = 0; r < g.Reads.size(); ++r) ShowBits(gi, r, Send(g.Reads[r]));
    }
}

// ---- writes ----

uint16_t ConfigForm::ValueToWrite(const std::string& groupName) const {
    const size_t gi = GroupIndex(groupName);
    const GroupDesc& g = layout_.Groups[gi];
    uint16_t v = g.WriteBase;
    // Disabled boxes count like the others: a programmed lock bit and SPIEN go back as read.
    for (size_t i = 0; i < g.Boxes.size(); ++i)
        if (boxes_[gi][i].Ticked) v = static_cast<uint16_t>(v & ~g.Boxes[i].WriteMask);
    return v;
}

void ConfigForm::WriteUserIds(size_t group) {
    const GroupDesc& g = layout_.Groups[group];
    for (size_t n = 0; n < edits_.size(); ++n) {
        // Blanks and tabs around the digits are no part of the word.
        std::string t(Trim(edits_[n]));
        if (t.size() < 4) t.insert(0, 4 - t.size(), '0');
        const uint8_t high = HexPairToByte(t[0], t[1]);
        const uint8_t low = HexPairToByte(t[2], t[3]);
        (void)engine_.WriteConfigWord(g.Write.B1 + static_cast<int>(n),
                                      static_cast<uint16_t>(high << 8 | low));
    }
}

Status ConfigForm::WriteValue(const std::string& groupName, uint16_t value, bool confirmed) {
    const size_t gi = GroupIndex(groupName);
    const GroupDesc& g = layout_.Groups[gi];
    for (size_t i = 0; i < g.Boxes.size(); ++i) {
        const uint16_t mask = g.Boxes[i].WriteMask;
        if (mask == 0) continue;
        const bool ticked = (value & mask) != mask;
        BoxState& state = boxes_[gi][i];
        if (state.Ticked == ticked) continue;
        if (!state.Enabled)
            return Status::Error(g.Kind == GroupKind::LockBits ? "CfgBoxLocked" : "CfgBoxFixed",
                                 g.Boxes[i].Name, g.Boxes[i].Caption);
        state.Ticked = ticked;
    }
    return Write(groupName, confirmed);
}

bool ConfigForm::ConfirmValue(const std::string& groupName, uint16_t value) {
    if (dryRun_) return true;
    const size_t gi = GroupIndex(groupName);
    const GroupDesc& g = layout_.Groups[gi];
    return Confirm(g, DescribeWrite(chip_, g, readValue_[gi], value));
}

bool ConfigForm::Confirm(const GroupDesc& g, const WriteChange& change) {
    auto has = [&change](Effect e) {
        for (const Consequence& c : change.Effects)
            if (c.What == e) return true;
        return false;
    };
    // The designed lock question stays, with the change it makes and No as its default once
    // it programs a bit.
    if (g.Kind == GroupKind::LockBits &&
        !prompts_->Ask(Msg(kMsgLockConfirm, change.Text),
                       has(Effect::Locks) ? QuestionKind::Locks : QuestionKind::Routine))
        return false;
    for (Effect e : {Effect::EndsSerial, Effect::NeedsClock, Effect::Slows, Effect::Locks}) {
        if (!has(e) || (e == Effect::Locks && g.Kind == GroupKind::LockBits)) continue;
        if (!prompts_->Ask(QuestionFor(change, e), KindOf(e))) return false;
    }
    return true;
}

Status ConfigForm::CheckReadBack(size_t gi, uint16_t written, const WriteChange& change) {
    const GroupDesc& g = layout_.Groups[gi];
    bool gone = false;  // the write meant to leave the chip unreachable from here
    for (const Consequence& c : change.Effects)
        gone = gone || c.What == Effect::EndsSerial || c.What == Effect::NeedsClock;
    const uint16_t kept = KeptBits(chip_, g);
    const uint16_t differ = static_cast<uint16_t>((readValue_[gi] ^ written) & kept);
    if (gone && (!answered_ || differ != 0)) {
        prompts_->Say(Msg("CfgChipGoneAsAsked", change.Text));
        return {};
    }
    if (!answered_) return Status::Error("CfgNoAnswerAfterWrite", ByteName(chip_, g));
    if (differ == 0) return {};
    // An AVR whose LB1 is programmed keeps its fuses: say so rather than leave a guess.
    if (layout_.Fam == Family::Avr && g.Kind == GroupKind::Fuse &&
        (Bracketed(kReadLock) & 0x01) == 0)
        return Status::Error("CfgWriteRefusedLocked", ByteName(chip_, g),
                             BitNames(chip_, g, differ));
    return Status::Error("CfgWriteRefused", ByteName(chip_, g), BitNames(chip_, g, differ));
}

// The AT89S protection mode chosen as the n-th programs lock bits 1 to n: the display re-read
// after it must show each of them programmed.
Status ConfigForm::CheckLockBitsTook(const std::string& display) {
    if (!answered_) return Status::Error("CfgNoAnswerAfterWrite", ByteName(chip_, Group(display)));
    std::string missing;
    for (size_t bit = 1; bit <= mode_ + 1; ++bit) {
        const std::string box = "lb" + std::to_string(bit);
        if (HasBox(box) && !Box(box).Ticked)
            missing += (missing.empty() ? "LB" : ", LB") + std::to_string(bit);
    }
    if (missing.empty()) return {};
    return Status::Error("CfgWriteRefused", ByteName(chip_, Group(display)), missing);
}

Status ConfigForm::Write(const std::string& groupName, bool confirmed) {
    const size_t gi = GroupIndex(groupName);
    const GroupDesc& g = layout_.Groups[gi];
    if (g.Form == WriteForm::None) return Status::Error("CfgGroupNotWritable", g.Name);

    if (g.Kind == GroupKind::PicUserIds) {
        if (dryRun_) {
            prompts_->Say(Msg("CfgDryRun", ByteName(chip_, g)));
            return {};
        }
        WriteUserIds(gi);
        Refresh(groupName);
        prompts_->Inform(Msg(kMsgDone));
        return {};
    }
    const uint16_t v = ValueToWrite(groupName);
    const WriteChange change = DescribeWrite(chip_, g, readValue_[gi], v);
    if (dryRun_) {
        prompts_->Say(Msg("CfgDryRun", change.Text));
        for (Effect e : {Effect::EndsSerial, Effect::NeedsClock, Effect::Slows, Effect::Locks})
            for (const Consequence& c : change.Effects)
                if (c.What == e) {
                    prompts_->Say(QuestionFor(change, e));
                    break;
                }
        return {};
    }
    if (!confirmed && !Confirm(g, change)) return Status::Error("CfgCancelled");

    Command c = g.Write;
    switch (g.Form) {
        case WriteForm::ValueInB4:
            c.B4 = static_cast<uint8_t>(v);
            break;
        case WriteForm::ValueInB2:
            c.B2 = static_cast<uint8_t>(v);
            break;
        case WriteForm::PicWord:
        case WriteForm::None:
            break;
    }
    if (g.Form == WriteForm::PicWord)
        (void)engine_.WriteConfigWord(c.B1, v);
    else
        Send(c);

    // What the chip now holds, compared with what was sent, before anything is reported done.
    Refresh(groupName);
    if (Status held = CheckReadBack(gi, v, change); !held) return held;
    // The lock-mode fuse write reports nothing; the status shows the result.
    if (g.Kind != GroupKind::LockModeStatus) prompts_->Inform(Msg(kMsgDone));
    return {};
}

// ---- user actions ----

bool ConfigForm::Click(const std::string& boxName) {
    Where w{};
    if (!Find(boxName, w)) return false;
    BoxState& s = boxes_[w.Group][w.Box];
    if (!s.Enabled) return false;
    s.Ticked = !s.Ticked;
    const BoxDesc& b = layout_.Groups[w.Group].Boxes[w.Box];
    // RCEN unprogrammed takes the AT90S2343 off its internal RC: it then needs the board's clock.
    if (b.Immediate && b.Caption == "RCEN FUSE" && !s.Ticked &&
        !prompts_->Ask(
            Msg("CfgNeedsClock", "fuse byte: RCEN 0 → 1", "internal RC → external clock on CLOCK"),
            QuestionKind::ExternalClock)) {
        s.Ticked = true;
        return true;
    }
    if (b.Immediate) {
        // Ticked programs the fuse (0xBE), unticked leaves it unprogrammed (0xBF).
        Bracketed({0xAC, static_cast<uint8_t>(s.Ticked ? 0xBE : 0xBF), 0x00, 0x00});
        Refresh(layout_.Groups[w.Group].Name);
    }
    return true;
}

bool ConfigForm::SelectMode(size_t index) {
    if (!layout_.Modes || index >= layout_.Modes->Modes.size()) return false;
    mode_ = index;
    return true;
}

const std::string& ConfigForm::SetEditText(size_t index, const std::string& text) {
    std::string& box = edits_.at(index);
    box.clear();
    for (char c : text)
        if (HexDigit(c) >= 0 && box.size() < 4) box.push_back(c);
    return box;
}

Message ConfigForm::ReadCalibration() {
    const int count = layout_.CalibrationCount;
    if (count != 1 && count != 2 && count != 4) return {};  // no calibration button
    Message text{"CfgCalibration" + std::to_string(count), {}};
    // One byte is read at address 0 of the first command form; two or four at 0, 1, ...
    for (int a = 0; a < count; ++a)
        text.Args.push_back(Hex2(Bracketed({0x38, 0x00, static_cast<uint8_t>(a), 0x00})));
    prompts_->Inform(text);
    return text;
}

Status ConfigForm::ApplyMode() {
    if (!layout_.Modes) return Status::Error("CfgNoModes", layout_.ClassName);
    const ModeGroupDesc& m = *layout_.Modes;
    const ModeDesc& mode = m.Modes.at(mode_);
    if (dryRun_) {
        prompts_->Say(
            Msg("CfgDryRun", "lock mode " + std::to_string(mode_ + 1) + ": " + mode.Caption));
        return {};
    }
    if (m.Style == ModeStyle::At89) {
        prompts_->Say(Message{});
        if (!prompts_->Ask(Msg("CfgModeConfirm", mode.Caption), QuestionKind::Locks))
            return Status::Error("CfgCancelled");
        if (m.ReinitBefore) {
            engine_.InitPinMap();
            engine_.SetPortBase(portBase_);
        }
        for (const Command& c : mode.Commands) Bracketed(c);
        // A chip that cannot show its lock bits cannot confirm them either: say so, not "set".
        if (m.RefreshAfter.empty()) {
            prompts_->Inform(Msg("CfgLockSentUnchecked"));
            return {};
        }
        Refresh(m.RefreshAfter);
        if (Status held = CheckLockBitsTook(m.RefreshAfter); !held) return held;
        prompts_->Inform(Msg(kMsgLockDone));
        return {};
    }
    // The older AVRs take the lock command inside one programming session.
    if (!prompts_->Ask(Msg("CfgLocks", "lock mode " + std::to_string(mode_ + 1), mode.Caption),
                       QuestionKind::Locks))
        return Status::Error("CfgCancelled");
    (void)engine_.EnterProgramming();
    for (const Command& c : mode.Commands) (void)engine_.RawCommand(c.B1, c.B2, c.B3, c.B4);
    (void)engine_.LeaveProgramming();
    if (!m.RefreshAfter.empty()) Refresh(m.RefreshAfter);
    prompts_->Inform(Msg(kMsgModeDone));
    return {};
}

bool ConfigForm::FullErase() {
    if (layout_.Fam != Family::Pic) return false;
    if (!prompts_->Ask(Msg(layout_.EraseConfirm), QuestionKind::Destructive)) return false;
    (void)engine_.EraseEverything();
    prompts_->Inform(Msg(kMsgDone));
    return true;
}

bool ConfigForm::Press(const std::string& button) {
    if (button.empty()) return false;
    lastOutcome_ = {};
    for (const GroupDesc& g : layout_.Groups) {
        if (g.RefreshButton.Name == button) {
            Refresh(g.Name);
            return true;
        }
        if (g.WriteButton.Name == button) {
            lastOutcome_ = Write(g.Name);
            return true;
        }
    }
    if (layout_.Calibration.Name == button) {
        ReadCalibration();
        return true;
    }
    if (layout_.Modes && layout_.Modes->Ok.Name == button) {
        lastOutcome_ = ApplyMode();
        return true;
    }
    if (layout_.Erase.Name == button) {
        FullErase();
        return true;
    }
    return layout_.Close.Name == button;  // closing is the window's business
}

std::unique_ptr<ConfigForm> OpenConfigForm(std::string_view chip, Tpro& engine, int32_t portBase,
                                           Prompts& prompts) {
    const LayoutDesc* layout = FindLayout(chip);
    if (!layout) return nullptr;
    auto form = std::make_unique<ConfigForm>(*layout, engine, portBase, prompts, std::string(chip));
    form->Open();
    return form;
}

}  // namespace tondrel::config
