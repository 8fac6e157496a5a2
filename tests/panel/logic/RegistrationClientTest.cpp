// The registration client against a stand-in service on loopback: the discovery, every
// operation's success and every result code from the reply that produces it.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "panel/logic/RegistrationClient.h"
#include "tests/support/FreePort.h"
#include "tests/support/PassCodeScrambler.h"
#include "tests/support/RegistrationTestService.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using namespace std::chrono_literals;
using R = RegistrationResult;
using Service = testing::RegistrationTestService;

const std::string kPassCode = testing::scramblePassCode("http://127.0.0.1:9/update?code=new");

class RegistrationClientTest : public ::testing::Test {
 protected:
  RegistrationClientSettings settings() const {
    RegistrationClientSettings settings;
    settings.dispatchUrl = service_.dispatchUrl();
    settings.totalLimit = 10s;
    return settings;
  }
  void discover() {
    ASSERT_TRUE(service_.started());
    const auto outcome = client_.discover();
    ASSERT_EQ(outcome.result, R::kSuccess) << outcome.detail;
  }
  // The body of the last request, which went to `page`.
  std::string lastBody(const std::string& page) const {
    const auto requests = service_.requests();
    if (requests.empty() || requests.back().find(page) == std::string::npos) {
      return "(no request to " + page + ")";
    }
    return requests.back().substr(requests.back().rfind('|') + 1);
  }

  testing::TempProgramDir dir_;
  Service service_{dir_.path(), kPassCode};
  RegistrationClient client_{settings()};
};

TEST_F(RegistrationClientTest, DiscoveryKeepsEveryKeyOfTheServiceInformation) {
  ASSERT_TRUE(service_.started());
  EXPECT_FALSE(client_.serviceInfo());
  const auto outcome = client_.discover();
  ASSERT_EQ(outcome.result, R::kSuccess) << outcome.detail;
  const ServiceInfo& info = outcome.info;
  EXPECT_EQ(info.baseDomain, "vlan.example");
  EXPECT_EQ(info.urlBase, service_.origin() + "/kvp/pages");
  EXPECT_EQ(info.termsPage, Service::kTermsPage);
  EXPECT_EQ(info.registerPage, Service::kRegisterPage);
  EXPECT_EQ(info.checkDomainPage, Service::kCheckDomainPage);
  EXPECT_EQ(info.formCheckPage, Service::kFormCheckPage);
  EXPECT_EQ(info.passwordResetPage, Service::kResetMailPage);
  EXPECT_EQ(info.loginCheckPage, Service::kCheckLoginPage);
  EXPECT_EQ(info.addDomainPage, Service::kAddDomainPage);
  EXPECT_EQ(info.monthlyPrice, 300.0f);
  EXPECT_EQ(info.annualPrice, 3000.5f);
  EXPECT_EQ(pageAddress(info, "x.jsp"), service_.origin() + "/kvp/pages/x.jsp");
  ASSERT_TRUE(client_.serviceInfo());
  EXPECT_EQ(client_.serviceInfo()->urlBase, info.urlBase);
  const auto requests = service_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].rfind("GET /kvp/faces/api/service_spec_dispatch.jsp|", 0), 0u);
  EXPECT_EQ(requests[1].rfind("GET /kvp/api/service_spec.jsp|", 0), 0u);
}

