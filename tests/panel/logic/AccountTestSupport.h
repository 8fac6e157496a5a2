#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/Md5.h"
#include "common/SealedField.h"
#include "hub/AccountStore.h"
#include "panel/logic/Account.h"

namespace korvane::panel::testing {

/// An account with the given name and password and the panel's defaults for the rest.
inline Account makeAccount(std::u16string name, std::u16string password) {
  Account account;
  account.name = std::move(name);
  account.password = std::move(password);
  return account;
}

/// The answer a client computes for `challenge`: the MD5 digest of the challenge, the name's
/// 128-byte block and the password's 128-byte block.
inline common::Md5Digest loginAnswer(
    const std::array<std::uint8_t, hub::kChallengeBytes>& challenge, std::u16string_view name,
    std::u16string_view password) {
  std::string message(challenge.begin(), challenge.end());
  const common::TextBlock nameBlock = common::textBlockOf(name);
  const common::TextBlock passwordBlock = common::textBlockOf(password);
  message.append(nameBlock.begin(), nameBlock.end());
  message.append(passwordBlock.begin(), passwordBlock.end());
  const std::optional<common::Md5Digest> digest = common::md5Digest(
      std::span(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()));
  return digest.value_or(common::Md5Digest{});
}

/// The hub's login for `name` and `password`, checked with a fixed challenge.
inline std::optional<hub::AccountLogin> hubLogin(const hub::AccountStore& store,
                                                 std::u16string_view name,
                                                 std::u16string_view password) {
  const std::array<std::uint8_t, hub::kChallengeBytes> challenge = {
      0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
      0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  const common::Md5Digest answer = loginAnswer(challenge, name, password);
  return store.authenticate(answer, challenge);
}

}  // namespace korvane::panel::testing
