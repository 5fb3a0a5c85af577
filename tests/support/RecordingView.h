#pragma once
// RecordingView: a core::View for tests. It records what the session shows (the messages it
// said, with their keys and arguments, the state it published, sounds, progress, the buffers it
// showed, boxes) and answers the session's questions from a script, so a test can say what the
// window would have shown:
//
//     RecordingView view;
//     view.Answers = {false};                 // "No" to the first question
//     ... run the session ...
//     EXPECT_TRUE(view.Said("CoreNoChipFound"));
//     EXPECT_FALSE(view.State.ChipReady);
//     EXPECT_EQ(view.Sounds, (std::vector<std::string>{"err", "err"}));
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/View.h"

namespace tondrel::testsupport {

class RecordingView : public core::View {
  public:
    // ---- what was shown ----
    std::vector<Message> Messages;   // every board message (cleared by ClearBoard)
    std::vector<std::string> Board;  // the same, in the session's language at the time
    core::SessionState State;        // the state last published
    int StatesSeen = 0;
    std::vector<std::string> Sounds;  // "detect", "err", "ok"
    std::vector<Message> QuestionsAsked;
    std::vector<std::string> Questions;  // their words
    std::vector<QuestionKind> QuestionKinds;
    std::vector<Message> InformsGiven;
    std::vector<std::string> Informs;  // their words
    std::vector<std::string> Tabs;     // "sheetFlash", "sheetEEPROM": a grid brought to the front
    std::vector<int32_t> SpeedPositions;  // every speed the session moved the bar to, in order
    int32_t ProgressMax = -1;
    std::vector<Message> Phases;  // each long phase as it began
    int32_t Progress = -1;
    int64_t Breaths = 0;
    int FlashShows = 0;
    int EEPROMShows = 0;
    std::vector<bool> Running;  // every start (true) and end (false) of a shown operation

    // ---- scripted answers ----
    std::deque<bool> Answers;  // questions, first in first out; No when the script is empty
    int LanguageChoice = 1;    // ChooseLanguage
    std::optional<std::string> ToolPath;  // PickToolPath
    int LanguageAsked = 0;
    // Called from Breathe, so a test can try to start a second operation mid-run.
    std::function<void()> OnBreathe;

    // ---- questions a test asks ----
    bool Said(std::string_view key) const {
        return std::any_of(Messages.begin(), Messages.end(),
                           [key](const Message& m) { return m.Key == key; });
    }
    bool Said(const Message& m) const {
        return std::find(Messages.begin(), Messages.end(), m) != Messages.end();
    }
    size_t CountSaid(std::string_view key) const {
        return static_cast<size_t>(std::count_if(Messages.begin(), Messages.end(),
                                                 [key](const Message& m) { return m.Key == key; }));
    }
    // The keys of the messages that are not empty lines, in order.
    std::vector<std::string> Keys() const {
        std::vector<std::string> out;
        for (const Message& m : Messages)
            if (!m.Empty()) out.push_back(m.Key);
        return out;
    }
    // The messages that are not empty lines, in order.
    std::vector<Message> Lines() const {
        std::vector<Message> out;
        for (const Message& m : Messages)
            if (!m.Empty()) out.push_back(m);
        return out;
    }
    // Their words, for the few tests that are about the words.
    std::vector<std::string> Text() const {
        std::vector<std::string> out;
        for (const auto& line : Board)
            if (!line.empty()) out.push_back(line);
        return out;
    }
    void Clear() {
        Messages.clear();
        Board.clear();
        Sounds.clear();
        QuestionsAsked.clear();
        Questions.clear();
        QuestionKinds.clear();
        InformsGiven.clear();
        Informs.clear();
        Tabs.clear();
    }

    // ---- View ----
    void Say(const Message& line) override {
        Messages.push_back(line);
        Board.push_back(line.Text(State.Lang()));
    }
    bool Ask(const Message& question, QuestionKind kind) override {
        QuestionsAsked.push_back(question);
        Questions.push_back(question.Text(State.Lang()));
        QuestionKinds.push_back(kind);
        if (Answers.empty()) return false;
        const bool yes = Answers.front();
        Answers.pop_front();
        return yes;
    }
    void Inform(const Message& text) override {
        InformsGiven.push_back(text);
        Informs.push_back(text.Text(State.Lang()));
    }
    void StateChanged(const core::SessionState& state) override {
        if (StatesSeen > 0 && state.Speed != State.Speed) SpeedPositions.push_back(state.Speed);
        if (state.Busy != State.Busy) Running.push_back(state.Busy);
        State = state;
        ++StatesSeen;
    }
    void ClearBoard() override {
        Messages.clear();
        Board.clear();
    }
    void SetProgressMax(int32_t total, const Message& phase) override {
        ProgressMax = total;
        Phases.push_back(phase);
    }
    void SetProgress(int32_t position) override { Progress = position; }
    void Breathe() override {
        ++Breaths;
        if (OnBreathe) OnBreathe();
    }
    void ShowBuffer(Memory memory, bool bringToFront) override {
        ++(memory == Memory::Flash ? FlashShows : EEPROMShows);
        if (bringToFront) Tabs.emplace_back(memory == Memory::Flash ? "sheetFlash" : "sheetEEPROM");
    }
    void PlaySound(core::SoundName sound) override {
        Sounds.emplace_back(sound == core::SoundName::Detect  ? "detect"
                            : sound == core::SoundName::Error ? "err"
                                                              : "ok");
    }
    int ChooseLanguage() override {
        ++LanguageAsked;
        return LanguageChoice;
    }
    std::optional<std::string> PickToolPath(int) override { return ToolPath; }
};

}  // namespace tondrel::testsupport
