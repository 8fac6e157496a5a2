#include "panel/logic/HubSettingsForm.h"

#include <cstdint>
#include <cstdio>
#include <span>

#include "common/Atoi.h"
#include "common/DottedAddress.h"
#include "common/HubSettings.h"
#include "common/Md5.h"
#include "panel/logic/HubSettingsText.h"

namespace korvane::panel {
namespace {

constexpr int kSecondsPerDay = 86400;
constexpr int kSecondsPerHour = 3600;
constexpr int kSecondsPerMinute = 60;
/// A key is one AES block, typed as two hexadecimal digits per byte.
constexpr std::size_t kKeyDigits = 2 * common::kNetworkKeyBytes;

/// The value of an upper-case hexadecimal digit, or -1: lower case is refused, so that a key
/// reads the same wherever it is typed again.
int upperHexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool isTypedAddress(std::string_view text) {
  std::string ignored;
  return common::parseIpv4Address(text, &ignored).has_value();
}

}  // namespace

DhcpControlStates dhcpControlStates(DhcpMode mode) {
  switch (mode) {
    case DhcpMode::kService:
      return {true, true};
    case DhcpMode::kBlocking:
      return {false, true};
    case DhcpMode::kNone:
      break;
  }
  return {false, false};
}

LeaseTime splitLeaseTime(int seconds) {
  return {seconds / kSecondsPerDay, (seconds % kSecondsPerDay) / kSecondsPerHour,
          (seconds % kSecondsPerHour) / kSecondsPerMinute};
}

int leaseSeconds(const LeaseTime& time) {
  return time.days * kSecondsPerDay + time.hours * kSecondsPerHour +
         time.minutes * kSecondsPerMinute;
}

std::optional<std::string> classfulMask(std::string_view lowerAddress) {
  if (lowerAddress.empty() || lowerAddress.front() < '0' || lowerAddress.front() > '9') {
    return std::nullopt;
  }
  const int first = fieldNumber(lowerAddress);
  if (first < 128) {
    return "255.0.0.0";
  }
  if (first < 192) {
    return "255.255.0.0";
  }
  if (first < 224) {
    return "255.255.255.0";
  }
  return std::nullopt;
}

std::string clampedNumberText(std::string_view text, int highest) {
  if (fieldNumber(text) > highest) {
    return std::to_string(highest);
  }
  return std::string(text);
}

KeyEntry readKeyEntry(std::string_view text, common::NetworkKey* key) {
  if (text.empty()) {
    return KeyEntry::kNone;
  }
  if (text == kForbiddenKeyText) {
    return KeyEntry::kKeep;
  }
  if (text.size() != kKeyDigits) {
    return KeyEntry::kInvalid;
  }
  common::NetworkKey bytes{};
  for (std::size_t i = 0; i < kKeyDigits; i += 2) {
    const int high = upperHexValue(text[i]);
    const int low = upperHexValue(text[i + 1]);
    if (high < 0 || low < 0) {
      return KeyEntry::kInvalid;
    }
    bytes[i / 2] = static_cast<std::uint8_t>(high * 16 + low);
  }
  *key = bytes;
  return KeyEntry::kNewKey;
}

std::optional<std::string> keyFromPhrase(std::string_view text) {
  const auto digest = common::md5Digest(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  if (!digest) {
    return std::nullopt;
  }
  std::string digits;
  for (const std::uint8_t byte : *digest) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    digits += pair;
  }
  return digits;
}

int fieldNumber(std::string_view text) {
  return common::atoiLike(text);
}

std::optional<int> firstRefusal(const HubSettingsForm& form, int hubNumber,
                                const common::ManagerConfig& config) {
  const int maxConnections = fieldNumber(form.maxConnections);
  if (maxConnections < 1) {
    return text::kBadMaxConnections;
  }
  common::NetworkKey ignored;
  if (readKeyEntry(form.key, &ignored) == KeyEntry::kInvalid) {
    return text::kBadKey;
  }
  if (!config.nameIsFree(hubNumber, form.name)) {
    return text::kHubNameTaken;
  }
  // Five digits can exceed the highest port; such a number could not be stored.
  const int port = fieldNumber(form.port);
  if (port > common::kMaxPortNumber) {
    return text::kBadPortNumber;
  }
  if (!config.portIsFree(hubNumber, port)) {
    return text::kHubPortTaken;
  }
  // The range is checked whatever the option, since it is written whatever the option.
  if (!isTypedAddress(form.lowerAddress)) {
    return text::kBadLowerAddress;
  }
  if (!isTypedAddress(form.upperAddress)) {
    return text::kBadUpperAddress;
  }
  if (!isTypedAddress(form.subnetMask)) {
    return text::kBadSubnetMask;
  }
  if (maxConnections > common::kMaxConnectionsLimit) {
    return text::kBadMaxConnections;
  }
  return std::nullopt;
}

}  // namespace korvane::panel
