#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ProfileText.h"

namespace korvane::platform::profile {

/// A profile file's text split into its sections once, then read by the same rules as the
/// profile-file readers (names compare without case, the first of duplicate sections wins,
/// values are trimmed, unquoted and cut to the caller's buffer). Reading a file of a thousand
/// accounts key by key from disk would scan the whole text for every key; this reads the text
/// once and every section on its own, and all keys come from one snapshot of the file.
class ProfileSections {
 public:
  explicit ProfileSections(std::string_view text);

  /// The section names in file order, as readSectionNames gives them for a list buffer of
  /// `bufferSize` bytes.
  std::vector<std::string> names(std::size_t bufferSize) const;

  /// The value of `key` in `section`, or `defaultValue` when either is missing; cut to
  /// `bufferSize` - 1 characters, as readString gives it.
  std::string readString(std::string_view section, std::string_view key,
                         std::string_view defaultValue, std::size_t bufferSize) const;

 private:
  void addSection(std::string_view text);

  std::vector<std::string> names_;
  // Keyed by the name with ASCII letters lowered; each text starts with its own header line.
  std::unordered_map<std::string, ProfileText> sections_;
};

}  // namespace korvane::platform::profile
