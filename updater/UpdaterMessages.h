#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace korvane::updater {

/// The caption of every message the updater shows.
inline constexpr const char* kCaption = "Korvane 2 updater program";

/// The messages of the updater's messages file VintrellMessages.ini (section MESSAGES, the key a
/// message's number), shown on standard error since the updater has no window.
class UpdaterMessages {
 public:
  /// Messages from the file at `path`, shown on `out`.
  UpdaterMessages(std::string path, std::ostream& out) : path_(std::move(path)), out_(out) {}

  /// The text of message `number` with every "\n" (a backslash and an n) made a line break;
  /// empty when the file or the key is missing.
  std::string text(int number) const;

  /// Shows message `number` with its arguments filled in, under the caption.
  void show(int number, const std::vector<std::string>& args = {}) const;

 private:
  std::string path_;
  std::ostream& out_;
};

/// `format` with its %s and %d (or %i, %u) directives replaced by `args` in order (a missing
/// argument is empty) and %% by one %; any other % sequence stays as it is, so a text that
/// expects other arguments than the message has never reads what is not there.
std::string fillMessage(const std::string& format, const std::vector<std::string>& args);

}  // namespace korvane::updater
