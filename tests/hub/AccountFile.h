#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/AccountFile.h"
#include "common/Utf16.h"

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

/// The account file for `accounts`, written as the panel writes it.
inline std::string accountFileText(const std::vector<TestAccount>& accounts) {
  std::vector<common::AccountRecord> records;
  for (const TestAccount& account : accounts) {
    const auto name = common::utf8ToUtf16(account.name);
    const auto password = common::utf8ToUtf16(account.password);
    EXPECT_TRUE(name && password) << "not UTF-8: " << account.name;
    if (!name || !password) {
      continue;
    }
    common::AccountRecord& record = records.emplace_back();
    record.name = *name;
    record.password = *password;
    record.status = common::AccountStatus{account.status};
    record.guest = account.guest;
    record.connectionMax = account.connectionMax;
    record.bridgeAllow = account.bridgeAllow;
  }
  std::string err;
  const std::optional<std::string> text = common::formatAccountFile(records, &err);
  EXPECT_TRUE(text.has_value()) << err;
  return text.value_or(std::string());
}

}  // namespace korvane::hub
