#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// The registration form that the wizard fills page by page and the registration service
/// checks and registers, and the form encoding of every request that carries fields.
namespace korvane::panel {

/// The fields of the registration form after `register_type`, in the order they are sent.
enum class FormField {
  kDomain,
  kUserLoginId,
  kUserLoginPassword,
  kOrgName,
  kOrgNameYomi,
  kOrgZip,
  kOrgAddress1,
  kOrgAddress2,
  kOrgTel1,
  kOrgTel2,
  kOrgFax,
  kUserName,
  kUserNameYomi,
  kUserOrgName,
  kUserOrgNameYomi,
  kUserZip,
  kUserAddress1,
  kUserAddress2,
  kUserMail,
  kUserTel1,
  kUserTel2,
  kUserFax,
  kAccountContactName,
  kAccountContactNameYomi,
  kAccountContactOrgName,
  kAccountContactOrgNameYomi,
  kAccountContactZip,
  kAccountContactAddress1,
  kAccountContactAddress2,
  kAccountContactMail,
  kAccountContactTel1,
  kAccountContactTel2,
  kAccountContactFax,
};
inline constexpr std::size_t kFormFieldCount = 33;

/// The value that makes the service repeat the organisation's value in a field.
inline constexpr std::string_view kSameAsOrg = "<SAME AS ORG>";
/// The value of a field the user has not filled in yet.
inline constexpr std::string_view kToBeFilled = "<TO BE FILLED>";

/// The form's type flag: 1 registers with an organisation, 0 a person whose user and contact
/// details repeat the organisation's ("<SAME AS ORG>").
inline constexpr int kRegisterWithOrganisation = 1;
inline constexpr int kRegisterSameAsOrganisation = 0;

/// The name under which `field` is sent ("org_fax").
std::string_view formFieldName(FormField field);

/// The wizard's form data: every text in UTF-8, empty until given.
struct RegistrationForm {
  int registerType = kRegisterWithOrganisation;  ///< must be 0 or 1 to be sent
  std::array<std::string, kFormFieldCount> values;

  std::string& operator[](FormField field) { return values[static_cast<std::size_t>(field)]; }
  const std::string& operator[](FormField field) const {
    return values[static_cast<std::size_t>(field)];
  }
};

/// The same-as-organisation switch: on sets the type flag to 0 and the user's and the account
/// contact's organisation name and reading, postal code, address lines, telephone and fax
/// numbers to "<SAME AS ORG>"; off sets the flag to 1 and empties those fields.
void setSameAsOrganisation(RegistrationForm* form, bool on);

/// What a form is sent for: a check leaves out the person fields still "<TO BE FILLED>", a
/// registration sends every field.
enum class FormPurpose { kCheck, kRegister };

/// The (name, value) pairs of `form` in sending order, `register_type` first, before empty
/// fields are left out. `registerFrom`, when not empty, is appended as `register_from`.
std::vector<std::pair<std::string_view, std::string>> formFields(const RegistrationForm& form,
                                                                 FormPurpose purpose,
                                                                 std::string_view registerFrom);

/// The body of a form POST: "name=%XX%XX..." joined by '&', every byte of each value written as
/// '%' and two upper-case hexadecimal digits (letters and digits too), fields with an empty
/// value left out entirely.
std::string encodeForm(const std::vector<std::pair<std::string_view, std::string>>& fields);

}  // namespace korvane::panel