TEST_F(RegistrationClientTest, ADiscoveryThatFailsKeepsWhatAnEarlierOneFound) {
  ASSERT_TRUE(service_.started());
  const std::string information = service_.serviceInformation();
  const auto replaced = [&](const std::string& line, const std::string& by) {
    std::string text = information;
    return text.replace(text.find(line), line.size(), by);
  };
  const std::string value255(255 - std::string("vlan.example").size(), 'v');
  // A value of 255 bytes still fits.
  service_.setReply(Service::kInformationPage, replaced("vlan.example", "vlan.example" + value255));
  ASSERT_EQ(client_.discover().result, R::kSuccess);
  const struct {
    const char* what;
    const char* page;
    std::string reply;
    R result;
  } cases[] = {
      {"dispatch prefix", Service::kDispatchPage, "OK: Current Register URL is x\r\n",
       R::kInvalidReply},
      {"information address", Service::kDispatchPage,
       std::string(kDispatchReplyPrefix) + "ftp://127.0.0.1/\r\n", R::kRequestFailed},
      {"information prefix", Service::kInformationPage, information.substr(3), R::kInvalidReply},
      {"256 bytes", Service::kInformationPage,
       replaced("vlan.example", "vlan.example" + value255 + "v"), R::kInvalidReply},
      {"missing key", Service::kInformationPage,
       replaced("add_user_domain_page", "add_domain_page"), R::kInvalidReply},
      {"missing price", Service::kInformationPage, replaced("annual_domain_price", "annual_price"),
       R::kInvalidReply},
      {"price text", Service::kInformationPage, replaced("= 300\r", "= 300 yen\r"),
       R::kInvalidReply},
      {"price of 32 bytes", Service::kInformationPage,
       replaced("= 300\r", "= " + std::string(32, '1') + "\r"), R::kInvalidReply},
      {"oversized reply", Service::kInformationPage,
       information + std::string(kServiceReplyBufferSize, ' '), R::kInvalidReply},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    service_.setReply(c.page, c.reply);
    const auto outcome = client_.discover();
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_FALSE(outcome.detail.empty());
    ASSERT_TRUE(client_.serviceInfo());
    EXPECT_EQ(client_.serviceInfo()->baseDomain, "vlan.example" + value255);
    service_.setReply(c.page, c.page == std::string(Service::kInformationPage)
                                  ? information
                                  : std::string(kDispatchReplyPrefix) + service_.origin() +
                                        "/kvp/api/service_spec.jsp\r\n");
  }
  RegistrationClientSettings none;
  none.dispatchProblem = "no registration host is set";
  const auto unset = RegistrationClient(none).discover();
  EXPECT_EQ(unset.result, R::kRequestFailed);
  EXPECT_EQ(unset.detail, "no registration host is set");
}

TEST_F(RegistrationClientTest, OperationsBeforeTheDiscoveryMakeNoRequest) {
  ASSERT_TRUE(service_.started());
  RegistrationForm form;
  form.registerType = 7;  // the missing discovery is reported first
  const RegistrationOutcome outcomes[] = {
      client_.checkLogin("id", "pw"),
      client_.checkDomainName("name"),
      client_.requestPasswordResetMail("id", "a@b.example"),
      client_.fetchTermsDocument(),
      client_.checkForm(form),
      client_.registerDomain(form, "banner"),
      client_.addDomain("name", "id", "pw"),
  };
  for (const auto& outcome : outcomes) {
    EXPECT_EQ(outcome.result, R::kNoServiceInformation);
  }
  // A pickup code that holds no http or https address is refused before any request.
  for (const std::string& code :
       {testing::scramblePassCode("ftp://127.0.0.1/pickup"), std::string("@@@@")}) {
    EXPECT_EQ(client_.redeemPickupCode(code).result, R::kPickupCodeWrong);
  }
  EXPECT_TRUE(service_.requests().empty());
}

TEST_F(RegistrationClientTest, EachOperationSucceedsAndSendsItsFields) {
  discover();
  auto outcome = client_.checkLogin("taro", "p\xC3\xA4ss");
  ASSERT_EQ(outcome.result, R::kSuccess) << outcome.detail;
  EXPECT_EQ(outcome.text, "\xE5\xB1\xB1\xE7\x94\xB0 Taro");
  EXPECT_EQ(lastBody(Service::kCheckLoginPage),
            "user_login_id=%74%61%72%6F&user_login_password=%70%C3%A4%73%73");

  EXPECT_EQ(client_.checkDomainName("ab").result, R::kSuccess);
  EXPECT_EQ(lastBody(Service::kCheckDomainPage), "domain=%61%62");
  EXPECT_EQ(client_.requestPasswordResetMail("t", "").result, R::kSuccess);
  EXPECT_EQ(lastBody(Service::kResetMailPage), "user_login_id=%74");

  outcome = client_.fetchTermsDocument();
  ASSERT_EQ(outcome.result, R::kSuccess);
  EXPECT_EQ(outcome.text, "Terms of use\r\n1. Keep your pass code secret.\r\n");
  EXPECT_EQ(service_.requests().back().rfind("GET /kvp/pages/terms.jsp|", 0), 0u);

  RegistrationForm form;
  form[FormField::kDomain] = "ab";
  form[FormField::kUserMail] = std::string(kToBeFilled);
  EXPECT_EQ(client_.checkForm(form).result, R::kSuccess);
  EXPECT_EQ(lastBody(Service::kFormCheckPage), "register_type=%31&domain=%61%62");

  outcome = client_.registerDomain(form, "K");
  ASSERT_EQ(outcome.result, R::kSuccess) << outcome.detail;
  EXPECT_EQ(outcome.text, kPassCode);
  EXPECT_EQ(lastBody(Service::kRegisterPage),
            "register_type=%31&domain=%61%62&user_mail=%3C%54%4F%20%42%45%20%46%49%4C%4C%45%44%3E"
            "&register_from=%4B");
  EXPECT_NE(service_.requests().back().find("|application/x-www-form-urlencoded; charset=UTF-8|"),
            std::string::npos);

  outcome = client_.addDomain("cd", "taro", "pw");
  ASSERT_EQ(outcome.result, R::kSuccess) << outcome.detail;
  EXPECT_EQ(outcome.text, kPassCode);
  EXPECT_EQ(lastBody(Service::kAddDomainPage),
            "domain=%63%64&user_login_id=%74%61%72%6F&user_login_password=%70%77");

  outcome = client_.redeemPickupCode(service_.pickupCode());
  ASSERT_EQ(outcome.result, R::kSuccess) << outcome.detail;
  EXPECT_EQ(outcome.text, kPassCode);
  EXPECT_EQ(service_.requests().back().rfind("GET /kvp/pickup.jsp?ticket=T-1001|", 0), 0u);
}

