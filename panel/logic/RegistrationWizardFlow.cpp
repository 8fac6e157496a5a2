#include "panel/logic/RegistrationWizardFlow.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "panel/logic/RegistrationReply.h"

namespace korvane::panel::wizard {
namespace {

using F = FormField;
using R = RegistrationResult;

struct Link {
  int page;
  int button;
  int next;
};
constexpr Link kLinks[] = {
    {kStartPage, kAccountPathButton, kLoginPage},
    {kStartPage, kPickupPathButton, kPickupPage},
    {kPickupPage, kBackButton, kStartPage},
    {kLoginPage, kNewUserButton, kDomainPage},
    {kLoginPage, kBackButton, kResetMailPage},
    {kResetMailPage, kBackButton, kLoginPage},
    {kResetMailPage, kOtherVariantButton, kResetMailOtherPage},
    {kResetMailOtherPage, kBackButton, kLoginPage},
    {kResetMailOtherPage, kFirstVariantButton, kResetMailPage},
    {kAddDomainPage, kBackButton, kDomainPage},
    {kOrganisationPage, kWithoutOrganisationButton, kPersonPage},
    {kOrganisationPage, kBackButton, kDomainPage},
    {kUserPage, kBackButton, kOrganisationPage},
    {kContactPage, kBackButton, kUserPage},
    {kPersonPage, kBackButton, kOrganisationPage},
    // Also when the summary was reached from the page without an organisation.
    {kSummaryPage, kBackButton, kContactPage},
};

constexpr PageField kOrganisationFields[] = {
    {1136, F::kOrgName, kFormTextMaxChars},     {1137, F::kOrgNameYomi, kFormTextMaxChars},
    {1138, F::kOrgZip, kFormTextMaxChars},      {1139, F::kOrgAddress1, kFormTextMaxChars},
    {1140, F::kOrgAddress2, kFormTextMaxChars}, {1141, F::kOrgTel1, kFormTextMaxChars},
    {1142, F::kOrgTel2, kFormTextMaxChars},     {1143, F::kOrgFax, kFormTextMaxChars},
};
// The other form pages name their fields by the identifiers the service uses for them.
constexpr PageField kUserFields[] = {
    {1010, F::kUserLoginId, kLoginTextMaxChars},
    {1011, F::kUserLoginPassword, kLoginTextMaxChars, true},
    {1012, F::kUserName, kFormTextMaxChars},
    {1013, F::kUserNameYomi, kFormTextMaxChars},
    {1014, F::kUserOrgName, kFormTextMaxChars},
    {1015, F::kUserOrgNameYomi, kFormTextMaxChars},
    {1018, F::kUserZip, kFormTextMaxChars},
    {1019, F::kUserAddress1, kFormTextMaxChars},
    {1020, F::kUserAddress2, kFormTextMaxChars},
    {1021, F::kUserMail, kLoginTextMaxChars},
    {1022, F::kUserTel1, kFormTextMaxChars},
    {1023, F::kUserTel2, kFormTextMaxChars},
    {1024, F::kUserFax, kFormTextMaxChars},
};
constexpr PageField kContactFields[] = {
    {1025, F::kAccountContactName, kFormTextMaxChars},
    {1026, F::kAccountContactNameYomi, kFormTextMaxChars},
    {1027, F::kAccountContactOrgName, kFormTextMaxChars},
    {1028, F::kAccountContactOrgNameYomi, kFormTextMaxChars},
    {1031, F::kAccountContactZip, kFormTextMaxChars},
    {1032, F::kAccountContactAddress1, kFormTextMaxChars},
    {1033, F::kAccountContactAddress2, kFormTextMaxChars},
    {1034, F::kAccountContactMail, kLoginTextMaxChars},
    {1035, F::kAccountContactTel1, kFormTextMaxChars},
    {1036, F::kAccountContactTel2, kFormTextMaxChars},
    {1037, F::kAccountContactFax, kFormTextMaxChars},
};
// A person without an organisation registers as the organisation: the organisation fields hold
// the person's name and address, which the user and contact fields repeat.
constexpr PageField kPersonFields[] = {
    {1010, F::kUserLoginId, kLoginTextMaxChars},
    {1011, F::kUserLoginPassword, kLoginTextMaxChars, true},
    {1002, F::kOrgName, kFormTextMaxChars},
    {1003, F::kOrgNameYomi, kFormTextMaxChars},
    {1004, F::kOrgZip, kFormTextMaxChars},
    {1005, F::kOrgAddress1, kFormTextMaxChars},
    {1006, F::kOrgAddress2, kFormTextMaxChars},
    {1021, F::kUserMail, kLoginTextMaxChars},
    {1007, F::kOrgTel1, kFormTextMaxChars},
    {1008, F::kOrgTel2, kFormTextMaxChars},
    {1009, F::kOrgFax, kFormTextMaxChars},
};
// The person fields page 182 fills by repeating one of its own.
struct Copy {
  F from;
  F to;
};
constexpr Copy kPersonCopies[] = {
    {F::kOrgName, F::kUserName},
    {F::kOrgNameYomi, F::kUserNameYomi},
    {F::kOrgName, F::kAccountContactName},
    {F::kOrgNameYomi, F::kAccountContactNameYomi},
    {F::kUserMail, F::kAccountContactMail},
};
// The person fields a check leaves out until their page has filled them.
constexpr F kLaterPersonFields[] = {
    F::kUserName,           F::kUserNameYomi,           F::kUserMail,
    F::kAccountContactName, F::kAccountContactNameYomi, F::kAccountContactMail};

// The error numbers each page knows, and the labels beside 1161 that a number shows.
struct LabelRule {
  R result;
  int label;  // 0: the message alone
};
struct PageErrors {
  std::initializer_list<int> pages;
  std::initializer_list<LabelRule> rules;
  std::initializer_list<int> statusLabels;  // hidden until a request's outcome shows them
};
const PageErrors kPageErrors[] = {
    {{kPickupPage},
     {{R::kRequestFailed, 1198},
      {R::kInvalidReply, 1198},
      {R::kPassCodeTooLong, 1198},
      {R::kPickupCodeWrong, 1198}},
     {kMessageLabel, kPickupEmptyLabel, 1198}},
    {{kLoginPage},
     {{R::kRequestFailed, 1193}, {R::kServiceError, 1193}, {R::kAuthenticationFailed, 1193}},
     {kMessageLabel, 1193}},
    {{kResetMailPage, kResetMailOtherPage},
     {{R::kRequestFailed, 1192},
      {R::kServiceError, 1192},
      {R::kFormatError, 1192},
      {R::kMailNotFound, 1192},
      {R::kLoginIdNotFound, 1192},
      {R::kLoginIdMailMismatch, 1192}},
     {kMessageLabel, 1192, kMailSentLabel}},
    {{kDomainPage},
     {{R::kRequestFailed, 0},
      {R::kServiceError, 0},
      {R::kDomainInUse, 1160},
      {R::kFormatError, 1162},
      {R::kReserved, 1163},
      {R::kEmpty, 1164}},
     {kMessageLabel, 1160, 1162, 1163, 1164}},
    {{kAddDomainPage},
     {{R::kRequestFailed, 0},
      {R::kServiceError, 0},
      {R::kDomainInUse, 1160},
      {R::kAuthenticationFailed, 0}},
     {kMessageLabel, 1160}},
    {{kPersonPage, kOrganisationPage, kUserPage, kContactPage, kSummaryPage},
     {{R::kRequestFailed, 0},
      {R::kServiceError, 0},
      {R::kFormatError, 0},
      {R::kReserved, 0},
      {R::kTooLong, 0},
      {R::kTooShort, 0},
      {R::kEmpty, 0},
      {R::kLoginIdInUse, 0}},
     {kMessageLabel}},
};

const PageErrors* errorsOf(int page) {
  for (const PageErrors& errors : kPageErrors) {
    if (std::ranges::find(errors.pages, page) != errors.pages.end()) {
      return &errors;
    }
  }
  return nullptr;
}

// The control of `page` that holds the field the service named, directly or as the field that
// the page repeats into it; 0 when the page has none.
int controlOfField(int page, int fieldId) {
  const auto fields = pageFields(page);
  const auto controlOf = [&](F field) {
    const auto found = std::ranges::find(fields, field, &PageField::field);
    return found == fields.end() ? 0 : found->control;
  };
  for (const PageField& field : fields) {
    if (fieldIdentifier(field.field) == fieldId) {
      return field.control;
    }
  }
  if (page == kPersonPage) {
    for (const Copy& copy : kPersonCopies) {
      if (fieldIdentifier(copy.to) == fieldId) {
        return controlOf(copy.from);
      }
    }
  }
  return 0;
}

std::string groupDigits(std::uint64_t whole) {
  std::string digits = std::to_string(whole);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), 1, ',');
  }
  return digits;
}

}  // namespace

