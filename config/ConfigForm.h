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

struct BoxState {
    bool Ticked = false;
    bool Enabled = true;
};

class ConfigForm {
  public:
    ConfigForm(const LayoutDesc& layout, Tpro& engine, int32_t portBase, Prompts& prompts);

    const LayoutDesc& Layout() const { return layout_; }
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
    // True when the write was sent, false when a confirmation was answered other than Yes or the
    // group cannot be written.
    bool Write(const std::string& groupName);
    // Reads the calibration bytes and shows them; returns what was shown.
    Message ReadCalibration();
    // Sets the protection mode selected; false when the user did not confirm.
    bool ApplyMode();
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
    std::string SerialHazards(size_t group) const;
    void WriteUserIds(size_t group);

    const LayoutDesc& layout_;
    Tpro& engine_;
    int32_t portBase_;
    Prompts* prompts_;
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
