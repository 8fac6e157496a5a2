#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "panel/logic/RegistrationClient.h"
#include "panel/logic/RegistrationForm.h"

/// The domain registration wizard's decisions, apart from its windows: which page follows
/// which button, what each form page collects, which labels an error shows, and the texts the
/// pages fill in.
namespace korvane::panel::wizard {

/// The dialogs of the wizard in the resource library: the frame, the please-wait box and the
/// pages that replace one another inside the frame.
inline constexpr int kFrameDialog = 175;
inline constexpr int kPleaseWaitDialog = 191;
enum Page : int {
  kLoginPage = 177,
  kResetMailPage = 178,
  kDomainPage = 180,
  kDonePage = 181,
  kPersonPage = 182,  ///< a new user without an organisation
  kOrganisationPage = 183,
  kUserPage = 184,
  kContactPage = 185,
  kSummaryPage = 186,
  kAddDomainPage = 187,
  kPickupPage = 188,
  kDiscardPage = 189,
  kStartPage = 190,
  kResetMailOtherPage = 192,
  kUnreachablePage = 193,
};

/// Buttons and controls of the pages, by the number their objectName carries.
enum Control : int {
  kCloseButton = 8,  ///< closes the wizard (pages 189, 181, 193)
  kDomainField = 1107,
  kLoginButton = 1114,
  kLoginIdField = 1115,
  kPasswordField = 1116,
  kNewUserButton = 1117,
  kBackButton = 1118,
  kSendMailButton = 1119,
  kMailField = 1120,
  kNextButton = 1122,  ///< also "check" on the domain page
  kBaseDomainLabel = 1124,
  kSubmitButton = 1134,  ///< register, add the domain, redeem the pickup code
  kMessageLabel = 1161,  ///< the error number's message, on every page that sends requests
  kWithoutOrganisationButton = 1191,
  kPriceLabel = 1194,
  kTermsText = 1195,
  kPickupField = 1196,
  kPickupEmptyLabel = 1197,
  kDiscardButton = 1200,
  kAccountPathButton = 1201,
  kPickupPathButton = 1202,
  kOtherVariantButton = 1204,
  kFirstVariantButton = 1205,
  kMailSentLabel = 1206,
  kSummaryText = 1207,
  kRegisteredDomainLabel = 1208,
};

/// The message and caption of the question before a stored pass code is discarded.
inline constexpr int kDiscardQuestionText = 107;
inline constexpr int kDiscardQuestionCaption = 108;
/// The message of error number N is string kErrorMessageBase + N; a limit fills its %d.
inline constexpr int kErrorMessageBase = 700;
/// The summary's text for a field that repeats the organisation's value.
inline constexpr int kSameAsOrgSummaryText = 720;
/// The message, with the reason for its %s, when a pass code cannot be stored.
inline constexpr int kStoreFailedMessage = 721;
/// The caption of a form field in the summary is the string numbered as the field's identifier
/// (1002 `org_name` ... 1037); fields whose identifier the service also uses in error replies.
/// The registration is sent with the product's name and version.
inline constexpr std::string_view kRegisterFrom = "Arvelle Korvane Version 2.19.1";

/// The service's login identifiers, passwords and mail addresses fit in this many characters;
/// the login and password reset pages take no more.
inline constexpr int kLoginTextMaxChars = 128;
/// A domain label of DNS has at most 63 characters.
inline constexpr int kDomainLabelMaxChars = 63;
/// The form fields take at most this many characters; the service names its own, smaller
/// limits in its "is too long" reply, which the page then shows.
inline constexpr int kFormTextMaxChars = 128;

/// The page the wizard opens with: the discard question when a pass code is stored, else the
/// start page.
int firstPage(std::string_view storedPassCode);

/// The page a button leads to without a request; empty when the button sends one or closes.
std::optional<int> linkedPage(int page, int button);

/// The page after a successful request of `page`; on the domain page it depends on whether the
/// user has logged in (add a domain) or not (a new user's organisation page).
int pageAfterSuccess(int page, bool loggedIn);

/// One field of a page: its control, the form field it fills and how many characters it takes.
struct PageField {
  int control;
  FormField field;
  int maxChars;
  bool secret = false;  ///< shown with the password mask
};

/// The form fields that `page` collects (the form pages 182 to 185); empty for other pages.
std::span<const PageField> pageFields(int page);

/// Resets the part of `form` that a form page collects, as the page does when it opens: the
/// organisation page also switches the same-as-organisation values off and marks the person
/// fields that later pages fill as "<TO BE FILLED>"; the page without an organisation switches
/// them on.
void resetPageFields(int page, RegistrationForm* form);

/// Takes the values the user typed on a form page into `form` (`value(control)` reads a
/// control); the page without an organisation also repeats its name and mail address as the
/// user's and the account contact's.
void takePageFields(int page, const std::function<std::string(int control)>& value,
                    RegistrationForm* form);

/// What a page shows for a failed request.
struct ErrorDisplay {
  int messageId = 0;            ///< string put into label 1161
  std::optional<int> argument;  ///< the limit, for the %d of a too long or too short value
  std::vector<int> labels;      ///< every error label to show, 1161 first
  int focusControl = 0;         ///< the field named by the error, when this page has it
};

/// The labels every page hides before a request; they show only for that request's error.
std::span<const int> errorLabels(int page);

/// What `page` shows for `outcome`; empty for an error number the page does not know, which
/// leaves the page as it is.
std::optional<ErrorDisplay> errorDisplay(int page, const RegistrationOutcome& outcome);

/// `price` in decimal with a comma between groups of three digits ("3,000"); a fraction, when
/// the service gives one, follows with two digits ("3,000.50").
std::string groupedPrice(float price);

/// The summary of the form that page 186 shows: a line "caption: value" for every field with a
/// value, captions from `caption(fieldIdentifier)`, "<SAME AS ORG>" as `sameAsOrg`, the
/// password as asterisks.
std::string summaryText(const RegistrationForm& form,
                        const std::function<std::string(int fieldId)>& caption,
                        std::string_view sameAsOrg);

/// The identifier the service uses for `field` in its error replies (1001 `domain` ... 1037).
int fieldIdentifier(FormField field);

}  // namespace korvane::panel::wizard
