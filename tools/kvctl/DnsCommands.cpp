// kvctl dns ...: the dynamic DNS update: its last outcome, the pass code the manager sends, and
// the registration service that hands pass codes out.

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <istream>
#include <optional>
#include <string>

#include "common/DnsLog.h"
#include "common/PassCode.h"
#include "panel/logic/PassCodeStore.h"
#include "panel/logic/RegistrationClient.h"
#include "panel/logic/RegistrationHost.h"
#include "platform/FileStamp.h"
#include "tools/kvctl/Command.h"
#include "tools/kvctl/Json.h"

namespace korvane::tools {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// Read at most this much of a pass-code file: a pass code with line breaks every 64 or 76
// characters still fits, anything larger is not a pass code.
constexpr std::size_t kMaxPassCodeInput = 4 * common::kMaxPassCodeLength;

int showStatus(Context& context, const Arguments&) {
  const std::string path = common::dnsLogPath();
  const auto stamp = platform::fileStamp(path);
  const std::string text = stamp ? common::readDnsLog(path) : "";
  std::optional<std::int64_t> age;
  if (stamp) {
    age = std::max<std::int64_t>(
        0, context.clock.secondsSinceEpoch() - stamp->modifiedNanoseconds / kNanosecondsPerSecond);
  }
  if (context.json) {
    context.out << "{\"log\": " << (stamp ? jsonString(text) : "null")
                << ", \"ageSeconds\": " << (age ? std::to_string(*age) : "null") << "}\n";
  } else if (!stamp) {
    context.out << "no DNS update outcome (no pass code, or none sent yet)\n";
  } else {
    context.out << (text.empty() ? "(empty)" : text) << "\nwritten " << *age << " s ago\n";
  }
  return kExitOk;
}

// A code (pass code or pickup code) from --file FILE or standard input, blanks and line breaks
// removed (Base64 skips them, and the configuration file holds one line); never from the
// command line, where other users could read the secret. `what` names it in messages.
std::optional<std::string> readCodeInput(const Arguments& arguments, const std::string& what,
                                         std::string* err) {
  std::ifstream file;
  std::istream* in = &std::cin;
  const std::string source = arguments.value("file").value_or("standard input");
  if (auto path = arguments.value("file")) {
    file.open(*path, std::ios::binary);
    if (!file) {
      *err = "cannot read " + *path;
      return std::nullopt;
    }
    in = &file;
  }
  std::string text(kMaxPassCodeInput + 1, '\0');
  in->read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in->gcount()));
  if (text.size() > kMaxPassCodeInput) {
    *err = "the " + what + " in " + source + " is too long";
    return std::nullopt;
  }
  std::erase_if(text, [](unsigned char c) { return std::isspace(c) != 0; });
  if (text.empty()) {
    *err = "no " + what + " in " + source;
    return std::nullopt;
  }
  if (text.size() > common::kMaxPassCodeLength) {
    *err = "the " + what + " is longer than " + std::to_string(common::kMaxPassCodeLength) +
           " characters";
    return std::nullopt;
  }
  return text;
}

std::optional<std::string> readPassCodeInput(const Arguments& arguments, std::string* err) {
  auto text = readCodeInput(arguments, "pass code", err);
  if (!text) {
    return std::nullopt;
  }
  const auto address = common::unscramblePassCode(*text, nullptr);
  if (!address || !common::isUpdateAddress(*address)) {
    *err = "this is not a pass code of the dynamic DNS service";
    return std::nullopt;
  }
  return text;
}

// Stores a new pass code as the panel's wizard does: the DNS log shows the update as pending
// first, so the manager's outcome is never overwritten.
int storePassCode(Context& context, const std::string& passCode) {
  std::string warning;
  std::string err;
  const bool stored =
      panel::storeNewPassCode(context.config, passCode, common::dnsLogPath(), &warning, &err);
  if (!warning.empty()) {
    context.err << "kvctl: warning: " << warning << '\n';
  }
  return stored ? kExitOk : context.refuse(err);
}

int setPassCode(Context& context, const Arguments& arguments) {
  std::string err;
  const auto passCode = readPassCodeInput(arguments, &err);
  if (!passCode) {
    return context.refuse(err);
  }
  return storePassCode(context, *passCode);
}

