#pragma once
// The session shown on a terminal: board lines on stdout, a progress bar on stderr when it is a
// terminal, questions answered from the command line (or asked when stdin is a terminal).
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "core/View.h"

namespace tondrel::cli {

struct TerminalOptions {
    bool Quiet = false;
    std::optional<bool> Answer;  // --yes / --no
    bool YesEndSerial = false;   // --yes-end-serial-programming: those questions need their own
    int Language = 0;            // the first-start language choice: 1 English, 2 Chinese
    bool ProgressBar = false;    // draw on Err (only when it is a terminal)
    bool AskOnTerminal = false;  // stdin is a terminal: ask the questions there
};

class TerminalView : public core::View {
  public:
    TerminalView(TerminalOptions options, std::FILE* out, std::FILE* err, std::FILE* in);

    void AppendLine(const std::string& line) override;
    void ClearBoard() override {}
    void SetLabel(std::string_view name, const std::string& text) override;
    void SetEnabled(std::string_view, bool) override {}
    void SetChecked(std::string_view, bool) override {}
    void SetSpeedPosition(int32_t) override {}
    void SetProgressMax(int32_t max) override;
    void SetProgress(int32_t position) override;
    void Breathe() override {}
    void OperationRunning(bool running) override;
    void ShowFlashBuffer() override {}
    void ShowEEPROMBuffer() override {}
    void ShowTab(std::string_view) override {}
    void PlaySound(std::string_view) override {}
    bool AskYesNo(const std::string& text) override;
    bool Ask(const std::string& text, core::QuestionKind kind) override;
    void Inform(const std::string& text) override;
    int ChooseLanguage() override;
    std::optional<std::string> PickToolPath(int) override { return std::nullopt; }

    // The last text each label was given ("HardwareVer", "ispstatus", ...).
    std::string Label(const std::string& name) const;
    // Prints a result line even when quiet.
    void Result(const std::string& line);
    void Error(const std::string& line);

  private:
    void EndProgressLine();
    TerminalOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    std::FILE* in_;
    std::map<std::string, std::string, std::less<>> labels_;
    int32_t max_ = 0;
    int shownPercent_ = -1;
    bool barOnScreen_ = false;
};

}  // namespace tondrel::cli
