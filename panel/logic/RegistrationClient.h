#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/HttpClient.h"
#include "panel/logic/RegistrationForm.h"
#include "panel/logic/RegistrationReply.h"

namespace korvane::panel {

/// The start of the dispatch page's answer, worded by the registration service; the address of
/// the service information follows it. The client reads it and the tests' stand-in writes it.
inline constexpr std::string_view kDispatchReplyPrefix = "OK: Current Service Spec URL is ";

/// The discovery's replies and the pickup code's reply are read into buffers of this size: the
/// service answers them with a few lines.
inline constexpr std::size_t kServiceReplyBufferSize = 4096;
/// The replies of the other operations but the terms document: one line each.
inline constexpr std::size_t kOperationReplyBufferSize = 4096;
/// The terms document's reply: the document of a few pages.
inline constexpr std::size_t kTermsReplyBufferSize = 40096;
/// A value of the service information this long or longer fails the discovery: the service's
/// page names and addresses are short, and the panel keeps them in buffers of this size.
inline constexpr std::size_t kMaxServiceValueBytes = 256;
/// A price text this long or longer fails the discovery: a price takes a few digits, and the
/// panel reads it through a buffer of this size.
inline constexpr std::size_t kMaxPriceTextBytes = 32;
/// The pass-code buffer of a caller that stores the code: the manager reads the stored code
/// into a buffer of 1024 bytes with its terminating zero.
inline constexpr std::size_t kPassCodeBufferSize = 1024;

/// The service's current pages and prices, as the discovery found them.
struct ServiceInfo {
  std::string baseDomain;
  std::string urlBase;
  std::string termsPage;
  std::string registerPage;
  std::string checkDomainPage;
  std::string formCheckPage;
  std::string passwordResetPage;
  std::string loginCheckPage;
  std::string addDomainPage;
  float monthlyPrice = 0;
  float annualPrice = 0;
};

/// The address of `page` below the service's URL base, with a '/' between them when the base
/// does not end with one.
std::string pageAddress(const ServiceInfo& info, std::string_view page);

/// What one operation ended with.
struct RegistrationOutcome {
  RegistrationResult result = RegistrationResult::kInvalidReply;
  int fieldId = 0;     ///< the field an error names (1001..1037), 0 when none
  int limit = 0;       ///< the limit of a value too long (8) or too short (9)
  std::string text;    ///< on success: the greeting name, the terms document or the pass code
  std::string detail;  ///< why a request failed or a reply was refused, for a diagnostic line
};

/// What the discovery ended with; `info` is set on success.
struct DiscoveryOutcome {
  RegistrationResult result = RegistrationResult::kInvalidReply;
  ServiceInfo info;
  std::string detail;
};

/// Where the client finds the service and how long a request may take.
struct RegistrationClientSettings {
  std::string dispatchUrl;      ///< the dispatch address; empty when none is configured
  std::string dispatchProblem;  ///< why it is empty (the discovery reports it)
  std::chrono::milliseconds connectLimit = common::kHttpConnectLimit;
  std::chrono::milliseconds totalLimit = common::kHttpTotalLimit;
  const std::atomic<bool>* cancel = nullptr;  ///< when it turns true a request gives up (2)

  /// The settings of the installation whose configuration file is `configPath`: the dispatch
  /// address of its registration host (registrationHost), the HTTP client's limits.
  static RegistrationClientSettings forInstallation(const std::string& configPath);
};

/// The client of the domain registration service. Each operation is one blocking call that
/// returns its outcome; it makes at most the requests it names (the discovery two), each within
/// the settings' limits, and may run on any thread: the service information is kept under a
/// lock. One client lives as long as the panel, so that a discovery serves all later requests.
/// Every operation but discover and redeemPickupCode returns 99 without a request until a
/// discovery has succeeded.
class RegistrationClient {
 public:
  explicit RegistrationClient(RegistrationClientSettings settings)
      : settings_(std::move(settings)) {}

  /// GETs the dispatch address, then the service information address it names, and keeps every key
  /// of the service information: 0 and the information on success; 2 when a request fails; 13
  /// when a reply does not begin as it must, lacks a key, holds a value of 256 bytes or more or
  /// a price that is not a number. A failure keeps the information of an earlier success.
  DiscoveryOutcome discover();
  /// The information of the last successful discovery; empty before one.
  std::optional<ServiceInfo> serviceInfo() const;

  /// Posts the login: 0 with the greeting's name (UTF-8) in `text`; else 2, 3, 11 or 13.
  RegistrationOutcome checkLogin(std::string_view loginId, std::string_view password) const;
  /// Posts the domain label: 0 when it is free; else 2, 3, 4, 5, 6, 10 or 13.
  RegistrationOutcome checkDomainName(std::string_view domain) const;
  /// Asks for the password reset mail: 0 when it was sent; else 2, 3, 5, 7, 13, 18 or 19.
  RegistrationOutcome requestPasswordResetMail(std::string_view loginId,
                                               std::string_view mail) const;
  /// GETs the terms document: 0 with the document (UTF-8) in `text`; else 2, 3 or 13.
  RegistrationOutcome fetchTermsDocument() const;
  /// Posts the form for a check, leaving out the person fields still "<TO BE FILLED>": 0 when
  /// the service accepts it; 1000 for a type flag other than 0 or 1; else 2, 3, 5, 6, 8, 9, 10,
  /// 12 or 13, with the field and the limit.
  RegistrationOutcome checkForm(const RegistrationForm& form) const;
  /// Posts the whole form with `register_from`: 0 with the new pass code in `text`, which is
  /// shorter than `passCodeBufferSize` and holds an update address; the errors of checkForm.
  RegistrationOutcome registerDomain(const RegistrationForm& form, std::string_view registerFrom,
                                     std::size_t passCodeBufferSize = kPassCodeBufferSize) const;
  /// Adds `domain` to the login: 0 with the new pass code in `text` as registerDomain gives it;
  /// else 2, 3, 4, 11 or 13.
  RegistrationOutcome addDomain(std::string_view domain, std::string_view loginId,
                                std::string_view password,
                                std::size_t passCodeBufferSize = kPassCodeBufferSize) const;
  /// GETs the address hidden in `pickupCode`: 0 with the pass code in `text`; 15 (without a
  /// request when the code does not unscramble into an http or https address); 14 when the pass
  /// code is not shorter than `passCodeBufferSize`; else 2 or 13.
  RegistrationOutcome redeemPickupCode(std::string_view pickupCode,
                                       std::size_t passCodeBufferSize = kPassCodeBufferSize) const;

 private:
  struct Exchange;
  using Fields = std::vector<std::pair<std::string_view, std::string>>;

  RegistrationOutcome exchange(const Exchange& exchange, const std::optional<Fields>& fields) const;
  RegistrationOutcome sendForm(const RegistrationForm& form, FormPurpose purpose,
                               std::string_view registerFrom, std::size_t passCodeBufferSize) const;
  [[nodiscard]] bool fetch(const std::string& url, const std::optional<std::string>& formBody,
                           std::size_t bufferSize, std::string* body,
                           RegistrationOutcome* failure) const;

  RegistrationClientSettings settings_;
  mutable std::mutex mutex_;
  std::optional<ServiceInfo> info_;  // guarded by mutex_
};

}  // namespace korvane::panel