using Operation = std::function<RegistrationOutcome(const RegistrationClient&)>;

RegistrationOutcome checkLogin(const RegistrationClient& c) {
  return c.checkLogin("id", "pw");
}
RegistrationOutcome checkDomain(const RegistrationClient& c) {
  return c.checkDomainName("ab");
}
RegistrationOutcome resetMail(const RegistrationClient& c) {
  return c.requestPasswordResetMail("id", "a@b.example");
}
RegistrationOutcome terms(const RegistrationClient& c) {
  return c.fetchTermsDocument();
}
RegistrationOutcome checkForm(const RegistrationClient& c) {
  return c.checkForm(RegistrationForm{});
}
RegistrationOutcome registerDomain(const RegistrationClient& c) {
  return c.registerDomain(RegistrationForm{}, "banner");
}
RegistrationOutcome addDomain(const RegistrationClient& c) {
  return c.addDomain("ab", "id", "pw");
}

TEST_F(RegistrationClientTest, EveryResultCodeComesFromTheReplyThatMeansIt) {
  discover();
  const std::string pickup = service_.pickupCode();
  const Operation redeem = [&](const RegistrationClient& c) { return c.redeemPickupCode(pickup); };
  const std::string longCode = testing::scramblePassCode("http://h/u?c=" + std::string(900, 'x'));
  const struct {
    const char* what;
    Operation operation;
    const char* page;
    std::string reply;
    R result;
    int fieldId;
    int limit;
  } cases[] = {
      {"login 3", checkLogin, Service::kCheckLoginPage, "Error: System Error Occurred.",
       R::kServiceError, 0, 0},
      {"login 11", checkLogin, Service::kCheckLoginPage, "Error: Authentication Failed.",
       R::kAuthenticationFailed, 0, 0},
      {"login 13 for another operation's error", checkLogin, Service::kCheckLoginPage,
       "Error: Domain Already In Use.", R::kInvalidReply, 0, 0},
      {"domain 4", checkDomain, Service::kCheckDomainPage, "Error: Domain Already In Use.",
       R::kDomainInUse, 0, 0},
      {"domain 5", checkDomain, Service::kCheckDomainPage, "Error: Format Error, Field(domain)",
       R::kFormatError, 1001, 0},
      {"domain 6", checkDomain, Service::kCheckDomainPage, "Error: Value(www) is reserved.",
       R::kReserved, 0, 0},
      {"domain 10", checkDomain, Service::kCheckDomainPage, "Error: Field(domain) is empty.",
       R::kEmpty, 1001, 0},
      {"reset 7", resetMail, Service::kResetMailPage, "Error: Mail Address Not Found.",
       R::kMailNotFound, 0, 0},
      {"reset 18", resetMail, Service::kResetMailPage, "Error: LoginID Not Found.",
       R::kLoginIdNotFound, 0, 0},
      {"reset 19", resetMail, Service::kResetMailPage,
       "Error: LoginID and Mail Address do not match.", R::kLoginIdMailMismatch, 0, 0},
      {"terms 3", terms, Service::kTermsPage, "Error: System Error Occurred.", R::kServiceError, 0,
       0},
      {"terms 13 larger than its buffer", terms, Service::kTermsPage,
       "OK\r\n" + std::string(kTermsReplyBufferSize, 't'), R::kInvalidReply, 0, 0},
      {"form 8", checkForm, Service::kFormCheckPage,
       "Error: Field(user_mail) is too long.\r\nLimit is 64\r\n", R::kTooLong, 1021, 64},
      {"form 9", checkForm, Service::kFormCheckPage,
       "Error: Field(user_login_password) is too short. Limit is 8", R::kTooShort, 1011, 8},
      {"form 6", checkForm, Service::kFormCheckPage, "Error: Field(org_name) is reserved.",
       R::kReserved, 1002, 0},
      {"form 12", checkForm, Service::kFormCheckPage, "Error: LoginID Already In Use.",
       R::kLoginIdInUse, 0, 0},
      {"form 13", checkForm, Service::kFormCheckPage, "Error: Field(org_zip) is odd.",
       R::kInvalidReply, 0, 0},
      {"register 5", registerDomain, Service::kRegisterPage,
       "Error: Format Error, Field(account_contact_mail)", R::kFormatError, 1034, 0},
      {"register 13 without a pass code", registerDomain, Service::kRegisterPage,
       "OK: Registered, UpdatePassCode is @@@\r\n", R::kInvalidReply, 0, 0},
      {"add 4", addDomain, Service::kAddDomainPage, "Error: Domain Already In Use.",
       R::kDomainInUse, 0, 0},
      {"add 11", addDomain, Service::kAddDomainPage, "Error: Authentication Failed.",
       R::kAuthenticationFailed, 0, 0},
      {"add 13 for a code too long", addDomain, Service::kAddDomainPage,
       "OK: Registered, UpdatePassCode is " + longCode + "\r\n", R::kInvalidReply, 0, 0},
      {"pickup 15", redeem, Service::kPickupPage, "Error: PickupCode is not correct.",
       R::kPickupCodeWrong, 0, 0},
      {"pickup 14", redeem, Service::kPickupPage, "OK: UpdatePassCode: " + longCode + "\r\n",
       R::kPassCodeTooLong, 0, 0},
      {"pickup 13", redeem, Service::kPickupPage, "Pickup accepted.", R::kInvalidReply, 0, 0},
      {"not found 13", checkDomain, Service::kCheckDomainPage, "", R::kInvalidReply, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.reply.empty()) {
      std::filesystem::remove(dir_.path() + "registration/replies/" + c.page);
    } else {
      service_.setReply(c.page, c.reply);
    }
    const auto outcome = c.operation(client_);
    EXPECT_EQ(outcome.result, c.result) << outcome.detail;
    EXPECT_EQ(outcome.fieldId, c.fieldId);
    EXPECT_EQ(outcome.limit, c.limit);
  }
  RegistrationForm form;
  form.registerType = 2;
  const std::size_t before = service_.requests().size();
  EXPECT_EQ(client_.checkForm(form).result, R::kBadRegisterType);
  EXPECT_EQ(client_.registerDomain(form, "banner").result, R::kBadRegisterType);
  EXPECT_EQ(service_.requests().size(), before);
}

