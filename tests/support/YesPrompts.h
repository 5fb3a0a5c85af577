#pragma once
// Prompts that answer Yes to every question and keep what was asked and shown, for tests that
// drive a configuration form to its end.
#include <string>
#include <vector>

#include "common/Prompts.h"

namespace tondrel::testsupport {

class YesPrompts : public Prompts {
  public:
    bool Ask(const Message& question, QuestionKind) override {
        asked.push_back(question.Key);
        return true;
    }
    void Inform(const Message& text) override { shown.push_back(text); }
    void Say(const Message&) override {}
    std::vector<std::string> asked;  // their keys
    std::vector<Message> shown;
};

}  // namespace tondrel::testsupport
