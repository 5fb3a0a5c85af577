#pragma once
// The session shown on a terminal: board lines on stdout, a progress bar on stderr when it is a
// terminal, questions answered from the command line (or asked when stdin is a terminal).
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/RunLog.h"
#include "core/View.h"

namespace tondrel::cli {

struct TerminalOptions {
    bool Quiet = false;
    std::optional<bool> Answer;  // --yes / --no
    // The configuration hazards are answered Yes only by --yes together with their own option.
    bool YesEndSerial = false;      // --yes-end-serial-programming
    bool YesExternalClock = false;  // --yes-external-clock
    bool YesLock = false;           // --yes-lock
    int Language = 0;               // the first-start language choice: 1 English, 2 Chinese
    bool ProgressBar = false;       // draw on Err (only when it is a terminal)
    bool AskOnTerminal = false;     // stdin is a terminal: ask the questions there
    // Set by a signal handler to the signal that asked the program to end (0: none).
    const volatile std::sig_atomic_t* StopSignal = nullptr;
};

class TerminalView : public core::View {
  public:
    TerminalView(TerminalOptions options, std::FILE* out, std::FILE* err, std::FILE* in);
    ~TerminalView() override;
    TerminalView(const TerminalView&) = delete;
    TerminalView& operator=(const TerminalView&) = delete;

    // ---- core::View ----
    void Say(const Message& line) override;
    bool Ask(const Message& question, QuestionKind kind) override;
    void Inform(const Message& text) override;
    void StateChanged(const core::SessionState& state) override;
    void ClearBoard() override {}
    void SetProgressMax(int32_t total, const Message& phase) override;
    void SetProgress(int32_t position) override;
    void Breathe() override {}
    bool StopAsked() const override { return StopSignal() != 0; }
    void ShowBuffer(Memory, bool) override {}
    void PlaySound(core::SoundName sound) override;
    int ChooseLanguage() override;
    std::optional<std::string> PickToolPath(int) override { return std::nullopt; }

    // The words of a message in the session's language.
    std::string Text(const Message& m) const { return m.Text(state_.Lang()); }
    const core::SessionState& State() const { return state_; }
    // The signal that asked the program to end, 0 when none did.
    int StopSignal() const { return options_.StopSignal ? *options_.StopSignal : 0; }
    // Prints a result line even when quiet.
    void Result(const std::string& line);
    void Error(const std::string& line);
    // Quiet runs keep the board's last report (since its last empty line): on failure it goes
    // to standard error, so that --quiet never hides why a run failed.
    void ShowHeldReport();
    // Standard output carries data (read-flash -): board lines and results go to standard error.
    void KeepOutputForData() { out_ = err_; }
    // How far the operations' phases went, for the machine-readable log.
    core::PhaseCounter& Counter() { return counter_; }

  private:
    void EndProgressLine();
    // The last board line waits for what follows it: the error sound makes it a failure's
    // reason, which goes to standard error; anything else sends it to standard output.
    void FlushPending();
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
    std::optional<std::string> pending_;
    core::PhaseCounter counter_;
};

}  // namespace tondrel::cli
