// Simulated prompts: recorded messages and beeps, questions answered from a script.

#include "platform/sim/sim_engine.h"

namespace zorvex {

SimPrompts::SimPrompts(std::function<std::int64_t()> clock) : clock_(std::move(clock)) {}

void SimPrompts::MessageBox(std::string_view text, std::string_view title, PromptIcon icon) {
  messages_.push_back({Now(), std::string(text), std::string(title), icon});
}

bool SimPrompts::AskYesNo(std::string_view text, std::string_view title) {
  const bool answer = script_next_ < script_.size() ? script_[script_next_++] : true;
  questions_.push_back({Now(), std::string(text), std::string(title), answer});
  return answer;
}

void SimPrompts::Beep() {
  beeps_.push_back(Now());
}

void SimPrompts::ScriptAnswer(bool yes) {
  script_.push_back(yes);
}

void SimPrompts::Clear() {
  script_.clear();
  script_next_ = 0;
  messages_.clear();
  questions_.clear();
  beeps_.clear();
}

}  // namespace zorvex
