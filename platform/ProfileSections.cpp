#include "platform/ProfileSections.h"

#include <optional>

namespace korvane::platform::profile {

namespace {

// Editors that save UTF-8 may put this mark in front of the first line; readers skip it.
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// A line whose first character other than a blank or tab is '[' starts a section.
bool startsSection(std::string_view line) {
  const std::size_t first = line.find_first_not_of(" \t");
  return first != std::string_view::npos && line[first] == '[';
}

}  // namespace

ProfileSections::ProfileSections(std::string_view text) {
  if (text.starts_with(kUtf8ByteOrderMark)) {
    text.remove_prefix(kUtf8ByteOrderMark.size());
  }
  std::size_t sectionStart = std::string_view::npos;
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t lineFeed = text.find('\n', position);
    const std::size_t next = lineFeed == std::string_view::npos ? text.size() : lineFeed + 1;
    if (startsSection(text.substr(position, next - position))) {
      if (sectionStart != std::string_view::npos) {
        addSection(text.substr(sectionStart, position - sectionStart));
      }
      sectionStart = position;
    }
    position = next;
  }
  if (sectionStart != std::string_view::npos) {
    addSection(text.substr(sectionStart));
  }
}

// The name of a section is the header's text behind '[' up to the first ']' (or the line's
// end), without blanks around it. A section with an empty name can be read but is not listed,
// and a section that repeats an earlier name is hidden by it.
void ProfileSections::addSection(std::string_view text) {
  std::string_view header = text.substr(0, text.find('\n'));
  if (header.ends_with('\r')) {
    header.remove_suffix(1);
  }
  header = trimBlanks(header);
  header.remove_prefix(1);
  const std::string_view name = trimBlanks(header.substr(0, header.find(']')));
  const bool added = sections_.try_emplace(lowerAscii(name), ProfileText(std::string(text))).second;
  if (added && !name.empty()) {
    names_.emplace_back(name);
  }
}

std::vector<std::string> ProfileSections::names(std::size_t bufferSize) const {
  return fitToPackedBuffer(names_, bufferSize);
}

std::string ProfileSections::readString(std::string_view section, std::string_view key,
                                        std::string_view defaultValue,
                                        std::size_t bufferSize) const {
  std::optional<std::string> value;
  const auto found = sections_.find(lowerAscii(trimBlanks(section)));
  if (found != sections_.end()) {
    value = found->second.value(section, key);
  }
  return cutToBuffer(value ? std::string_view(*value) : defaultValue, bufferSize);
}

}  // namespace korvane::platform::profile
