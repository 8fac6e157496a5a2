#include "platform/ProfileText.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace korvane::platform::profile {

namespace {

// Every line this module writes ends with CR LF, the line end the files have always had.
constexpr std::string_view kLineEnd = "\r\n";
// Editors that save UTF-8 may put this mark in front of the first line.
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view withoutQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

enum class LineKind { kOther, kSection, kKey };

struct Line {
  std::size_t begin = 0;  // first byte of the line (behind a byte order mark)
  std::size_t next = 0;   // first byte of the following line, or the text's size
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section name or key, trimmed
  std::string_view value;  // key's value, trimmed, quotes still on
};

// What a reader looks at: looking for a section, key lines need not be taken apart, which keeps
// a search through a large file to little more than finding its line ends.
enum class Scan { kEverything, kSectionsOnly };

void classify(std::string_view content, Scan scan, Line* line) {
  while (!content.empty() && isBlank(content.front())) {
    content.remove_prefix(1);
  }
  if (content.starts_with('[')) {
    content.remove_prefix(1);
    line->kind = LineKind::kSection;
    line->name = trimBlanks(content.substr(0, content.find(']')));
    return;
  }
  if (scan == Scan::kSectionsOnly || content.starts_with(';')) {
    return;
  }
  const std::size_t equals = content.find('=');
  if (equals == std::string_view::npos || trimBlanks(content.substr(0, equals)).empty()) {
    return;
  }
  line->kind = LineKind::kKey;
  line->name = trimBlanks(content.substr(0, equals));
  line->value = trimBlanks(content.substr(equals + 1));
}

// Walks the lines of a text; LF ends a line, and a CR in front of it belongs to the line end.
class LineReader {
 public:
  LineReader(std::string_view text, std::size_t from, Scan scan = Scan::kEverything)
      : text_(text), position_(from), scan_(scan) {}

