#pragma once

/// The numbers of the resource library's strings and icons that the account and filter windows
/// show.
namespace korvane::panel::text {

inline constexpr int kHubDeleted = 14;
inline constexpr int kAccountsTitle = 22;  ///< follows the hub name in the account window's title
inline constexpr int kAccountCountLabel = 23;
inline constexpr int kDeleteAccount = 24;
inline constexpr int kAccountLimit = 25;  ///< a format with %d
inline constexpr int kEnterAccountName = 26;
inline constexpr int kEnterPassword = 27;
inline constexpr int kAccountNameTaken = 28;
inline constexpr int kPasswordsDiffer = 29;
inline constexpr int kWrongPassword = 30;
inline constexpr int kCutClientsNow = 31;
inline constexpr int kAuthenticationOff = 32;

/// Column headers of the account list, left to right.
inline constexpr int kAccountColumnHeaders[] = {56, 102, 61, 57, 160, 103};
inline constexpr int kNormalAccount = 62;
inline constexpr int kGuestAccount = 63;
inline constexpr int kInUse = 58;
inline constexpr int kLocked = 59;
inline constexpr int kMultipleConnections = 161;
inline constexpr int kSingleConnection = 162;
inline constexpr int kAllowed = 65;
inline constexpr int kNotAllowed = 66;

inline constexpr int kImportTitle = 79;
inline constexpr int kExportTitle = 80;
inline constexpr int kNameNotExportable = 81;      ///< a format with %s
inline constexpr int kPasswordNotExportable = 82;  ///< a format with %s
inline constexpr int kCannotOpenFile = 83;
inline constexpr int kImportListFull = 84;  ///< a format with %d
inline constexpr int kExported = 85;
inline constexpr int kImported = 86;
/// Import failures by CSV result code 8 to 12, each a format with the line number.
inline constexpr int kImportLineFailures[] = {87, 88, 89, 90, 91};
inline constexpr int kImportBadLine = 92;  ///< a format with the line number

inline constexpr int kFilterTitle = 64;  ///< follows the hub name in the filter window's title
inline constexpr int kRuleCountLabel = 68;
inline constexpr int kRuleNameTaken = 67;
inline constexpr int kEnterRuleName = 69;
inline constexpr int kEnterHostName = 152;
/// Column headers of the rule list, left to right.
inline constexpr int kRuleColumnHeaders[] = {148, 149, 151};
/// A rule or host name that the filter file cannot hold as it is (a line break, ']', blanks at
/// either end).
inline constexpr int kRuleNotWritable = 195;
/// An address or mask that is not four dotted numbers.
inline constexpr int kBadRuleAddress = 196;

}  // namespace korvane::panel::text

/// Icon numbers of the account and filter windows.
namespace korvane::panel::icon {

inline constexpr int kAccountInUse = 124;
inline constexpr int kAccountLocked = 125;
inline constexpr int kRuleRefuses = 154;
inline constexpr int kRuleAllows = 155;

}  // namespace korvane::panel::icon
