#pragma once
// The session shown on a terminal: board lines on stdout, a progress bar on stderr when it is a
// terminal, questions answered from the command line (or asked when stdin is a terminal).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

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

    // ---- core::View ----
    void Say(const Message& line) override;
    bool Ask(const Message& question, QuestionKind kind) override;
    void Inform(const Message& text) override;
    void StateChanged(const core::SessionState& state) override;
    void ClearBoard() override {}
    void SetProgressMax(int32_t total, const Message& phase) override;
    void SetProgress(int32_t position) override;
    void Breathe() override {}
    void ShowBuffer(Memory, bool) override {}
    void PlaySound(core::SoundName) override {}
    int ChooseLanguage() override;
    std::optional<std::string> PickToolPath(int) override { return std::nullopt; }

    // The words of a message in the session's language.
    std::string Text(const Message& m) const { return m.Text(state_.Lang()); }
    const core::SessionState& State() const { return state_; }
    // Prints a result line even when quiet.
    void Result(const std::string& line);
    void Error(const std::string& line);
    // Quiet runs keep the board's last report (since its last empty line): on failure it goes
    // to standard error, so that --quiet never hides why a run failed.
    void ShowHeldReport();
    // Standard output carries data (read-flash -): board lines and results go to standard error.
    void KeepOutputForData() { out_ = err_; }

  private:
    void EndProgressLine();
    TerminalOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    std::FILE* in_;
    core::SessionState state_;
    int32_t max_ = 0;
    std::string phase_;  // the phase the bar shows, in the session's language
    int shownPercent_ = -1;
    bool barOnScreen_ = false;
    std::vector<std::string> held_;
};

}  // namespace tondrel::cli
