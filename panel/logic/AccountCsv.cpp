#include "panel/logic/AccountCsv.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "common/AsciiCase.h"
#include "common/Utf16.h"
#include "platform/WholeFile.h"

namespace korvane::panel {

namespace {

// Fields of a line in order; the first five must not be empty.
constexpr std::size_t kFieldCount = 6;
constexpr std::size_t kRequiredFields = 5;
constexpr std::size_t kNameField = 0;
constexpr std::size_t kPasswordField = 1;
constexpr std::size_t kTypeField = 2;
constexpr std::size_t kStateField = 3;
constexpr std::size_t kConnectionsField = 4;
constexpr std::size_t kBridgeField = 5;

constexpr std::string_view kLineEnd = "\r\n";

const char* const kFieldNames[kFieldCount] = {"name",  "password",    "type",
                                              "state", "connections", "bridging"};

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

bool endsField(char c) {
  return c == ',' || c == '\r' || c == '\n';
}

// The six fields of a line: blanks before a field are skipped, a field ends at a comma, a
// carriage return, a line feed or the end of the line, and blanks at its end are dropped. A
// field that ends at a line break leaves the fields behind it empty.
std::array<std::string_view, kFieldCount> splitFields(std::string_view line) {
  std::array<std::string_view, kFieldCount> fields;
  std::size_t position = 0;
  for (std::string_view& field : fields) {
    while (position < line.size() && isBlank(line[position])) {
      ++position;
    }
    const std::size_t begin = position;
    while (position < line.size() && !endsField(line[position])) {
      ++position;
    }
    std::size_t end = position;
    while (end > begin && isBlank(line[end - 1])) {
      --end;
    }
    field = line.substr(begin, end - begin);
    if (position < line.size() && line[position] == ',') {
      ++position;
    }
  }
  return fields;
}

// The code for a field of kCsvFieldLimitBytes or more: its own for the name and password.
CsvError tooLongError(std::size_t index) {
  if (index == kNameField) {
    return CsvError::kNameTooLong;
  }
  return index == kPasswordField ? CsvError::kPasswordTooLong : CsvError::kBadLine;
}

CsvError refuse(CsvError error, std::string message, std::string* err) {
  *err = std::move(message);
  return error;
}

// Name and password: UTF-8 text of at most kMaxAccountTextUnits UTF-16 code units.
CsvError parseText(std::string_view field, std::size_t index, CsvError tooLong,
                   std::u16string* text, std::string* err) {
  const std::string what = kFieldNames[index];
  std::optional<std::u16string> converted = common::utf8ToUtf16(field);
  if (!converted) {
    return refuse(CsvError::kBadLine, "the " + what + " is not valid UTF-8 text", err);
  }
  if (converted->size() > kMaxAccountTextUnits) {
    return refuse(tooLong, "the " + what + " is longer than 64 characters", err);
  }
  *text = std::move(*converted);
  return CsvError::kNone;
}

// Picks the value of a keyword field, compared in lower case; std::nullopt for another word.
std::optional<bool> keyword(std::string_view field, std::string_view whenTrue,
                            std::string_view whenFalse) {
  const std::string lower = common::lowerAscii(field);
  if (lower == whenTrue) {
    return true;
  }
  if (lower == whenFalse) {
    return false;
  }
  return std::nullopt;
}

// Why `text` cannot be a CSV field that reads back as itself; empty when it can.
std::string unwritableReason(std::u16string_view text, std::string* utf8) {
  std::optional<std::string> converted = common::utf16ToUtf8(text);
  if (!converted) {
    return "holds a character that cannot be written as UTF-8 (an unpaired surrogate)";
  }
  *utf8 = std::move(*converted);
  if (utf8->empty()) {
    return "is empty";
  }
  if (utf8->find_first_of(std::string_view(",\r\n\0", 4)) != std::string::npos) {
    return "holds a comma, a line break or a zero character";
  }
  if (isBlank(utf8->front()) || isBlank(utf8->back())) {
    return "starts or ends with a blank, which an import drops";
  }
  return {};
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

enum class LineRead { kLine, kEnd, kFailed };

// One line as fgets reads it into a kCsvLineBufferBytes buffer: up to and with its line feed,
// or kCsvLineBufferBytes - 1 bytes, or what is left at the end of the file.
LineRead readLine(std::FILE* file, std::string* line) {
  line->clear();
  while (line->size() < kCsvLineBufferBytes - 1) {
    const int c = std::getc(file);
    if (c == EOF) {
      break;
    }
    line->push_back(static_cast<char>(c));
    if (c == '\n') {
      return LineRead::kLine;
    }
  }
  if (std::ferror(file)) {
    return LineRead::kFailed;
  }
  return line->empty() ? LineRead::kEnd : LineRead::kLine;
}

std::string lineMessage(int lineNumber, const std::string& what) {
  return "line " + std::to_string(lineNumber) + ": " + what;
}

// Takes one parsed account into the list by the import's mode and counts it.
void merge(Account account, CsvImportMode mode, std::vector<Account>* accounts,
           CsvImportResult* result) {
  const auto taken = std::find_if(accounts->begin(), accounts->end(),
                                  [&](const Account& a) { return a.name == account.name; });
  if (taken == accounts->end()) {
    accounts->push_back(std::move(account));
    ++result->added;
    return;
  }
  if (mode != CsvImportMode::kOverwriteSameName) {
    ++result->kept;
    return;
  }
  accounts->erase(taken);
  accounts->push_back(std::move(account));
  ++result->replaced;
}

CsvImportResult failImport(CsvError error, int lineNumber, std::string message,
                           const CsvImportResult& sofar) {
  CsvImportResult result = sofar;
  result.error = error;
  result.line = lineNumber;
  result.message = lineNumber > 0 ? lineMessage(lineNumber, message) : std::move(message);
  return result;
}

}  // namespace

CsvError parseCsvLine(std::string_view line, Account* account, std::string* err) {
  const std::array<std::string_view, kFieldCount> fields = splitFields(line);
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    const std::string what = std::string("the ") + kFieldNames[i] + " field";
    if (i < kRequiredFields && fields[i].empty()) {
      return refuse(CsvError::kBadLine, what + " is empty", err);
    }
    if (fields[i].size() >= kCsvFieldLimitBytes) {
      return refuse(tooLongError(i), what + " is 1024 bytes or longer", err);
    }
  }
  *account = Account{};
  CsvError error =
      parseText(fields[kNameField], kNameField, CsvError::kNameTooLong, &account->name, err);
  if (error != CsvError::kNone) {
    return error;
  }
  error = parseText(fields[kPasswordField], kPasswordField, CsvError::kPasswordTooLong,
                    &account->password, err);
  if (error != CsvError::kNone) {
    return error;
  }
  const std::optional<bool> guest = keyword(fields[kTypeField], "guest", "normal");
  if (!guest) {
    return refuse(CsvError::kBadType, "the type is neither \"normal\" nor \"guest\"", err);
  }
  const std::optional<bool> locked = keyword(fields[kStateField], "locked", "use");
  if (!locked) {
    return refuse(CsvError::kBadState, "the state is neither \"use\" nor \"locked\"", err);
  }
  const std::optional<bool> single = keyword(fields[kConnectionsField], "single", "multi");
  if (!single) {
    return refuse(CsvError::kBadConnections,
                  "the connections field is neither \"single\" nor \"multi\"", err);
  }
  account->guest = *guest;
  account->status = *locked ? AccountStatus::kLocked : AccountStatus::kInUse;
  account->connectionMax = *single ? 1 : 0;
  // Only this exact word (in any case) forbids bridging; anything else, even nothing, allows it.
  account->bridgeAllow = common::lowerAscii(fields[kBridgeField]) != "bridgedisallow";
  return CsvError::kNone;
}

CsvError csvLineOf(const Account& account, std::string* line, std::string* err) {
  std::string name;
  std::string password;
  std::string why = unwritableReason(account.name, &name);
  if (!why.empty()) {
    return refuse(CsvError::kNameNotWritable,
                  "the name of account \"" + common::displayText(account.name) + "\" " + why, err);
  }
  why = unwritableReason(account.password, &password);
  if (!why.empty()) {
    return refuse(CsvError::kPasswordNotWritable, "the password of account \"" + name + "\" " + why,
                  err);
  }
  *line = name + "," + password + ",";
  *line += account.guest ? "guest," : "normal,";
  *line += account.status == AccountStatus::kInUse ? "use," : "locked,";
  *line += account.connectionMax == 0 ? "multi," : "single,";
  *line += account.bridgeAllow ? "bridgeallow" : "bridgedisallow";
  *line += kLineEnd;
  return CsvError::kNone;
}

CsvExportResult exportAccountsCsv(const std::string& path, std::span<const Account> accounts) {
  CsvExportResult result;
  std::string text;
  for (const Account& account : accounts) {
    std::string line;
    result.error = csvLineOf(account, &line, &result.message);
    if (result.error != CsvError::kNone) {
      result.failedName = account.name;
      return result;
    }
    text += line;
  }
  std::string err;
  if (!platform::replaceWholeFile(path, text, &err)) {
    result.error = CsvError::kCannotOpen;
    result.message = "cannot write " + path + ": " + err;
  }
  return result;
}

CsvImportResult importAccountsCsv(const std::string& path, CsvImportMode mode,
                                  std::vector<Account>* accounts) {
  CsvImportResult result;
  const File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    return failImport(CsvError::kCannotOpen, 0, "cannot open " + path + ": " + std::strerror(errno),
                      result);
  }
  if (mode == CsvImportMode::kReplaceAll) {
    accounts->clear();
  }
  std::string line;
  for (int lineNumber = 1;; ++lineNumber) {
    const LineRead read = readLine(file.get(), &line);
    if (read == LineRead::kEnd) {
      return result;
    }
    if (read == LineRead::kFailed) {
      return failImport(CsvError::kCannotOpen, lineNumber, "the file cannot be read", result);
    }
    if (line.back() != '\n') {
      return failImport(CsvError::kBadLine, lineNumber,
                        line.size() < kCsvLineBufferBytes - 1
                            ? "the last line has no line end"
                            : "the line is longer than 1023 bytes with its line end",
                        result);
    }
    if (line.find('\0') != std::string::npos) {
      return failImport(CsvError::kBadLine, lineNumber, "the line holds a zero byte", result);
    }
    if (line.find(',') == std::string::npos) {
      continue;
    }
    if (accounts->size() >= kMaxAccounts) {
      return failImport(CsvError::kListFull, lineNumber,
                        "the list already holds " + std::to_string(kMaxAccounts) + " accounts",
                        result);
    }
    Account account;
    std::string why;
    const CsvError error =
        parseCsvLine(std::string_view(line).substr(0, line.size() - 1), &account, &why);
    if (error != CsvError::kNone) {
      return failImport(error, lineNumber, why, result);
    }
    merge(std::move(account), mode, accounts, &result);
  }
}

}  // namespace korvane::panel