TEST_F(RegistrationClientTest, APassCodeMustFitTheCallersBuffer) {
  discover();
  // A buffer holds its text and a terminating zero.
  EXPECT_EQ(client_.registerDomain(RegistrationForm{}, "b", kPassCode.size()).result,
            R::kInvalidReply);
  EXPECT_EQ(client_.registerDomain(RegistrationForm{}, "b", kPassCode.size() + 1).result,
            R::kSuccess);
  EXPECT_EQ(client_.redeemPickupCode(service_.pickupCode(), kPassCode.size()).result,
            R::kPassCodeTooLong);
  EXPECT_EQ(client_.redeemPickupCode(service_.pickupCode(), kPassCode.size() + 1).result,
            R::kSuccess);
}

TEST_F(RegistrationClientTest, AServiceThatCannotBeReachedGivesTwo) {
  std::string information = service_.serviceInformation();
  const std::string base = service_.origin() + "/kvp/pages";
  const std::string dead = "http://127.0.0.1:" + std::to_string(testing::freeTcpPort());
  information.replace(information.find(base), base.size(), dead);
  service_.setReply(Service::kInformationPage, information);
  discover();
  EXPECT_EQ(client_.checkLogin("id", "pw").result, R::kRequestFailed);
  EXPECT_EQ(client_.redeemPickupCode(testing::scramblePassCode(dead + "/p?t=1")).result,
            R::kRequestFailed);
  RegistrationClientSettings deadService;
  deadService.dispatchUrl = dead + "/kvp/faces/api/service_spec_dispatch.jsp";
  EXPECT_EQ(RegistrationClient(deadService).discover().result, R::kRequestFailed);
}

}  // namespace
}  // namespace korvane::panel
