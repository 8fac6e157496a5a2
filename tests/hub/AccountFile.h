#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/SealedField.h"

namespace korvane::hub {

/// An account as the panel writes it into "%04d_account.ini".
struct TestAccount {
  std::string name;
  std::string password;
  int status = 0;
  bool guest = false;
  int connectionMax = 0;
  bool bridgeAllow = true;
};

/// The account file for `accounts`, names and passwords sealed the way the panel seals them.
inline std::string accountFileText(const std::vector<TestAccount>& accounts) {
  std::string text;
  for (const TestAccount& account : accounts) {
    const auto name = common::sealUtf8Text(account.name);
    const auto password = common::sealUtf8Text(account.password);
    EXPECT_TRUE(name && password) << "cannot seal " << account.name;
    if (!name || !password) {
      continue;
    }
    text += "[" + *name + "]\r\nPassword=" + *password +
            "\r\nStatus=" + std::to_string(account.status) +
            "\r\nGuestFlag=" + (account.guest ? "TRUE" : "FALSE") +
            "\r\nConnectionMax=" + std::to_string(account.connectionMax) +
            "\r\nBridgeAllow=" + (account.bridgeAllow ? "TRUE" : "FALSE") + "\r\n";
  }
  return text;
}

}  // namespace korvane::hub
