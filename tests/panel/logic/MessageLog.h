#pragma once

#include <optional>
#include <string>
#include <vector>

#include "panel/logic/MessageView.h"

namespace korvane::panel::testing {

/// Keeps the string numbers and failures a piece of logic shows, and answers every question
/// with yes.
class MessageLog : public MessageView {
 public:
  void showMessage(int id, std::optional<int>) override { messages.push_back(id); }
  void showFailure(const std::string& reason) override { failures.push_back(reason); }
  bool confirm(int) override { return true; }
  bool askYesNo(int) override { return true; }

  std::vector<int> messages;
  std::vector<std::string> failures;
};

}  // namespace korvane::panel::testing
