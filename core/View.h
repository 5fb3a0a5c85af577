#pragma once
// What the session needs from whoever shows it: the window, the terminal, or a test recorder.
// Controls and labels are named by the main window's component names ("Mfile", "Moper",
// "FlashToolBar", "ispstatus", ...), so every front end and every test speaks of the same
// things.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tondrel::core {

// Names of the status-bar panels, for SetLabel.
inline constexpr std::string_view kStatusChip = "StatusBar1.0";
inline constexpr std::string_view kStatusFlashFile = "StatusBar1.1";
inline constexpr std::string_view kStatusEEPROMFile = "StatusBar1.2";

// How much a Yes to a question can cost. A window shows Destructive and EndsSerialProgramming
// with the question icon and No as the default button; a terminal answers them only when told
// explicitly. With nobody to answer, a terminal takes the answer that destroys nothing: No,
// except for StopsOperation, where Yes is that answer.
enum class QuestionKind : uint8_t {
    Routine,                // the designed confirmation boxes
    Destructive,            // erases or overwrites data on the chip (chip erase, ...)
    EndsSerialProgramming,  // a configuration write after which serial programming is gone
    StopsOperation,         // "terminate?": Yes stops before anything is written or erased
};

class View {
  public:
    virtual ~View() = default;

    // ---- message board (msgboard) ----
    virtual void AppendLine(const std::string& line) = 0;
    virtual void ClearBoard() = 0;

    // ---- labels, controls, check marks ----
    // Labels of GBinfo (ispstatus, HardwareVer, hardware1, hardware2) and the status panels.
    virtual void SetLabel(std::string_view name, const std::string& text) = 0;
    // Menus, menu items, tool bars, tool buttons and grids.
    virtual void SetEnabled(std::string_view control, bool enabled) = 0;
    // Check marks of menu items and auto-programming boxes, whenever the session changes one.
    virtual void SetChecked(std::string_view control, bool checked) = 0;
    // The speed bar moved under program control (a chip's stored speed was loaded).
    virtual void SetSpeedPosition(int32_t position) = 0;

    // ---- progress (PB) ----
    virtual void SetProgressMax(int32_t max) = 0;
    virtual void SetProgress(int32_t position) = 0;
    // Called between bytes of a long operation: a window repaints here (throttled by the view).
    virtual void Breathe() = 0;
    // An operation started (true) or ended (false): a window disables its operation controls.
    virtual void OperationRunning(bool running) = 0;

    // ---- buffers ----
    // The Flash (EEPROM) buffer changed as a whole: refill its grid.
    virtual void ShowFlashBuffer() = 0;
    virtual void ShowEEPROMBuffer() = 0;
    // Brings a tab to the front: "sheetFlash", "sheetEEPROM".
    virtual void ShowTab(std::string_view name) = 0;

    // ---- sounds and boxes ----
    // "detect", "err" or "ok"; the session only calls it when Msound is checked.
    virtual void PlaySound(std::string_view name) = 0;
    // A question with Yes and No buttons; true only for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // The same question, marked with what a Yes may cost; a view that does not tell them
    // apart asks it as a routine one.
    virtual bool Ask(const std::string& text, QuestionKind kind) {
        (void)kind;
        return AskYesNo(text);
    }
    virtual void Inform(const std::string& text) = 0;
    // The first-start language choice: 1 English, 2 Chinese, 0 when nothing was chosen.
    virtual int ChooseLanguage() = 0;
    // A file-open dialog for an external tool (mode 1 to 7); nothing when cancelled.
    virtual std::optional<std::string> PickToolPath(int mode) = 0;
};

}  // namespace tondrel::core
