#pragma once

#include <optional>
#include <string>

namespace korvane::panel {

/// What the panel's logic asks of the window it works for: message boxes by string number.
class MessageView {
 public:
  virtual ~MessageView() = default;
  /// Shows string `id` in a message box, filled with `argument` when the string is a format.
  virtual void showMessage(int id, std::optional<int> argument = std::nullopt) = 0;
  /// Shows why a change could not be made (a file or the manager refused it), as the system
  /// worded it.
  virtual void showFailure(const std::string& reason) = 0;
  /// Asks string `id` with OK and Cancel; true for OK.
  virtual bool confirm(int id) = 0;
  /// Asks string `id` with Yes and No; true for Yes.
  virtual bool askYesNo(int id) = 0;
};

}  // namespace korvane::panel