int firstPage(std::string_view storedPassCode) {
  return storedPassCode.empty() ? kStartPage : kDiscardPage;
}

std::optional<int> linkedPage(int page, int button) {
  for (const Link& link : kLinks) {
    if (link.page == page && link.button == button) {
      return link.next;
    }
  }
  return std::nullopt;
}

int pageAfterSuccess(int page, bool loggedIn) {
  switch (page) {
    case kDiscardPage:
      return kStartPage;
    case kLoginPage:
      return kDomainPage;
    case kDomainPage:
      return loggedIn ? kAddDomainPage : kOrganisationPage;
    case kOrganisationPage:
      return kUserPage;
    case kUserPage:
      return kContactPage;
    case kContactPage:
    case kPersonPage:
      return kSummaryPage;
    default:
      // Register, add domain and the pickup code end in the pass code.
      return kDonePage;
  }
}

std::span<const PageField> pageFields(int page) {
  switch (page) {
    case kOrganisationPage:
      return kOrganisationFields;
    case kUserPage:
      return kUserFields;
    case kContactPage:
      return kContactFields;
    case kPersonPage:
      return kPersonFields;
    default:
      return {};
  }
}

void resetPageFields(int page, RegistrationForm* form) {
  if (page == kOrganisationPage) {
    setSameAsOrganisation(form, false);
    for (F field : kLaterPersonFields) {
      (*form)[field] = std::string(kToBeFilled);
    }
  }
  for (const PageField& field : pageFields(page)) {
    (*form)[field.field].clear();
  }
  if (page == kPersonPage) {
    setSameAsOrganisation(form, true);
    for (const Copy& copy : kPersonCopies) {
      (*form)[copy.to].clear();
    }
  }
}

