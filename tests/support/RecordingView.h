#pragma once
// RecordingView: a core::View for tests. It records what the session shows (board lines,
// labels, enabled states, check marks, sounds, progress, tabs, boxes) and answers the
// session's questions from a script, so a test can say what the window would have shown:
//
//     RecordingView view;
//     view.Answers = {false};                 // "No" to the first question
//     ... run the session ...
//     EXPECT_TRUE(view.HasLine(">>no supported chip found!"));
//     EXPECT_FALSE(view.Enabled("Moper"));
//     EXPECT_EQ(view.Sounds, (std::vector<std::string>{"err", "err"}));
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/View.h"

namespace tondrel::testsupport {

class RecordingView : public core::View {
  public:
    // ---- what was shown ----
    std::vector<std::string> Board;  // every line appended (cleared by ClearBoard)
    std::map<std::string, std::string, std::less<>> Labels;
    std::map<std::string, bool, std::less<>> EnabledState;  // last state per control
    std::map<std::string, bool, std::less<>> CheckedState;
    std::vector<std::string> Sounds;
    std::vector<std::string> Questions;
    std::vector<std::string> Informs;
    std::vector<std::string> Tabs;
    std::vector<int32_t> SpeedPositions;  // every SetSpeedPosition, in order
    int32_t ProgressMax = -1;
    int32_t Progress = -1;
    int64_t Breaths = 0;
    int FlashShows = 0;
    int EEPROMShows = 0;
    std::vector<bool> Running;  // every OperationRunning call, in order

    // ---- scripted answers ----
    std::deque<bool> Answers;  // AskYesNo, first in first out; No when the script is empty
    int LanguageChoice = 1;    // ChooseLanguage
    std::optional<std::string> ToolPath;  // PickToolPath
    int LanguageAsked = 0;
    // Called from Breathe, so a test can try to start a second operation mid-run.
    std::function<void()> OnBreathe;

    // ---- questions a test asks ----
    bool HasLine(std::string_view line) const {
        return std::find(Board.begin(), Board.end(), line) != Board.end();
    }
    size_t CountLine(std::string_view line) const {
        return static_cast<size_t>(std::count(Board.begin(), Board.end(), line));
    }
    // Lines that are not empty, in order: most assertions do not care about spacing.
    std::vector<std::string> Text() const {
        std::vector<std::string> out;
        for (const auto& line : Board)
            if (!line.empty()) out.push_back(line);
        return out;
    }
    // Unknown controls count as enabled: the window starts with everything enabled.
    bool Enabled(std::string_view control) const {
        auto it = EnabledState.find(control);
        return it == EnabledState.end() || it->second;
    }
    bool WasSet(std::string_view control) const {
        return EnabledState.find(control) != EnabledState.end();
    }
    std::optional<bool> Checked(std::string_view control) const {
        auto it = CheckedState.find(control);
        if (it == CheckedState.end()) return std::nullopt;
        return it->second;
    }
    std::string Label(std::string_view name) const {
        auto it = Labels.find(name);
        return it == Labels.end() ? std::string() : it->second;
    }
    void Clear() {
        Board.clear();
        Sounds.clear();
        Questions.clear();
        Informs.clear();
        Tabs.clear();
    }

    // ---- View ----
    void AppendLine(const std::string& line) override { Board.push_back(line); }
    void ClearBoard() override { Board.clear(); }
    void SetLabel(std::string_view name, const std::string& text) override {
        Labels[std::string(name)] = text;
    }
    void SetEnabled(std::string_view control, bool enabled) override {
        EnabledState[std::string(control)] = enabled;
    }
    void SetChecked(std::string_view control, bool checked) override {
        CheckedState[std::string(control)] = checked;
    }
    void SetSpeedPosition(int32_t position) override { SpeedPositions.push_back(position); }
    void SetProgressMax(int32_t max) override { ProgressMax = max; }
    void SetProgress(int32_t position) override { Progress = position; }
    void Breathe() override {
        ++Breaths;
        if (OnBreathe) OnBreathe();
    }
    void OperationRunning(bool running) override { Running.push_back(running); }
    void ShowFlashBuffer() override { ++FlashShows; }
    void ShowEEPROMBuffer() override { ++EEPROMShows; }
    void ShowTab(std::string_view name) override { Tabs.emplace_back(name); }
    void PlaySound(std::string_view name) override { Sounds.emplace_back(name); }
    bool AskYesNo(const std::string& text) override {
        Questions.push_back(text);
        if (Answers.empty()) return false;
        const bool yes = Answers.front();
        Answers.pop_front();
        return yes;
    }
    void Inform(const std::string& text) override { Informs.push_back(text); }
    int ChooseLanguage() override {
        ++LanguageAsked;
        return LanguageChoice;
    }
    std::optional<std::string> PickToolPath(int) override { return ToolPath; }
};

}  // namespace tondrel::testsupport
