#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "panel/logic/Account.h"

/// Accounts exchanged as plain CSV text: one account a line, six fields without quoting
/// (name, password, "normal"/"guest", "use"/"locked", "single"/"multi",
/// "bridgeallow"/"bridgedisallow"), each line ended by CR LF.
namespace korvane::panel {

/// A CSV line is read into a 1024-byte buffer with its zero byte, so a line holds at most 1023
/// bytes with its line feed; a longer one is refused as a line without line end.
inline constexpr std::size_t kCsvLineBufferBytes = 1024;
/// A field this long or longer cannot be a name or password: it did not fit the 1024-byte
/// buffers that the fields are cut into.
inline constexpr std::size_t kCsvFieldLimitBytes = 1024;

/// The result codes of CSV export and import; the numbers are the ones the panel shows.
enum class CsvError {
  kNone = 0,
  kBadLine = 1,              ///< no line end, an empty field among the first five, bad text
  kCannotOpen = 2,           ///< the file cannot be opened (or read, or written)
  kNameNotWritable = 5,      ///< export: a name cannot be written as a CSV field
  kPasswordNotWritable = 6,  ///< export: a password cannot be written as a CSV field
  kListFull = 7,             ///< import: the list already holds kMaxAccounts accounts
  kNameTooLong = 8,          ///< import: name of kCsvFieldLimitBytes bytes or > 64 characters
  kPasswordTooLong = 9,      ///< import: password too long, by the same limits
  kBadType = 10,             ///< import: type is neither "normal" nor "guest"
  kBadState = 11,            ///< import: state is neither "use" nor "locked"
  kBadConnections = 12,      ///< import: connections is neither "single" nor "multi"
};

/// How an import combines the file's accounts with those already in the list.
enum class CsvImportMode {
  kReplaceAll = 1,         ///< the list becomes the file's accounts
  kOverwriteSameName = 2,  ///< a name already in the list is replaced by the file's account
  kKeepExisting = 3,       ///< a name already in the list keeps its account; the line is skipped
};

struct CsvExportResult {
  CsvError error = CsvError::kNone;
  std::u16string failedName;  ///< for kNameNotWritable and kPasswordNotWritable: the account
  std::string message;        ///< what went wrong, in English; empty when done

  bool ok() const { return error == CsvError::kNone; }
};

struct CsvImportResult {
  CsvError error = CsvError::kNone;
  int line = 0;              ///< the failing line, counted from 1; 0 when done or not opened
  std::string message;       ///< what went wrong, naming the line; empty when done
  std::size_t added = 0;     ///< accounts whose names were new
  std::size_t replaced = 0;  ///< accounts that replaced one of the same name (kOverwriteSameName)
  std::size_t kept = 0;      ///< lines skipped because the name was taken (kKeepExisting)

  bool ok() const { return error == CsvError::kNone; }
};

/// The account of one CSV line (without its line end), its domain left empty. kBadLine,
/// kNameTooLong, kPasswordTooLong, kBadType, kBadState or kBadConnections with a message in
/// `err` when the line does not describe an account; `account` is then unspecified.
[[nodiscard]] CsvError parseCsvLine(std::string_view line, Account* account, std::string* err);

/// The CSV line of `account` with its CR LF. kNameNotWritable or kPasswordNotWritable with a
/// message in `err` when the name or password cannot be written as a field that an import reads
/// back as it is: a text that is not valid UTF-16, or that is empty, holds a comma, a line break
/// or a zero, or starts or ends with a blank.
[[nodiscard]] CsvError csvLineOf(const Account& account, std::string* line, std::string* err);

/// Writes `accounts` to the CSV file `path`, in order. The file is replaced in one piece only
/// when every account could be written; on the first account that cannot, nothing is written
/// and the result names it.
[[nodiscard]] CsvExportResult exportAccountsCsv(const std::string& path,
                                                std::span<const Account> accounts);

/// Reads the CSV file `path` into `accounts` by `mode`: new names are appended; a taken name is
/// replaced (removed, and the new account appended) with kOverwriteSameName and kept otherwise;
/// kReplaceAll starts from an empty list. Lines without a comma are skipped. On a failure
/// `accounts` holds the lines before the failing one, and the caller is expected to throw it
/// away: only a whole file is taken.
[[nodiscard]] CsvImportResult importAccountsCsv(const std::string& path, CsvImportMode mode,
                                                std::vector<Account>* accounts);

}  // namespace korvane::panel
