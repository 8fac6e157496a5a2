#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace korvane::testing {

/// A stand-in for the domain registration service on 127.0.0.1 (a python3 http.server started
/// by the test, killed with the object). Every page answers the body the test set for it, by
/// the last part of its path; at start each answers as the real service does on success: the
/// dispatch page names the service information page, which lists every key of the service
/// information; the operations say "OK" and, where they hand one out, the pass code given. A
/// page without a body answers "404 Not Found". Every request is recorded as a line
/// "VERB PATH|CONTENT-TYPE|BODY".
class RegistrationTestService {
 public:
  /// The pages of the service information, by the last part of their paths.
  static constexpr const char* kDispatchPage = "service_spec_dispatch.jsp";
  static constexpr const char* kInformationPage = "service_spec.jsp";
  static constexpr const char* kTermsPage = "terms.jsp";
  static constexpr const char* kRegisterPage = "register.jsp";
  static constexpr const char* kCheckDomainPage = "check_domain.jsp";
  static constexpr const char* kFormCheckPage = "format_check.jsp";
  static constexpr const char* kResetMailPage = "reset_mail.jsp";
  static constexpr const char* kCheckLoginPage = "check_login.jsp";
  static constexpr const char* kAddDomainPage = "add_domain.jsp";
  /// The page a pickup code made by pickupCode() leads to.
  static constexpr const char* kPickupPage = "pickup.jsp";

  /// Starts the service with its files in `workDirectory`; register, add domain and the pickup
  /// page hand out `passCode`. Fails the test when it cannot start.
  RegistrationTestService(const std::string& workDirectory, const std::string& passCode);
  ~RegistrationTestService();

  bool started() const { return started_; }
  /// "127.0.0.1:PORT", the registration host setting that leads to this service.
  std::string host() const;
  /// "http://127.0.0.1:PORT"
  std::string origin() const;
  /// The dispatch address of this service.
  std::string dispatchUrl() const;
  /// The service information page's reply at start, for a test that changes a line of it.
  std::string serviceInformation() const;
  /// A pickup code that leads to this service's pickup page.
  std::string pickupCode() const;

  /// Makes `page` answer `body` from the next request on.
  void setReply(const std::string& page, const std::string& body);
  /// The requests seen so far, oldest first.
  std::vector<std::string> requests() const;

 private:
  std::string directory_;
  std::string requestLog_;
  int port_ = 0;
  bool started_ = false;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace korvane::testing
