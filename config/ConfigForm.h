#pragma once
// The configuration dialog without a window: the state of its boxes, radio buttons and edit
// boxes, and the algorithms that read and write the chip through the current engine.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Prompts.h"
#include "common/Status.h"
#include "config/ConfigLayouts.h"
#include "engines/Tpro.h"

namespace tondrel::config {

// Messages the dialogs show (keys of the message table).
inline constexpr const char* kMsgDone = "CfgDone";
inline constexpr const char* kMsgModeDone = "CfgModeDone";
inline constexpr const char* kMsgLockDone = "CfgLockDone";
inline constexpr const char* kMsgLockConfirm = "CfgLockConfirm";

struct WriteChange;

struct BoxState {
    bool Ticked = false;
    bool Enabled = true;
};

class ConfigForm {
  public:
    // `chip`: the catalogue name of the chip on the adapter (the layout may serve several);
    // empty = the layout's first.
    ConfigForm(const LayoutDesc& layout, Tpro& engine, int32_t portBase, Prompts& prompts,
               std::string chip = {});

    const LayoutDesc& Layout() const { return layout_; }
    const std::string& ChipName() const { return chip_; }
    // With a dry run, a write says what it would change and sends nothing.
    void SetDryRun(bool on) { dryRun_ = on; }
    // The value a group's last read gave (its first read command's reply).
    uint16_t ReadValue(const std::string& groupName) const;
    // What the last pressed button's action came to (fine, cancelled, refused by the chip).
    const Status& LastOutcome() const { return lastOutcome_; }
    // Where the questions and messages go from now on (a window puts its own boxes in front).
    void SetPrompts(Prompts& prompts) { prompts_ = &prompts; }

    // Opening: SetPortBase, InitPinMap, then the layout's reads in their order.
    void Open();

    // ---- state ----
    const BoxState& Box(const std::string& boxName) const;
    bool HasBox(const std::string& boxName) const;
    bool HasGroup(const std::string& groupName) const;
    size_t SelectedMode() const { return mode_; }
    const std::string& EditText(size_t index) const { return edits_.at(index); }

    // ---- what the user does ----
    // A click on a box: toggles it unless it is disabled (then false, nothing changes). A box
    // that writes on change (Fstrt, rcen) writes at once and re-reads the status.
    bool Click(const std::string& boxName);
    // Selects a radio button of the lock-mode group (0-based); false when out of range.
    bool SelectMode(size_t index);
    // Types into a PIC user ID box: only hexadecimal digits pass, at most four. Returns the text
    // the box now holds.
    const std::string& SetEditText(size_t index, const std::string& text);
    // Presses a button by component name; false when the layout has no such button.
    bool Press(const std::string& buttonName);

    // ---- the routines behind the buttons ----
    void Refresh(const std::string& groupName);
    // Writes the group as its boxes stand, after the questions its consequences need, then
    // reads it back: fine only when the chip holds what was written. Fails when a question
    // was answered other than Yes ("CfgCancelled"), the group cannot be written, or the chip
    // kept other bits ("CfgWriteRefused", naming them).
    // `confirmed`: the caller has had ConfirmValue's Yes for this write, so it is not asked
    // again.
    Status Write(const std::string& groupName, bool confirmed = false);
    // Writes the group as `value` would tick its boxes, as Write does.
    Status WriteValue(const std::string& groupName, uint16_t value, bool confirmed = false);
    // The questions writing `value` to the group needs, asked now; false at the first answer
    // other than Yes. Several writes ask all theirs before the first is sent. A dry run asks
    // nothing: its write says the questions.
    bool ConfirmValue(const std::string& groupName, uint16_t value);
    // Reads the calibration bytes and shows them; returns what was shown.
    Message ReadCalibration();
    // Sets the protection mode selected, after its question; "CfgCancelled" when the user did
    // not confirm.
    Status ApplyMode();
    // PIC: erase everything, code protection included, after a confirmation.
    bool FullErase();

    // The word a PIC configuration write or the byte an AVR/AT89S group write would send now.
    uint16_t ValueToWrite(const std::string& groupName) const;

  private:
    struct Where {
        size_t Group;
        size_t Box;
    };
    const GroupDesc& Group(const std::string& name) const;
    size_t GroupIndex(const std::string& name) const;
    bool Find(const std::string& boxName, Where& where) const;
    uint16_t Bracketed(const Command& c);
    uint16_t Send(const Command& c);  // bracketed or not, by family
    void ShowBits(size_t group, size_t read, uint16_t value);
    void RefreshLockBits(size_t group);
    void RefreshUserIds(size_t group);
    void WriteUserIds(size_t group);
    // The questions a change needs, asked in turn; false at the first answer other than Yes.
    bool Confirm(const GroupDesc& g, const WriteChange& change);
    Status CheckReadBack(size_t group, uint16_t written, const WriteChange& change);
    Status CheckLockBitsTook(const std::string& display);

    const LayoutDesc& layout_;
    Tpro& engine_;
    int32_t portBase_;
    Prompts* prompts_;
    std::string chip_;
    bool dryRun_ = false;
    bool answered_ = true;  // the last read's programming enable (or PIC read) worked
    Status lastOutcome_;
    std::vector<uint16_t> readValue_;
    std::vector<std::vector<BoxState>> boxes_;
    std::vector<std::vector<bool>> readTicked_;  // each box as the last read of its group left it
    std::vector<std::string> edits_;
    size_t mode_ = 0;
};

// The form for a chip (by catalogue name), opened (its reads done); nullptr when the chip has
// no layout.
std::unique_ptr<ConfigForm> OpenConfigForm(std::string_view chip, Tpro& engine, int32_t portBase,
                                           Prompts& prompts);

// PIC user ID digits: "0".."9" give 0..9, anything else upper-cased minus 'A' plus 10.
uint8_t HexDigitValue(char c);
uint8_t HexPairToByte(char c1, char c2);

}  // namespace tondrel::config
