#include "panel/logic/RegistrationReply.h"

#include <array>
#include <charconv>
#include <string>

namespace korvane::panel {
namespace {

using R = RegistrationResult;

// The fields an error may name, from identifier 1001 on, in the service's numbering (not the
// form's sending order): the form's fields and the division and title fields the service knows
// from its web form.
constexpr std::array<std::string_view, 37> kIdentifiedFields = {
    "domain",
    "org_name",
    "org_name_yomi",
    "org_zip",
    "org_address1",
    "org_address2",
    "org_tel1",
    "org_tel2",
    "org_fax",
    "user_login_id",
    "user_login_password",
    "user_name",
    "user_name_yomi",
    "user_org_name",
    "user_org_name_yomi",
    "user_division",
    "user_title",
    "user_zip",
    "user_address1",
    "user_address2",
    "user_mail",
    "user_tel1",
    "user_tel2",
    "user_fax",
    "account_contact_name",
    "account_contact_name_yomi",
    "account_contact_org_name",
    "account_contact_org_name_yomi",
    "account_contact_division",
    "account_contact_title",
    "account_contact_zip",
    "account_contact_address1",
    "account_contact_address2",
    "account_contact_mail",
    "account_contact_tel1",
    "account_contact_tel2",
    "account_contact_fax",
};
constexpr int kFirstFieldId = 1001;

// Replies that are the error whole, compared by their beginning.
struct WholeError {
  std::string_view prefix;
  RegistrationResult result;
};
constexpr WholeError kLeadingErrors[] = {
    {"Error: System Error Occurred.", R::kServiceError},
    {"Error: LoginID Already In Use.", R::kLoginIdInUse},
};
constexpr WholeError kTrailingErrors[] = {
    {"Error: Domain Already In Use.", R::kDomainInUse},
    {"Error: Mail Address Not Found.", R::kMailNotFound},
    {"Error: Authentication Failed.", R::kAuthenticationFailed},
    {"Error: LoginID Not Found.", R::kLoginIdNotFound},
    {"Error: LoginID and Mail Address do not match.", R::kLoginIdMailMismatch},
};

constexpr std::string_view kFormatErrorPrefix = "Error: Format Error, Field(";
constexpr std::string_view kFieldErrorPrefix = "Error: Field(";
constexpr std::string_view kValueErrorPrefix = "Error: Value(";
constexpr std::string_view kReservedText = "is reserved.";
constexpr std::string_view kLimitText = "Limit is ";

// The endings of an "Error: Field(" reply, in the order they are looked for.
constexpr WholeError kFieldEndings[] = {
    {kReservedText, R::kReserved},
    {"is empty.", R::kEmpty},
    {"is too long.", R::kTooLong},
    {"is too short.", R::kTooShort},
};

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The number after "Limit is ", which runs to the end of its line; empty when there is none.
bool readLimit(std::string_view reply, int* limit) {
  const std::size_t at = reply.find(kLimitText);
  if (at == std::string_view::npos) {
    return false;
  }
  std::string_view rest = reply.substr(at + kLimitText.size());
  rest = rest.substr(0, rest.find_first_of("\r\n"));
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), *limit);
  return error == std::errc() && end != rest.data();
}

DecodedError withField(RegistrationResult result, std::string_view reply) {
  return {result, findFieldId(reply), 0};
}

DecodedError decodeFieldError(std::string_view reply) {
  for (const auto& ending : kFieldEndings) {
    if (!contains(reply, ending.prefix)) {
      continue;
    }
    DecodedError error = withField(ending.result, reply);
    const bool hasLimit = ending.result == R::kTooLong || ending.result == R::kTooShort;
    if (hasLimit && !readLimit(reply, &error.limit)) {
      return {};
    }
    return error;
  }
  return {};
}

}  // namespace

int findFieldId(std::string_view reply) {
  for (std::size_t i = 0; i < kIdentifiedFields.size(); ++i) {
    if (contains(reply, "(" + std::string(kIdentifiedFields[i]) + ")")) {
      return kFirstFieldId + static_cast<int>(i);
    }
  }
  return 0;
}

DecodedError decodeErrorReply(std::string_view reply) {
  for (const auto& error : kLeadingErrors) {
    if (reply.starts_with(error.prefix)) {
      return {error.result, 0, 0};
    }
  }
  if (reply.starts_with(kFormatErrorPrefix)) {
    return withField(R::kFormatError, reply);
  }
  if (reply.starts_with(kFieldErrorPrefix)) {
    return decodeFieldError(reply);
  }
  if (reply.starts_with(kValueErrorPrefix)) {
    return contains(reply, kReservedText) ? withField(R::kReserved, reply) : DecodedError{};
  }
  for (const auto& error : kTrailingErrors) {
    if (reply.starts_with(error.prefix)) {
      return {error.result, 0, 0};
    }
  }
  return {};
}

}  // namespace korvane::panel