  bool next(Line* line) {
    if (position_ >= text_.size()) {
      return false;
    }
    *line = Line{};
    line->begin = position_;
    if (position_ == 0 && text_.starts_with(kUtf8ByteOrderMark)) {
      line->begin = kUtf8ByteOrderMark.size();
    }
    const std::size_t lineFeed = text_.find('\n', line->begin);
    std::size_t end = lineFeed == std::string_view::npos ? text_.size() : lineFeed;
    line->next = lineFeed == std::string_view::npos ? text_.size() : lineFeed + 1;
    if (end > line->begin && text_[end - 1] == '\r') {
      --end;
    }
    classify(text_.substr(line->begin, end - line->begin), scan_, line);
    position_ = line->next;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t position_;
  Scan scan_;
};

// The header line of the first section named `section`.
std::optional<Line> findSection(std::string_view text, std::string_view section) {
  LineReader reader(text, 0, Scan::kSectionsOnly);
  Line line;
  while (reader.next(&line)) {
    if (line.kind == LineKind::kSection && sameName(line.name, section)) {
      return line;
    }
  }
  return std::nullopt;
}

// Appends `name` unless a name equal to it came before.
void addOnce(std::string_view name, std::unordered_set<std::string>* seen,
             std::vector<std::string>* names) {
  if (seen->insert(lowerAscii(name)).second) {
    names->emplace_back(name);
  }
}

struct Range {
  std::size_t begin;
  std::size_t end;
};

// Removes the ranges, which stand in file order and do not overlap.
std::string withoutRanges(const std::string& text, const std::vector<Range>& ranges) {
  std::string kept;
  kept.reserve(text.size());
  std::size_t from = 0;
  for (const Range& range : ranges) {
    kept.append(text, from, range.begin - from);
    from = range.end;
  }
  kept.append(text, from, std::string::npos);
  return kept;
}

std::string keyLine(std::string_view key, std::string_view value) {
  std::string line(key);
  line += '=';
  line += value;
  line += kLineEnd;
  return line;
}

}  // namespace

std::optional<std::string> ProfileText::value(std::string_view section,
                                              std::string_view key) const {
  const std::optional<Line> header = findSection(text_, trimBlanks(section));
  if (!header) {
    return std::nullopt;
  }
  key = trimBlanks(key);
  LineReader reader(text_, header->next);
  Line line;
  while (reader.next(&line) && line.kind != LineKind::kSection) {
    if (line.kind == LineKind::kKey && sameName(line.name, key)) {
      return std::string(withoutQuotes(line.value));
    }
  }
  return std::nullopt;
}

std::vector<std::string> ProfileText::sectionNames() const {
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  LineReader reader(text_, 0, Scan::kSectionsOnly);
  Line line;
  while (reader.next(&line)) {
    if (line.kind == LineKind::kSection && !line.name.empty()) {
      addOnce(line.name, &seen, &names);
    }
  }
  return names;
}

std::vector<std::string> ProfileText::keyNames(std::string_view section) const {
  std::vector<std::string> names;
  const std::optional<Line> header = findSection(text_, trimBlanks(section));
  if (!header) {
    return names;
  }
  std::unordered_set<std::string> seen;
  LineReader reader(text_, header->next);
  Line line;
  while (reader.next(&line) && line.kind != LineKind::kSection) {
    if (line.kind == LineKind::kKey) {
      addOnce(line.name, &seen, &names);
    }
  }
  return names;
}

void ProfileText::setValue(std::string_view section, std::string_view key, std::string_view value) {
  section = trimBlanks(section);
  key = trimBlanks(key);
  const std::optional<Line> header = findSection(text_, section);
  if (!header) {
    appendSection(section, key, value);
    return;
  }
  Line lastLine = *header;
  LineReader reader(text_, header->next);
  Line line;
  while (reader.next(&line) && line.kind != LineKind::kSection) {
    if (line.kind != LineKind::kKey) {
      continue;
    }
    if (sameName(line.name, key)) {
      // The key keeps the spelling it has in the file.
      const std::string replacement = keyLine(line.name, value);
      text_.replace(line.begin, line.next - line.begin, replacement);
      return;
    }
    lastLine = line;
  }
  if (lastLine.next == text_.size()) {
    terminateLastLine();
    text_ += keyLine(key, value);
    return;
  }
  text_.insert(lastLine.next, keyLine(key, value));
}

void ProfileText::removeKey(std::string_view section, std::string_view key) {
  const std::optional<Line> header = findSection(text_, trimBlanks(section));
  if (!header) {
    return;
  }
  key = trimBlanks(key);
  std::vector<Range> removed;
  LineReader reader(text_, header->next);
  Line line;
  while (reader.next(&line) && line.kind != LineKind::kSection) {
    if (line.kind == LineKind::kKey && sameName(line.name, key)) {
      removed.push_back({line.begin, line.next});
    }
  }
  text_ = withoutRanges(text_, removed);
}

void ProfileText::removeSection(std::string_view section) {
  section = trimBlanks(section);
  std::vector<Range> removed;
  std::optional<std::size_t> openSection;
  LineReader reader(text_, 0, Scan::kSectionsOnly);
  Line line;
  while (reader.next(&line)) {
    if (line.kind != LineKind::kSection) {
      continue;
    }
    if (openSection) {
      removed.push_back({*openSection, line.begin});
    }
    openSection = sameName(line.name, section) ? std::optional(line.begin) : std::nullopt;
  }
  if (openSection) {
    removed.push_back({*openSection, text_.size()});
  }
  text_ = withoutRanges(text_, removed);
}

void ProfileText::appendSection(std::string_view section, std::string_view key,
                                std::string_view value) {
  terminateLastLine();
  text_ += '[';
  text_ += section;
  text_ += ']';
  text_ += kLineEnd;
  text_ += keyLine(key, value);
}

// A last line without its line end gets one, so that a line can follow it.
void ProfileText::terminateLastLine() {
  if (text_.empty() || text_.ends_with('\n')) {
    return;
  }
  text_ += text_.ends_with('\r') ? "\n" : kLineEnd;
}

ProfileChange ProfileChange::setValue(std::string_view section, std::string_view key,
                                      std::string_view value) {
  return ProfileChange{Kind::kSetValue, std::string(section), std::string(key), std::string(value)};
}

ProfileChange ProfileChange::removeKey(std::string_view section, std::string_view key) {
  return ProfileChange{Kind::kRemoveKey, std::string(section), std::string(key), {}};
}

ProfileChange ProfileChange::removeSection(std::string_view section) {
  return ProfileChange{Kind::kRemoveSection, std::string(section), {}, {}};
}

bool ProfileText::apply(const std::vector<ProfileChange>& changes, std::string* err) {
  if (!checkChanges(changes, err)) {
    return false;
  }
  for (const ProfileChange& change : changes) {
    switch (change.kind) {
      case ProfileChange::Kind::kSetValue:
        setValue(change.section, change.key, change.value);
        break;
      case ProfileChange::Kind::kRemoveKey:
        removeKey(change.section, change.key);
        break;
      case ProfileChange::Kind::kRemoveSection:
        removeSection(change.section);
        break;
    }
  }
  return true;
}

bool checkChanges(const std::vector<ProfileChange>& changes, std::string* err) {
  for (const ProfileChange& change : changes) {
    if (change.kind != ProfileChange::Kind::kSetValue) {
      continue;
    }
    std::string reason;
    if (!checkWritable(change.section, change.key, change.value, &reason)) {
      *err = "[" + change.section + "] " + change.key + ": " + reason;
      return false;
    }
  }
  return true;
}

bool checkWritable(std::string_view section, std::string_view key, std::string_view value,
                   std::string* err) {
  const auto refuse = [err](const char* reason) {
    *err = reason;
    return false;
  };
  const auto hasLineBreakOrZero = [](std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
  };
  section = trimBlanks(section);
  key = trimBlanks(key);
  if (section.empty()) {
    return refuse("section name is empty");
  }
  if (hasLineBreakOrZero(section)) {
    return refuse("section name contains a line break or a zero byte");
  }
  if (section.find(']') != std::string_view::npos) {
    return refuse("section name contains ']'");
  }
  if (key.empty()) {
    return refuse("key is empty");
  }
  if (hasLineBreakOrZero(key)) {
    return refuse("key contains a line break or a zero byte");
  }
  if (key.find('=') != std::string_view::npos) {
    return refuse("key contains '='");
  }
  if (key.front() == ';' || key.front() == '[') {
    return refuse("key starts with ';' or '['");
  }
  if (hasLineBreakOrZero(value)) {
    return refuse("value contains a line break or a zero byte");
  }
  return true;
}

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return lowerAscii(c); });
  return lower;
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerAscii(x) == lowerAscii(y);
         });
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string cutToBuffer(std::string_view text, std::size_t bufferSize) {
  if (bufferSize == 0) {
    return {};
  }
  return std::string(text.substr(0, bufferSize - 1));
}

std::vector<std::string> fitToPackedBuffer(std::vector<std::string> names, std::size_t bufferSize) {
  // A name takes its characters plus its zero byte; the list ends with one more zero byte.
  std::vector<std::string> kept;
  std::size_t used = 0;
  for (std::string& name : names) {
    if (used + name.size() + 2 <= bufferSize) {
      used += name.size() + 1;
      kept.push_back(std::move(name));
      continue;
    }
    if (bufferSize >= used + 3) {
      kept.push_back(name.substr(0, bufferSize - used - 2));
    }
    break;
  }
  return kept;
}

}  // namespace korvane::platform::profile
