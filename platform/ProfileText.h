#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane::platform::profile {

/// One change of a profile: a key set to a value, a key removed or a section removed.
struct ProfileChange {
  enum class Kind { kSetValue, kRemoveKey, kRemoveSection };

  /// Sets `key` in `section` to `value` (see ProfileText::setValue).
  static ProfileChange setValue(std::string_view section, std::string_view key,
                                std::string_view value);
  /// Removes `key` from `section` (see ProfileText::removeKey).
  static ProfileChange removeKey(std::string_view section, std::string_view key);
  /// Removes every section named `section` (see ProfileText::removeSection).
  static ProfileChange removeSection(std::string_view section);

  Kind kind = Kind::kSetValue;
  std::string section;
  std::string key;    ///< unused for kRemoveSection
  std::string value;  ///< used by kSetValue only
};

/// The text of one profile file, read and edited by the rules that ProfileFile.h lists. It knows
/// nothing of files or locks, so the same rules hold on every operating system.
///
/// A line whose first non-blank character is '[' starts a section named by the text up to the
/// first ']' (or the line's end); a line whose first non-blank character is ';' is a comment; any
/// other line with a '=' and a non-empty name before it is a key of the section above it. Readers
/// skip every other line (blank lines, text without '=', keys before the first section), and
/// writers keep it byte for byte unless they remove its whole section. A UTF-8 byte order mark at
/// the start of the text is skipped and kept.
class ProfileText {
 public:
  explicit ProfileText(std::string text) : text_(std::move(text)) {}

  const std::string& text() const { return text_; }

  /// The value of `key` in the first section named `section`, trimmed and with one pair of
  /// matching quotes removed; empty when the section or the key is missing.
  std::optional<std::string> value(std::string_view section, std::string_view key) const;

  /// The section names in file order, each name once (the first spelling of it), empty names
  /// left out because a packed name list cannot hold them.
  std::vector<std::string> sectionNames() const;

  /// The key names of the first section named `section`, in file order, each once, as above.
  std::vector<std::string> keyNames(std::string_view section) const;

  /// Replaces the first line of `key` in the first section named `section` with "key=value", or
  /// adds that line after the section's last key, or adds the section at the end. The names and
  /// the value must have passed checkWritable.
  void setValue(std::string_view section, std::string_view key, std::string_view value);

  /// Removes every line of `key` in the first section named `section`, so that reading the key
  /// afterwards finds nothing; a missing key or section changes nothing.
  void removeKey(std::string_view section, std::string_view key);

  /// Removes every section named `section`, from its header to the next section's header.
  void removeSection(std::string_view section);

  /// Applies `changes` in order, after checking every value to be set with checkWritable: false
  /// with the first refusal in `err` (naming the section and key), and the text unchanged, when
  /// any of them would not read back as written.
  [[nodiscard]] bool apply(const std::vector<ProfileChange>& changes, std::string* err);

 private:
  void appendSection(std::string_view section, std::string_view key, std::string_view value);
  void terminateLastLine();

  std::string text_;
};

/// False with a message in `err` when one of `changes` sets a value that checkWritable refuses;
/// the message names the section and the key ("[0001] HubName: value contains a line break").
[[nodiscard]] bool checkChanges(const std::vector<ProfileChange>& changes, std::string* err);

/// False with a message in `err` when writing `key` = `value` into `section` would make a file
/// that does not read back as written: an empty name, a line break or zero byte anywhere, a ']'
/// in the section name, a '=' in the key or a key that would read as a comment or a section.
[[nodiscard]] bool checkWritable(std::string_view section, std::string_view key,
                                 std::string_view value, std::string* err);

/// `c` with an ASCII capital letter made small; every other byte as it is.
char lowerAscii(char c);

/// `text` with its ASCII capital letters made small; every other byte as it is.
std::string lowerAscii(std::string_view text);

/// True when `a` and `b` are the same but for the case of ASCII letters, as section and key
/// names compare; other bytes compare exactly.
bool sameName(std::string_view a, std::string_view b);

/// `text` without the blanks and tabs at either end.
std::string_view trimBlanks(std::string_view text);

/// `text` as a C buffer of `bufferSize` bytes holds it with its terminating zero: at most
/// `bufferSize` - 1 bytes, nothing for sizes 0 and 1.
std::string cutToBuffer(std::string_view text, std::size_t bufferSize);

/// The `names` that fit into a packed buffer of `bufferSize` bytes holding "name\0name\0\0": when
/// the list does not fit, the first name that does not fit whole is cut so that it and two zero
/// bytes end the buffer (left out when nothing of it fits), and the names behind it are lost.
std::vector<std::string> fitToPackedBuffer(std::vector<std::string> names, std::size_t bufferSize);

}  // namespace korvane::platform::profile
