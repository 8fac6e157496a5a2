// The registration wizard's decisions without its windows: the ways through its pages, what a
// failed request shows, the form pages' share of the form, and the texts the pages fill in.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "panel/logic/RegistrationWizardFlow.h"

namespace korvane::panel::wizard {
namespace {

using R = RegistrationResult;
using F = FormField;

TEST(RegistrationWizardFlow, ButtonsLeadToTheirPages) {
  EXPECT_EQ(firstPage(""), kStartPage);
  EXPECT_EQ(firstPage("c3RvcmVk"), kDiscardPage);
  const struct {
    int page, button;
    std::optional<int> next;
  } rows[] = {
      {kStartPage, kAccountPathButton, kLoginPage},
      {kStartPage, kPickupPathButton, kPickupPage},
      {kLoginPage, kNewUserButton, kDomainPage},
      {kResetMailPage, kOtherVariantButton, kResetMailOtherPage},
      {kResetMailOtherPage, kFirstVariantButton, kResetMailPage},
      {kOrganisationPage, kWithoutOrganisationButton, kPersonPage},
      {kPersonPage, kBackButton, kOrganisationPage},
      {kSummaryPage, kBackButton, kContactPage},
      // Buttons that send a request lead nowhere by themselves.
      {kLoginPage, kLoginButton, std::nullopt},
      {kSummaryPage, kSubmitButton, std::nullopt},
      {kDonePage, kBackButton, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.page << "/" << row.button);
    EXPECT_EQ(linkedPage(row.page, row.button), row.next);
  }
  EXPECT_EQ(pageAfterSuccess(kDomainPage, true), kAddDomainPage);
  EXPECT_EQ(pageAfterSuccess(kDomainPage, false), kOrganisationPage);
  EXPECT_EQ(pageAfterSuccess(kPersonPage, false), kSummaryPage);
  EXPECT_EQ(pageAfterSuccess(kSummaryPage, false), kDonePage);
}

TEST(RegistrationWizardFlow, AFailedRequestShowsItsPagesLabelsOrNothing) {
  const struct {
    const char* what;
    int page;
    R result;
    int fieldId, limit;
    std::optional<std::vector<int>> labels;
    int focus;
    std::optional<int> argument;
  } rows[] = {
      {"wrong password", kLoginPage, R::kAuthenticationFailed, 0, 0, {{1161, 1193}}, 0, {}},
      {"domain taken", kDomainPage, R::kDomainInUse, 1001, 0, {{1161, 1160}}, 0, {}},
      {"domain reserved", kDomainPage, R::kReserved, 1001, 0, {{1161, 1163}}, 0, {}},
      {"wrong pickup code", kPickupPage, R::kPickupCodeWrong, 0, 0, {{1161, 1198}}, 0, {}},
      {"mail unknown", kResetMailOtherPage, R::kMailNotFound, 0, 0, {{1161, 1192}}, 0, {}},
      // A field error focuses the field when the page has it, also a field it repeats.
      {"fax too long", kOrganisationPage, R::kTooLong, 1009, 20, {{1161}}, 1143, 20},
      {"mail too short", kUserPage, R::kTooShort, 1021, 6, {{1161}}, 1021, 6},
      {"user name empty", kPersonPage, R::kEmpty, 1012, 0, {{1161}}, 1002, {}},
      {"other page's field", kContactPage, R::kFormatError, 1004, 0, {{1161}}, 0, {}},
      {"login taken", kSummaryPage, R::kLoginIdInUse, 0, 0, {{1161}}, 0, {}},
      // Numbers a page does not know leave it as it is.
      {"odd reply at login", kLoginPage, R::kInvalidReply, 0, 0, std::nullopt, 0, {}},
      {"odd reply at domain", kDomainPage, R::kInvalidReply, 0, 0, std::nullopt, 0, {}},
      {"bad type flag", kSummaryPage, R::kBadRegisterType, 0, 0, std::nullopt, 0, {}},
      {"no requests", kStartPage, R::kRequestFailed, 0, 0, std::nullopt, 0, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    RegistrationOutcome outcome;
    outcome.result = row.result;
    outcome.fieldId = row.fieldId;
    outcome.limit = row.limit;
    const auto display = errorDisplay(row.page, outcome);
    ASSERT_EQ(display.has_value(), row.labels.has_value());
    if (!display) {
      continue;
    }
    EXPECT_EQ(display->messageId, 700 + resultNumber(row.result));
    EXPECT_EQ(display->labels, *row.labels);
    EXPECT_EQ(display->focusControl, row.focus);
    EXPECT_EQ(display->argument, row.argument);
    // Every label an error shows is one the page hides before its next request.
    for (int label : display->labels) {
      EXPECT_NE(std::ranges::find(errorLabels(row.page), label), errorLabels(row.page).end());
    }
  }
}

TEST(RegistrationWizardFlow, PricesAreGroupedInThrees) {
  const std::pair<float, const char*> rows[] = {
      {0, "0"},        {300, "300"},          {999, "999"},
      {1000, "1,000"}, {3000.5f, "3,000.50"}, {1234567, "1,234,567"},
      {-5, "0"},
  };
  for (const auto& [price, text] : rows) {
    SCOPED_TRACE(text);
    EXPECT_EQ(groupedPrice(price), text);
  }
}

// Reads a page's controls from a map, as the window reads its line edits.
std::function<std::string(int)> typed(const std::map<int, std::string>& values) {
  return [values](int control) {
    const auto found = values.find(control);
    return found == values.end() ? std::string() : found->second;
  };
}

TEST(RegistrationWizardFlow, FormPagesResetAndFillTheirShareOfTheForm) {
  RegistrationForm form;
  resetPageFields(kOrganisationPage, &form);
  takePageFields(kOrganisationPage, typed({{1136, "Hokuto Ltd"}, {1143, "03-1"}}), &form);
  EXPECT_EQ(form.registerType, kRegisterWithOrganisation);
  EXPECT_EQ(form[F::kOrgName], "Hokuto Ltd");
  EXPECT_EQ(form[F::kOrgFax], "03-1");
  // Fields of later pages are not sent with the organisation page's check.
  EXPECT_EQ(form[F::kUserMail], kToBeFilled);
  EXPECT_EQ(form[F::kAccountContactName], kToBeFilled);

  // Without an organisation the person's data stands for it and the rest repeats it.
  resetPageFields(kPersonPage, &form);
  EXPECT_EQ(form[F::kOrgName], "");
  takePageFields(kPersonPage,
                 typed({{1002, "\xE5\xB1\xB1\xE7\x94\xB0"}, {1021, "t@example.jp"}, {1010, "yt"}}),
                 &form);
  EXPECT_EQ(form.registerType, kRegisterSameAsOrganisation);
  EXPECT_EQ(form[F::kUserName], "\xE5\xB1\xB1\xE7\x94\xB0");
  EXPECT_EQ(form[F::kAccountContactName], "\xE5\xB1\xB1\xE7\x94\xB0");
  EXPECT_EQ(form[F::kAccountContactMail], "t@example.jp");
  EXPECT_EQ(form[F::kUserOrgName], kSameAsOrg);
  EXPECT_EQ(form[F::kUserLoginId], "yt");

  // Back on the organisation page, the switch is off again.
  resetPageFields(kOrganisationPage, &form);
  EXPECT_EQ(form.registerType, kRegisterWithOrganisation);
  EXPECT_EQ(form[F::kUserOrgName], "");

  // Every control of every form page is a distinct field with a limit.
  for (int page : {kOrganisationPage, kUserPage, kContactPage, kPersonPage}) {
    SCOPED_TRACE(page);
    std::set<int> controls;
    for (const PageField& field : pageFields(page)) {
      EXPECT_TRUE(controls.insert(field.control).second);
      EXPECT_GT(field.maxChars, 0);
    }
  }
}

TEST(RegistrationWizardFlow, TheSummaryListsGivenFieldsWithTheirCaptions) {
  RegistrationForm form;
  form[F::kDomain] = "myhub";
  form[F::kUserLoginPassword] = "secret";
  form[F::kUserMail] = std::string(kToBeFilled);
  form[F::kUserOrgName] = std::string(kSameAsOrg);
  const auto caption = [](int id) { return "C" + std::to_string(id); };
  EXPECT_EQ(summaryText(form, caption, "(same)"), "C1001: myhub\nC1011: ******\nC1014: (same)\n");
  EXPECT_EQ(fieldIdentifier(F::kOrgName), 1002);
  EXPECT_EQ(fieldIdentifier(F::kUserOrgName), 1014);
  EXPECT_EQ(fieldIdentifier(F::kAccountContactFax), 1037);
}

}  // namespace
}  // namespace korvane::panel::wizard
