#include "panel/logic/RegistrationClient.h"

#include <algorithm>
#include <charconv>

#include "common/PassCode.h"
#include "panel/logic/RegistrationHost.h"

namespace korvane::panel {
namespace {

using R = RegistrationResult;

constexpr std::string_view kInformationReplyPrefix = "OK: Current Register URL is ";
constexpr std::string_view kOkPrefix = "OK";
constexpr std::string_view kGreetingPrefix = "OK: Hello ";
constexpr std::string_view kRegisteredPrefix = "OK: Registered, UpdatePassCode is ";
constexpr std::string_view kPickupMarker = "OK: UpdatePassCode: ";
constexpr std::string_view kPickupRefusedPrefix = "Error: PickupCode is not correct.";
// A refused reply is quoted in the diagnostic up to this many bytes: enough to recognise it,
// and a page of HTML does not flood the caller's message.
constexpr std::size_t kQuotedReplyBytes = 100;

// The errors each operation knows; another error reply is an invalid reply (13).
constexpr R kLoginErrors[] = {R::kServiceError, R::kAuthenticationFailed};
constexpr R kDomainErrors[] = {R::kServiceError, R::kDomainInUse, R::kFormatError, R::kReserved,
                               R::kEmpty};
constexpr R kResetMailErrors[] = {R::kServiceError, R::kFormatError, R::kMailNotFound,
                                  R::kLoginIdNotFound, R::kLoginIdMailMismatch};
constexpr R kTermsErrors[] = {R::kServiceError};
constexpr R kFormErrors[] = {R::kServiceError, R::kFormatError, R::kReserved,    R::kTooLong,
                             R::kTooShort,     R::kEmpty,       R::kLoginIdInUse};
constexpr R kAddDomainErrors[] = {R::kServiceError, R::kDomainInUse, R::kAuthenticationFailed};

struct ServiceKey {
  std::string_view key;
  std::string ServiceInfo::*member;
};
constexpr ServiceKey kServiceKeys[] = {
    {"current_base_domain = ", &ServiceInfo::baseDomain},
    {"current_url_base = ", &ServiceInfo::urlBase},
    {"service_spec_document_page = ", &ServiceInfo::termsPage},
    {"register_page = ", &ServiceInfo::registerPage},
    {"check_domain_name_page = ", &ServiceInfo::checkDomainPage},
    {"format_check_page = ", &ServiceInfo::formCheckPage},
    {"request_password_reset_mail_page = ", &ServiceInfo::passwordResetPage},
    {"check_login_page = ", &ServiceInfo::loginCheckPage},
    {"add_user_domain_page = ", &ServiceInfo::addDomainPage},
};
struct PriceKey {
  std::string_view key;
  float ServiceInfo::*member;
};
constexpr PriceKey kPriceKeys[] = {
    {"monthly_domain_price = ", &ServiceInfo::monthlyPrice},
    {"annual_domain_price = ", &ServiceInfo::annualPrice},
};

std::string_view firstLine(std::string_view text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

std::string quoted(std::string_view reply) {
  return "'" + std::string(firstLine(reply).substr(0, kQuotedReplyBytes)) + "'";
}

RegistrationOutcome failure(R result, std::string detail) {
  RegistrationOutcome outcome;
  outcome.result = result;
  outcome.detail = std::move(detail);
  return outcome;
}

// The value after `key` up to the end of its line; empty with a message when the key is
// missing or the value is not shorter than `limit`.
std::optional<std::string_view> serviceValue(std::string_view reply, std::string_view key,
                                             std::size_t limit, std::string* err) {
  const std::size_t at = reply.find(key);
  if (at == std::string_view::npos) {
    *err = "the service information lacks '" + std::string(key) + "'";
    return std::nullopt;
  }
  const std::string_view value = firstLine(reply.substr(at + key.size()));
  if (value.size() >= limit) {
    *err = "the service information's '" + std::string(key) + "' is " +
           std::to_string(value.size()) + " bytes long";
    return std::nullopt;
  }
  return value;
}

std::optional<float> readPrice(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  float price = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), price);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return price;
}

std::optional<ServiceInfo> readServiceInformation(std::string_view reply, std::string* err) {
  ServiceInfo info;
  for (const auto& key : kServiceKeys) {
    const auto value = serviceValue(reply, key.key, kMaxServiceValueBytes, err);
    if (!value) {
      return std::nullopt;
    }
    info.*key.member = std::string(*value);
  }
  for (const auto& key : kPriceKeys) {
    const auto text = serviceValue(reply, key.key, kMaxPriceTextBytes, err);
    if (!text) {
      return std::nullopt;
    }
    const auto price = readPrice(*text);
    if (!price) {
      *err = "the service information's '" + std::string(key.key) + "' is not a number";
      return std::nullopt;
    }
    info.*key.member = *price;
  }
  return info;
}

// The pass code on the line after `marker` in `body`: it must fit a buffer of `bufferSize`
// (else `tooLong`) and hold an update address, so that nothing the manager cannot use
// replaces a stored code.
RegistrationOutcome takePassCode(std::string_view body, std::size_t markerEnd,
                                 std::size_t bufferSize, R tooLong) {
  const std::string_view code = firstLine(body.substr(markerEnd));
  if (code.size() >= bufferSize) {
    return failure(tooLong, "the pass code is " + std::to_string(code.size()) +
                                " bytes long, the buffer holds " +
                                std::to_string(bufferSize == 0 ? 0 : bufferSize - 1));
  }
  const auto address = common::unscramblePassCode(code, nullptr);
  if (!address || !common::isUpdateAddress(*address)) {
    return failure(R::kInvalidReply, "the service sent a pass code that holds no update address");
  }
  RegistrationOutcome outcome;
  outcome.result = R::kSuccess;
  outcome.text = std::string(code);
  return outcome;
}

}  // namespace

