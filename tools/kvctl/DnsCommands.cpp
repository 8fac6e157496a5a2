// kvctl dns ...: the dynamic DNS update: its last outcome, and the pass code the manager sends.

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <istream>
#include <optional>
#include <string>

#include "common/DnsLog.h"
#include "common/PassCode.h"
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

// The pass code from --file FILE or standard input, blanks and line breaks removed (Base64
// skips them, and the configuration file holds one line); never from the command line, where
// other users could read the secret.
std::optional<std::string> readPassCodeInput(const Arguments& arguments, std::string* err) {
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
    *err = "the pass code in " + source + " is too long";
    return std::nullopt;
  }
  std::erase_if(text, [](unsigned char c) { return std::isspace(c) != 0; });
  if (text.empty()) {
    *err = "no pass code in " + source;
    return std::nullopt;
  }
  if (text.size() > common::kMaxPassCodeLength) {
    *err = "the pass code is longer than " + std::to_string(common::kMaxPassCodeLength) +
           " characters";
    return std::nullopt;
  }
  const auto address = common::unscramblePassCode(text, nullptr);
  if (!address || !common::isUpdateAddress(*address)) {
    *err = "this is not a pass code of the dynamic DNS service";
    return std::nullopt;
  }
  return text;
}

int setPassCode(Context& context, const Arguments& arguments) {
  std::string err;
  const auto passCode = readPassCodeInput(arguments, &err);
  if (!passCode) {
    return context.refuse(err);
  }
  // The log shows the update as pending first, so the manager's outcome is never overwritten.
  if (!common::writeDnsLog(common::dnsLogPath(), common::kDnsLogPending, &err)) {
    context.err << "kvctl: warning: the DNS log cannot be reset: " << err << '\n';
  }
  if (!context.config.writePassCode(*passCode, &err)) {
    return context.refuse(err);
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
  };
}

}  // namespace korvane::tools
