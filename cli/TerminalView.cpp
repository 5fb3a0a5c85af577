#include "cli/TerminalView.h"

#include <algorithm>
#include <cctype>

namespace tondrel::cli {

TerminalView::TerminalView(TerminalOptions options, std::FILE* out, std::FILE* err, std::FILE* in)
    : options_(options), out_(out), err_(err), in_(in) {}

TerminalView::~TerminalView() {
    FlushPending();
}

void TerminalView::FlushPending() {
    if (!pending_) return;
    std::fprintf(out_, "%s\n", pending_->c_str());
    std::fflush(out_);
    pending_.reset();
}

void TerminalView::PlaySound(core::SoundName sound) {
    if (sound != core::SoundName::Error || !pending_) return;
    // A script reads why a run failed on standard error; the line is not repeated on standard
    // output, so a terminal showing both shows it once.
    std::fprintf(err_, "%s\n", pending_->c_str());
    std::fflush(err_);
    pending_.reset();
}

void TerminalView::EndProgressLine() {
    FlushPending();
    if (!barOnScreen_) return;
    std::fputc('\n', err_);
    std::fflush(err_);
    barOnScreen_ = false;
}

void TerminalView::Say(const Message& message) {
    const std::string line = Text(message);
    if (options_.Quiet) {
        if (line.empty())
            held_.clear();
        else
            held_.push_back(line);
        return;
    }
    EndProgressLine();
    FlushPending();
    pending_ = line;
}

void TerminalView::StateChanged(const core::SessionState& state) {
    // An operation that ends leaves no half-drawn bar behind.
    if (state_.Busy && !state.Busy) EndProgressLine();
    state_ = state;
}

void TerminalView::SetProgressMax(int32_t total, const Message& phase) {
    max_ = total;
    counter_.Phase(phase);
    phase_ = Text(phase);
    shownPercent_ = -1;
}

void TerminalView::SetProgress(int32_t position) {
    counter_.Position(position);
    if (!options_.ProgressBar || options_.Quiet || max_ <= 0) return;
    const int percent =
        static_cast<int>(std::clamp<int64_t>(int64_t{position} * 100 / int64_t{max_}, 0, 100));
    if (percent == shownPercent_) return;  // redraw only when the figure changes
    shownPercent_ = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '.');
    FlushPending();
    std::fprintf(err_, "\r[%s] %3d%%  %s %d/%d", bar.c_str(), percent, phase_.c_str(),
                 std::min(position, max_), max_);
    std::fflush(err_);
    barOnScreen_ = true;
}

bool TerminalView::Ask(const Message& question, QuestionKind kind) {
    EndProgressLine();
    const std::string text = Text(question);
    // A Yes that can leave the chip for a high-voltage programmer, without a clock, or locked
    // is given only by --yes together with the option of its class.
    const char* flagName = nullptr;
    bool flag = false;
    switch (kind) {
        case QuestionKind::EndsSerialProgramming:
            flagName = "--yes-end-serial-programming";
            flag = options_.YesEndSerial;
            break;
        case QuestionKind::ExternalClock:
            flagName = "--yes-external-clock";
            flag = options_.YesExternalClock;
            break;
        case QuestionKind::Locks:
            flagName = "--yes-lock";
            flag = options_.YesLock;
            break;
        default:
            break;
    }
    std::optional<bool> answer = options_.Answer;
    if (flagName && answer == true && !flag) answer.reset();
    if (answer) {
        if (!options_.Quiet)
            std::fprintf(out_, "%s %s\n", text.c_str(), *answer ? "[yes]" : "[no]");
        return *answer;
    }
    // Enter, or the end of the input, gives the answer that destroys nothing: Yes to
    // "terminate?", No to anything else.
    const bool harmless = kind == QuestionKind::StopsOperation;
    if (options_.AskOnTerminal && in_) {
        std::fprintf(err_, "%s %s ", text.c_str(), harmless ? "[Y/n]" : "[y/N]");
        std::fflush(err_);
        char buffer[64] = {};
        if (!std::fgets(buffer, sizeof buffer, in_)) return harmless;
        const char first = static_cast<char>(std::tolower(static_cast<unsigned char>(buffer[0])));
        if (first == 'y') return true;
        if (first == 'n') return false;
        return harmless;
    }
    // Nobody to ask: the answer that destroys nothing, and how to give the other one.
    if (kind == QuestionKind::StopsOperation) {
        std::fprintf(err_, "%s [yes: nobody to answer; give --no to go on]\n", text.c_str());
        return true;
    }
    if (flagName)
        std::fprintf(err_, "%s [no: give --yes %s to answer yes]\n", text.c_str(), flagName);
    else
        std::fprintf(err_, "%s [no: give --yes to answer yes]\n", text.c_str());
    return false;
}

void TerminalView::ShowHeldReport() {
    EndProgressLine();
    for (const std::string& line : held_) std::fprintf(err_, "%s\n", line.c_str());
    held_.clear();
    std::fflush(err_);
}

void TerminalView::Inform(const Message& text) {
    Result(Text(text));
}

int TerminalView::ChooseLanguage() {
    return options_.Language != 0 ? options_.Language : 1;
}

void TerminalView::Result(const std::string& line) {
    EndProgressLine();
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}

void TerminalView::Error(const std::string& line) {
    EndProgressLine();
    std::fprintf(err_, "tondrel-cli: %s\n", line.c_str());
    std::fflush(err_);
}

}  // namespace tondrel::cli