std::string pageAddress(const ServiceInfo& info, std::string_view page) {
  std::string address = info.urlBase;
  if (!address.ends_with('/')) {
    address += '/';
  }
  return address.append(page);
}

RegistrationClientSettings RegistrationClientSettings::forInstallation(
    const std::string& configPath) {
  RegistrationClientSettings settings;
  if (auto url = panel::dispatchUrl(registrationHost(configPath), &settings.dispatchProblem)) {
    settings.dispatchUrl = std::move(*url);
  }
  return settings;
}

// One request of an operation: the page it goes to, the buffer its reply must fit, the
// beginning of a successful reply and the errors the operation knows.
struct RegistrationClient::Exchange {
  std::string ServiceInfo::*page;
  std::size_t bufferSize;
  std::string_view successPrefix;
  std::span<const R> errors;
};

bool RegistrationClient::fetch(const std::string& url, const std::optional<std::string>& formBody,
                               std::size_t bufferSize, std::string* body,
                               RegistrationOutcome* failed) const {
  common::HttpRequest request;
  request.url = url;
  request.formBody = formBody;
  request.connectLimit = settings_.connectLimit;
  request.totalLimit = settings_.totalLimit;
  request.cancel = settings_.cancel;
  common::HttpReply reply = common::sendHttpRequest(request);
  if (!reply.succeeded) {
    *failed = failure(R::kRequestFailed, reply.detail);
    return false;
  }
  // A reply cut to its buffer could end inside a value; it is refused instead.
  if (reply.body.size() >= bufferSize) {
    *failed = failure(R::kInvalidReply, "the reply of " + std::to_string(reply.body.size()) +
                                            " bytes does not fit the buffer of " +
                                            std::to_string(bufferSize));
    return false;
  }
  *body = std::move(reply.body);
  return true;
}