// Why a pickup code was not redeemed, by the client's result.
std::string redeemFailure(const panel::RegistrationOutcome& outcome) {
  using R = panel::RegistrationResult;
  switch (outcome.result) {
    case R::kPickupCodeWrong:
      return "the pickup code is not correct (" + outcome.detail + ")";
    case R::kPassCodeTooLong:
      return "the service's pass code is longer than the manager takes (" + outcome.detail + ")";
    case R::kRequestFailed:
      return "the registration service cannot be reached: " + outcome.detail;
    default:
      return "the registration service answered unexpectedly (" +
             std::to_string(panel::resultNumber(outcome.result)) + "): " + outcome.detail;
  }
}

int redeemPickupCode(Context& context, const Arguments& arguments) {
  std::string err;
  const auto pickupCode = readCodeInput(arguments, "pickup code", &err);
  if (!pickupCode) {
    return context.refuse(err);
  }
  // The pickup code holds the service's address, so no registration host is needed.
  const panel::RegistrationClient client(
      panel::RegistrationClientSettings::forInstallation(context.config.path()));
  const auto outcome = client.redeemPickupCode(*pickupCode);
  if (outcome.result != panel::RegistrationResult::kSuccess) {
    return context.refuse(redeemFailure(outcome));
  }
  const int status = storePassCode(context, outcome.text);
  if (status == kExitOk) {
    context.out << (context.json ? "{\"stored\": true}\n"
                                 : "the pass code is stored; the manager sends its update within "
                                   "a second\n");
  }
  return status;
}

int showService(Context& context, const Arguments&) {
  panel::RegistrationClient client(
      panel::RegistrationClientSettings::forInstallation(context.config.path()));
  const auto outcome = client.discover();
  if (outcome.result != panel::RegistrationResult::kSuccess) {
    return context.refuse("the registration service's pages cannot be had (" +
                          std::to_string(panel::resultNumber(outcome.result)) +
                          "): " + outcome.detail);
  }
  const panel::ServiceInfo& info = outcome.info;
  const std::pair<const char*, std::string> lines[] = {
      {"baseDomain", info.baseDomain},
      {"urlBase", info.urlBase},
      {"monthlyPrice", std::to_string(info.monthlyPrice)},
      {"annualPrice", std::to_string(info.annualPrice)},
      {"termsPage", pageAddress(info, info.termsPage)},
      {"loginCheckPage", pageAddress(info, info.loginCheckPage)},
      {"domainCheckPage", pageAddress(info, info.checkDomainPage)},
      {"formCheckPage", pageAddress(info, info.formCheckPage)},
      {"registerPage", pageAddress(info, info.registerPage)},
      {"passwordResetPage", pageAddress(info, info.passwordResetPage)},
      {"addDomainPage", pageAddress(info, info.addDomainPage)},
  };
  const char* separator = "{";
  for (const auto& [name, value] : lines) {
    if (context.json) {
      context.out << separator << '"' << name << "\": " << jsonString(value);
      separator = ", ";
    } else {
      context.out << name << ": " << value << '\n';
    }
  }
  if (context.json) {
    context.out << "}\n";
  }
  return kExitOk;
}

int clearPassCode(Context& context, const Arguments&) {
  std::string err;
  if (!context.config.writePassCode("", &err)) {
    return context.refuse(err);
  }
  if (!common::removeDnsLog(common::dnsLogPath(), &err)) {
    context.err << "kvctl: warning: the DNS log cannot be deleted: " << err << '\n';
  }
  return kExitOk;
}

}  // namespace

std::vector<Command> dnsCommands() {
  return {
      {"dns",
       "status",
       "",
       "shows the last outcome of the dynamic DNS update and its age",
       {},
       {},
       0,
       0,
       showStatus},
      {"dns",
       "set-pass-code",
       "[--file FILE]",
       "stores the dynamic DNS pass code read from FILE or standard input",
       {},
       {"file"},
       0,
       0,
       setPassCode},
      {"dns", "clear", "", "removes the dynamic DNS pass code", {}, {}, 0, 0, clearPassCode},
      {"dns",
       "redeem",
       "[--file FILE]",
       "exchanges the pickup code read from FILE or standard input at the registration service "
       "and stores the pass code it gives",
       {},
       {"file"},
       0,
       0,
       redeemPickupCode},
      {"dns",
       "service",
       "",
       "shows the registration service's pages and prices; its host is KORVANE_REGISTRATION_HOST "
       "or SYSTEM/RegistrationHost in Tollmar.ini (HOST or HOST:PORT, port 8080 by default)",
       {},
       {},
       0,
       0,
       showService},
  };
}

}  // namespace korvane::tools
