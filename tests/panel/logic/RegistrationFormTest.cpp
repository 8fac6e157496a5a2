// The registration form as it is sent, the reading of the service's error replies, and the
// registration host setting.

#include <gtest/gtest.h>

#include <cstdlib>

#include "panel/logic/RegistrationForm.h"
#include "panel/logic/RegistrationHost.h"
#include "panel/logic/RegistrationReply.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using R = RegistrationResult;

TEST(RegistrationForm, EncodesEveryByteAndLeavesEmptyFieldsOut) {
  RegistrationForm form;
  form[FormField::kDomain] = "ab1";
  form[FormField::kOrgName] = "\xE5\xB1\xB1\xE7\x94\xB0 & Co";  // non-ASCII goes as UTF-8
  form[FormField::kOrgFax] = "";
  form[FormField::kAccountContactFax] = "+";
  EXPECT_EQ(encodeForm(formFields(form, FormPurpose::kCheck, "")),
            "register_type=%31&domain=%61%62%31&org_name=%E5%B1%B1%E7%94%B0%20%26%20%43%6F"
            "&account_contact_fax=%2B");
  EXPECT_EQ(encodeForm(formFields(RegistrationForm{}, FormPurpose::kRegister, "Banner 2.1")),
            "register_type=%31&register_from=%42%61%6E%6E%65%72%20%32%2E%31");
}

TEST(RegistrationForm, ACheckLeavesOutOnlyThePersonFieldsStillToBeFilled) {
  RegistrationForm form;
  for (auto& value : form.values) {
    value = std::string(kToBeFilled);
  }
  std::vector<std::string_view> sent;
  for (const auto& [name, value] : formFields(form, FormPurpose::kCheck, "")) {
    sent.push_back(name);
  }
  for (const char* name : {"user_name", "user_name_yomi", "user_mail", "account_contact_name",
                           "account_contact_name_yomi", "account_contact_mail"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(std::find(sent.begin(), sent.end(), name), sent.end());
  }
  EXPECT_EQ(sent.size(), 1 + kFormFieldCount - 6);  // register_type and the rest
  EXPECT_EQ(formFields(form, FormPurpose::kRegister, "").size(), 1 + kFormFieldCount);
}

TEST(RegistrationForm, TheSameAsOrganisationSwitchSetsAndClearsTheRepeatedFields) {
  RegistrationForm form;
  form[FormField::kUserName] = "Taro";
  setSameAsOrganisation(&form, true);
  EXPECT_EQ(form.registerType, 0);
  const auto on = encodeForm(formFields(form, FormPurpose::kCheck, ""));
  std::size_t repeated = 0;
  for (const auto& [name, value] : formFields(form, FormPurpose::kCheck, "")) {
    repeated += value == kSameAsOrg ? 1 : 0;
  }
  EXPECT_EQ(repeated, 16u);
  EXPECT_EQ(form[FormField::kUserName], "Taro");
  EXPECT_EQ(form[FormField::kOrgName], "");
  EXPECT_EQ(form[FormField::kUserMail], "");
  EXPECT_NE(on.find("&user_org_name=%3C%53"), std::string::npos);
  setSameAsOrganisation(&form, false);
  EXPECT_EQ(form.registerType, 1);
  EXPECT_EQ(encodeForm(formFields(form, FormPurpose::kCheck, "")),
            "register_type=%31&user_name=%54%61%72%6F");
}

TEST(RegistrationReply, ErrorRepliesAreReadInTheServicesOrder) {
  const struct {
    const char* reply;
    R result;
    int fieldId;
    int limit;
  } cases[] = {
      {"Error: System Error Occurred. (user_mail)", R::kServiceError, 0, 0},
      {"Error: LoginID Already In Use.", R::kLoginIdInUse, 0, 0},
      {"Error: Format Error, Field(org_zip)", R::kFormatError, 1004, 0},
      {"Error: Field(user_mail) is too long.\r\nLimit is 64\r\n", R::kTooLong, 1021, 64},
      {"Error: Field(user_login_password) is too short. Limit is 8", R::kTooShort, 1011, 8},
      {"Error: Field(account_contact_fax) is empty.", R::kEmpty, 1037, 0},
      {"Error: Field(domain) is reserved.", R::kReserved, 1001, 0},
      {"Error: Value(www) is reserved.", R::kReserved, 0, 0},
      // The first ending in the order wins; a name is matched with its parentheses only.
      {"Error: Field(user_org_name) is reserved. is empty.", R::kReserved, 1014, 0},
      {"Error: Field(org_name_x) is empty.", R::kEmpty, 0, 0},
      {"Error: Field(user_division) is empty.", R::kEmpty, 1016, 0},
      {"Error: Domain Already In Use.", R::kDomainInUse, 0, 0},
      {"Error: Mail Address Not Found.", R::kMailNotFound, 0, 0},
      {"Error: Authentication Failed.", R::kAuthenticationFailed, 0, 0},
      {"Error: LoginID Not Found.", R::kLoginIdNotFound, 0, 0},
      {"Error: LoginID and Mail Address do not match.", R::kLoginIdMailMismatch, 0, 0},
      // Anything else, a limit without a number, or an unknown ending.
      {"Error: Field(user_mail) is too long.", R::kInvalidReply, 0, 0},
      {"Error: Field(user_mail) is too long. Limit is many", R::kInvalidReply, 0, 0},
      {"Error: Field(user_mail) is odd.", R::kInvalidReply, 0, 0},
      {"Error: Value(www) is empty.", R::kInvalidReply, 0, 0},
      {"error: system error occurred.", R::kInvalidReply, 0, 0},
      {"", R::kInvalidReply, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    const DecodedError error = decodeErrorReply(c.reply);
    EXPECT_EQ(error.result, c.result);
    EXPECT_EQ(error.fieldId, c.fieldId);
    EXPECT_EQ(error.limit, c.limit);
  }
}

TEST(RegistrationHost, TheDispatchAddressHasTheFixedPathAndPort) {
  std::string err;
  EXPECT_EQ(dispatchUrl("register.example", &err),
            "http://register.example:8080/kvp/faces/api/service_spec_dispatch.jsp");
  EXPECT_EQ(dispatchUrl("127.0.0.1:4711", &err),
            "http://127.0.0.1:4711/kvp/faces/api/service_spec_dispatch.jsp");
  for (const char* host : {"", "http://register.example", "register.example/x", "a b", ":8080",
                           "register.example:", "register.example:0", "register.example:http",
                           "user@register.example"}) {
    SCOPED_TRACE(host);
    err.clear();
    EXPECT_FALSE(dispatchUrl(host, &err));
    EXPECT_FALSE(err.empty());
  }
}

TEST(RegistrationHost, TheEnvironmentReplacesTheSetting) {
  testing::TempProgramDir dir;
  const std::string config = dir.ini("Tollmar.ini");
  unsetenv(kRegistrationHostVariable);
  EXPECT_EQ(registrationHost(config), "");
  testing::writeFile(config, "[SYSTEM]\r\nRegistrationHost=register.example\r\n");
  EXPECT_EQ(registrationHost(config), "register.example");
  setenv(kRegistrationHostVariable, "127.0.0.1:4711", 1);
  EXPECT_EQ(registrationHost(config), "127.0.0.1:4711");
  setenv(kRegistrationHostVariable, "", 1);  // empty counts as unset
  EXPECT_EQ(registrationHost(config), "register.example");
  unsetenv(kRegistrationHostVariable);
}

}  // namespace
}  // namespace korvane::panel