DiscoveryOutcome RegistrationClient::discover() {
  DiscoveryOutcome outcome;
  if (settings_.dispatchUrl.empty()) {
    outcome.result = R::kRequestFailed;
    outcome.detail = settings_.dispatchProblem;
    return outcome;
  }
  RegistrationOutcome failed;
  std::string dispatch;
  if (!fetch(settings_.dispatchUrl, std::nullopt, kServiceReplyBufferSize, &dispatch, &failed)) {
    return {failed.result, {}, failed.detail};
  }
  if (!dispatch.starts_with(kDispatchReplyPrefix)) {
    return {R::kInvalidReply, {}, "the dispatch page answered " + quoted(dispatch)};
  }
  const std::string informationUrl(
      firstLine(std::string_view(dispatch).substr(kDispatchReplyPrefix.size())));
  std::string information;
  if (!fetch(informationUrl, std::nullopt, kServiceReplyBufferSize, &information, &failed)) {
    return {failed.result, {}, failed.detail};
  }
  if (!information.starts_with(kInformationReplyPrefix)) {
    return {R::kInvalidReply, {}, "the service information page answered " + quoted(information)};
  }
  auto info = readServiceInformation(information, &outcome.detail);
  if (!info) {
    return {R::kInvalidReply, {}, outcome.detail};
  }
  std::lock_guard lock(mutex_);
  info_ = *info;
  return {R::kSuccess, std::move(*info), ""};
}

std::optional<ServiceInfo> RegistrationClient::serviceInfo() const {
  std::lock_guard lock(mutex_);
  return info_;
}

RegistrationOutcome RegistrationClient::exchange(const Exchange& exchange,
                                                 const std::optional<Fields>& fields) const {
  const auto info = serviceInfo();
  if (!info) {
    return failure(R::kNoServiceInformation, "the service's pages are not known yet");
  }
  std::optional<std::string> formBody;
  if (fields) {
    formBody = encodeForm(*fields);
  }
  RegistrationOutcome outcome;
  std::string body;
  if (!fetch(pageAddress(*info, (*info).*exchange.page), formBody, exchange.bufferSize, &body,
             &outcome)) {
    return outcome;
  }
  if (body.starts_with(exchange.successPrefix)) {
    outcome.result = R::kSuccess;
    outcome.text = std::move(body);
    return outcome;
  }
  const DecodedError error = decodeErrorReply(body);
  if (std::find(exchange.errors.begin(), exchange.errors.end(), error.result) ==
      exchange.errors.end()) {
    return failure(R::kInvalidReply, "the service answered " + quoted(body));
  }
  outcome.result = error.result;
  outcome.fieldId = error.fieldId;
  outcome.limit = error.limit;
  return outcome;
}

RegistrationOutcome RegistrationClient::checkLogin(std::string_view loginId,
                                                   std::string_view password) const {
  RegistrationOutcome outcome = exchange(
      {&ServiceInfo::loginCheckPage, kOperationReplyBufferSize, kGreetingPrefix, kLoginErrors},
      Fields{{"user_login_id", std::string(loginId)},
             {"user_login_password", std::string(password)}});
  if (outcome.result == R::kSuccess) {
    outcome.text =
        std::string(firstLine(std::string_view(outcome.text).substr(kGreetingPrefix.size())));
  }
  return outcome;
}

RegistrationOutcome RegistrationClient::checkDomainName(std::string_view domain) const {
  RegistrationOutcome outcome =
      exchange({&ServiceInfo::checkDomainPage, kOperationReplyBufferSize, kOkPrefix, kDomainErrors},
               Fields{{"domain", std::string(domain)}});
  outcome.text.clear();
  return outcome;
}

RegistrationOutcome RegistrationClient::requestPasswordResetMail(std::string_view loginId,
                                                                 std::string_view mail) const {
  RegistrationOutcome outcome = exchange(
      {&ServiceInfo::passwordResetPage, kOperationReplyBufferSize, kOkPrefix, kResetMailErrors},
      Fields{{"user_login_id", std::string(loginId)}, {"user_mail", std::string(mail)}});
  outcome.text.clear();
  return outcome;
}

