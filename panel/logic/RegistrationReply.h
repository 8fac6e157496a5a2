#pragma once

#include <string_view>

/// The result codes of the registration service's operations and the reading of its error
/// replies, which every operation shares.
namespace korvane::panel {

/// What an operation of the registration client ended with; the wizard shows the message of
/// the same number.
enum class RegistrationResult {
  kSuccess = 0,
  kRequestFailed = 2,          ///< no reply was had (connection, limits, address)
  kServiceError = 3,           ///< "Error: System Error Occurred."
  kDomainInUse = 4,            ///< "Error: Domain Already In Use."
  kFormatError = 5,            ///< "Error: Format Error, Field(...", with the field
  kReserved = 6,               ///< "Error: Field(" or "Error: Value(" ... "is reserved."
  kMailNotFound = 7,           ///< "Error: Mail Address Not Found."
  kTooLong = 8,                ///< "Error: Field(" ... "is too long." with the limit
  kTooShort = 9,               ///< "Error: Field(" ... "is too short." with the limit
  kEmpty = 10,                 ///< "Error: Field(" ... "is empty."
  kAuthenticationFailed = 11,  ///< "Error: Authentication Failed."
  kLoginIdInUse = 12,          ///< "Error: LoginID Already In Use."
  kInvalidReply = 13,          ///< any other reply, or a result larger than its buffer
  kPassCodeTooLong = 14,       ///< the redeemed pass code does not fit the caller's buffer
  kPickupCodeWrong = 15,       ///< refused by the service, or not a code of an address
  kLoginIdNotFound = 18,       ///< "Error: LoginID Not Found."
  kLoginIdMailMismatch = 19,   ///< "Error: LoginID and Mail Address do not match."
  kNoServiceInformation = 99,  ///< discovery has not succeeded yet
  kBadRegisterType = 1000,     ///< the form's type flag is neither 0 nor 1
};

/// The number of a result, as the wizard's messages are numbered.
constexpr int resultNumber(RegistrationResult result) {
  return static_cast<int>(result);
}

/// An error reply read: its code, the identifier of the field it names (0 when none) and, for
/// a value too long or too short, the limit.
struct DecodedError {
  RegistrationResult result = RegistrationResult::kInvalidReply;
  int fieldId = 0;
  int limit = 0;
};

/// The identifier of the first field, in identifier order (1001 `domain` to 1037
/// `account_contact_fax`), whose name stands in parentheses in `reply`; 0 when none does.
int findFieldId(std::string_view reply);

/// Reads an error reply in the service's order: system error (3), login identifier taken (12),
/// format error (5), "Error: Field(" with "is reserved." (6), "is empty." (10), "is too long."
/// (8) or "is too short." (9), "Error: Value(" with "is reserved." (6), then the whole-line
/// errors 4, 7, 11, 18 and 19; anything else (also a too long or too short without a number
/// after "Limit is ") is 13. Codes 5, 6, 8, 9 and 10 come with the named field's identifier.
DecodedError decodeErrorReply(std::string_view reply);

}  // namespace korvane::panel
