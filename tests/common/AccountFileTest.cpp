#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/AccountFile.h"
#include "common/SealedField.h"

namespace korvane::common {
namespace {

AccountRecord account(std::u16string name, std::u16string password) {
  AccountRecord record;
  record.name = std::move(name);
  record.password = std::move(password);
  return record;
}

std::vector<std::u16string> namesOf(const std::vector<AccountRecord>& records) {
  std::vector<std::u16string> names;
  for (const AccountRecord& record : records) {
    names.push_back(record.name);
  }
  return names;
}

TEST(AccountFile, WrittenAccountsReadBackAsThemselves) {
  AccountRecord alice = account(u"alice", u"secret");
  alice.status = AccountStatus::kLocked;
  alice.guest = true;
  alice.connectionMax = 1;
  alice.bridgeAllow = false;
  // A status the panel never writes is kept as the number it is.
  AccountRecord bob = account(u"bob#sales", u"\u00e9t\u00e9\u2603");
  bob.status = AccountStatus{-7};
  const std::vector<AccountRecord> records = {alice, bob, account(std::u16string(64, u'N'), u"pw")};

  std::string err;
  const std::optional<std::string> text = formatAccountFile(records, &err);
  ASSERT_TRUE(text.has_value()) << err;
  EXPECT_TRUE(text->starts_with("[" + *sealText(u"alice") +
                                "]\r\nPassword=" + *sealText(u"secret") +
                                "\r\nStatus=1\r\nGuestFlag=TRUE\r\nConnectionMax=1\r\n"
                                "BridgeAllow=FALSE\r\n[" +
                                *sealText(u"bob#sales") + "]\r\n"))
      << *text;
  EXPECT_NE(text->find("Status=-7\r\n"), std::string::npos);
  EXPECT_EQ(parseAccountFile(*text), records);
  EXPECT_EQ(formatAccountFile({}, &err), "");
}

TEST(AccountFile, ReadsHandWrittenFilesAsTheHubDoes) {
  const std::string alice = *sealText(u"alice");
  const std::string bob = *sealText(u"bob");
  const std::string carol = *sealText(u"carol");
  const std::string pw = *sealText(u"pw");
  const std::vector<AccountRecord> records = parseAccountFile(
      "[" + alice + "]\nPassword=" + pw +
      "\nStatus=0\nGuestFlag=true\nBridgeAllow=false\nConnectionMax=-4\n"
      // No Status: not an account.
      "[" +
      bob + "]\nPassword=" + pw + "\n[" + carol + "]\nPassword=" + pw + "\nStatus=7\n");
  ASSERT_EQ(namesOf(records), (std::vector<std::u16string>{u"alice", u"carol"}));
  const AccountRecord& first = records[0];
  EXPECT_FALSE(first.guest);       // only "TRUE" makes a guest
  EXPECT_TRUE(first.bridgeAllow);  // only "FALSE" forbids bridging
  EXPECT_EQ(first.connectionMax, 0);
  const AccountRecord& second = records[1];
  EXPECT_EQ(second.status, AccountStatus{7});
  EXPECT_TRUE(second.bridgeAllow);
  EXPECT_FALSE(second.guest);
}

}  // namespace
}  // namespace korvane::common