RegistrationOutcome RegistrationClient::fetchTermsDocument() const {
  RegistrationOutcome outcome = exchange(
      {&ServiceInfo::termsPage, kTermsReplyBufferSize, kOkPrefix, kTermsErrors}, std::nullopt);
  if (outcome.result == R::kSuccess) {
    const std::size_t lineEnd = outcome.text.find('\n');
    outcome.text = lineEnd == std::string::npos ? "" : outcome.text.substr(lineEnd + 1);
  }
  return outcome;
}

RegistrationOutcome RegistrationClient::sendForm(const RegistrationForm& form, FormPurpose purpose,
                                                 std::string_view registerFrom,
                                                 std::size_t passCodeBufferSize) const {
  if (!serviceInfo()) {
    return failure(R::kNoServiceInformation, "the service's pages are not known yet");
  }
  if (form.registerType != kRegisterWithOrganisation &&
      form.registerType != kRegisterSameAsOrganisation) {
    return failure(R::kBadRegisterType,
                   "the form's type flag is " + std::to_string(form.registerType));
  }
  const bool registering = purpose == FormPurpose::kRegister;
  RegistrationOutcome outcome = exchange(
      {registering ? &ServiceInfo::registerPage : &ServiceInfo::formCheckPage,
       kOperationReplyBufferSize, registering ? kRegisteredPrefix : kOkPrefix, kFormErrors},
      formFields(form, purpose, registerFrom));
  if (outcome.result != R::kSuccess) {
    return outcome;
  }
  if (!registering) {
    outcome.text.clear();
    return outcome;
  }
  return takePassCode(outcome.text, kRegisteredPrefix.size(), passCodeBufferSize, R::kInvalidReply);
}

RegistrationOutcome RegistrationClient::checkForm(const RegistrationForm& form) const {
  return sendForm(form, FormPurpose::kCheck, "", 0);
}

RegistrationOutcome RegistrationClient::registerDomain(const RegistrationForm& form,
                                                       std::string_view registerFrom,
                                                       std::size_t passCodeBufferSize) const {
  return sendForm(form, FormPurpose::kRegister, registerFrom, passCodeBufferSize);
}

RegistrationOutcome RegistrationClient::addDomain(std::string_view domain, std::string_view loginId,
                                                  std::string_view password,
                                                  std::size_t passCodeBufferSize) const {
  const RegistrationOutcome outcome = exchange(
      {&ServiceInfo::addDomainPage, kOperationReplyBufferSize, kRegisteredPrefix, kAddDomainErrors},
      Fields{{"domain", std::string(domain)},
             {"user_login_id", std::string(loginId)},
             {"user_login_password", std::string(password)}});
  if (outcome.result != R::kSuccess) {
    return outcome;
  }
  return takePassCode(outcome.text, kRegisteredPrefix.size(), passCodeBufferSize, R::kInvalidReply);
}

RegistrationOutcome RegistrationClient::redeemPickupCode(std::string_view pickupCode,
                                                         std::size_t passCodeBufferSize) const {
  const auto address = common::unscramblePassCode(pickupCode, nullptr);
  if (!address || !common::isUpdateAddress(*address)) {
    return failure(R::kPickupCodeWrong, "the pickup code holds no http or https address");
  }
  RegistrationOutcome outcome;
  std::string body;
  if (!fetch(*address, std::nullopt, kServiceReplyBufferSize, &body, &outcome)) {
    return outcome;
  }
  if (body.starts_with(kPickupRefusedPrefix)) {
    return failure(R::kPickupCodeWrong, "the service does not know the pickup code");
  }
  const std::size_t marker = body.find(kPickupMarker);
  if (marker == std::string::npos) {
    return failure(R::kInvalidReply, "the service answered " + quoted(body));
  }
  return takePassCode(body, marker + kPickupMarker.size(), passCodeBufferSize, R::kPassCodeTooLong);
}

}  // namespace korvane::panel
