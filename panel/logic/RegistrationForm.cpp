#include "panel/logic/RegistrationForm.h"

#include <algorithm>

namespace korvane::panel {
namespace {

constexpr std::array<std::string_view, kFormFieldCount> kFieldNames = {
    "domain",
    "user_login_id",
    "user_login_password",
    "org_name",
    "org_name_yomi",
    "org_zip",
    "org_address1",
    "org_address2",
    "org_tel1",
    "org_tel2",
    "org_fax",
    "user_name",
    "user_name_yomi",
    "user_org_name",
    "user_org_name_yomi",
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
    "account_contact_zip",
    "account_contact_address1",
    "account_contact_address2",
    "account_contact_mail",
    "account_contact_tel1",
    "account_contact_tel2",
    "account_contact_fax",
};

// The fields that repeat the organisation's value for a registration without one.
constexpr FormField kSameAsOrgFields[] = {
    FormField::kUserOrgName,
    FormField::kUserOrgNameYomi,
    FormField::kUserZip,
    FormField::kUserAddress1,
    FormField::kUserAddress2,
    FormField::kUserTel1,
    FormField::kUserTel2,
    FormField::kUserFax,
    FormField::kAccountContactOrgName,
    FormField::kAccountContactOrgNameYomi,
    FormField::kAccountContactZip,
    FormField::kAccountContactAddress1,
    FormField::kAccountContactAddress2,
    FormField::kAccountContactTel1,
    FormField::kAccountContactTel2,
    FormField::kAccountContactFax,
};

// The person fields a check leaves out while the user has not filled them in: the service
// would refuse the placeholder as a name or a mail address.
constexpr FormField kLaterFilledFields[] = {
    FormField::kUserName,
    FormField::kUserNameYomi,
    FormField::kUserMail,
    FormField::kAccountContactName,
    FormField::kAccountContactNameYomi,
    FormField::kAccountContactMail,
};

bool leftOutOfCheck(FormField field, std::string_view value) {
  return value == kToBeFilled &&
         std::find(std::begin(kLaterFilledFields), std::end(kLaterFilledFields), field) !=
             std::end(kLaterFilledFields);
}

}  // namespace

std::string_view formFieldName(FormField field) {
  return kFieldNames[static_cast<std::size_t>(field)];
}

void setSameAsOrganisation(RegistrationForm* form, bool on) {
  form->registerType = on ? kRegisterSameAsOrganisation : kRegisterWithOrganisation;
  for (FormField field : kSameAsOrgFields) {
    (*form)[field] = on ? std::string(kSameAsOrg) : std::string();
  }
}

std::vector<std::pair<std::string_view, std::string>> formFields(const RegistrationForm& form,
                                                                 FormPurpose purpose,
                                                                 std::string_view registerFrom) {
  std::vector<std::pair<std::string_view, std::string>> fields;
  fields.emplace_back("register_type", std::to_string(form.registerType));
  for (std::size_t i = 0; i < kFormFieldCount; ++i) {
    const auto field = static_cast<FormField>(i);
    if (purpose == FormPurpose::kCheck && leftOutOfCheck(field, form[field])) {
      continue;
    }
    fields.emplace_back(kFieldNames[i], form[field]);
  }
  if (!registerFrom.empty()) {
    fields.emplace_back("register_from", std::string(registerFrom));
  }
  return fields;
}

std::string encodeForm(const std::vector<std::pair<std::string_view, std::string>>& fields) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string body;
  for (const auto& [name, value] : fields) {
    if (value.empty()) {
      continue;
    }
    if (!body.empty()) {
      body += '&';
    }
    body.append(name);
    body += '=';
    for (unsigned char byte : value) {
      body += '%';
      body += kHexDigits[byte >> 4];
      body += kHexDigits[byte & 0x0F];
    }
  }
  return body;
}

}  // namespace korvane::panel