void takePageFields(int page, const std::function<std::string(int control)>& value,
                    RegistrationForm* form) {
  for (const PageField& field : pageFields(page)) {
    (*form)[field.field] = value(field.control);
  }
  if (page == kPersonPage) {
    for (const Copy& copy : kPersonCopies) {
      (*form)[copy.to] = (*form)[copy.from];
    }
  }
}

std::span<const int> errorLabels(int page) {
  const PageErrors* errors = errorsOf(page);
  if (errors == nullptr) {
    return {};
  }
  return {errors->statusLabels.begin(), errors->statusLabels.size()};
}

std::optional<ErrorDisplay> errorDisplay(int page, const RegistrationOutcome& outcome) {
  const PageErrors* errors = errorsOf(page);
  if (errors == nullptr) {
    return std::nullopt;
  }
  const auto rule = std::ranges::find(errors->rules, outcome.result, &LabelRule::result);
  if (rule == errors->rules.end()) {
    return std::nullopt;
  }
  ErrorDisplay display;
  display.messageId = kErrorMessageBase + resultNumber(outcome.result);
  if (outcome.result == R::kTooLong || outcome.result == R::kTooShort) {
    display.argument = outcome.limit;
  }
  display.labels.push_back(kMessageLabel);
  if (rule->label != 0) {
    display.labels.push_back(rule->label);
  }
  display.focusControl = controlOfField(page, outcome.fieldId);
  return display;
}

std::string groupedPrice(float price) {
  // Whole cents, so that 3000.5 is not written as 3,000.49.
  const auto cents = static_cast<std::uint64_t>(std::llround(std::max(0.0f, price) * 100.0));
  std::string text = groupDigits(cents / 100);
  if (cents % 100 != 0) {
    const auto fraction = std::to_string(100 + cents % 100);
    text += "." + fraction.substr(1);
  }
  return text;
}

std::string summaryText(const RegistrationForm& form,
                        const std::function<std::string(int fieldId)>& caption,
                        std::string_view sameAsOrg) {
  std::string text;
  for (std::size_t i = 0; i < kFormFieldCount; ++i) {
    const auto field = static_cast<F>(i);
    const std::string& value = form[field];
    if (value.empty() || value == kToBeFilled) {
      continue;
    }
    text += caption(fieldIdentifier(field)) + ": ";
    if (field == F::kUserLoginPassword) {
      text += std::string(value.size(), '*');
    } else if (value == kSameAsOrg) {
      text += sameAsOrg;
    } else {
      text += value;
    }
    text += '\n';
  }
  return text;
}

int fieldIdentifier(FormField field) {
  return findFieldId("(" + std::string(formFieldName(field)) + ")");
}

}  // namespace korvane::panel::wizard
