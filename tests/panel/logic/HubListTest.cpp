#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "panel/logic/HubList.h"
#include "panel/logic/MainStatusText.h"
#include "tests/panel/logic/AccountTestSupport.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::TempProgramDir;
using korvane::testing::writeFile;

// Strings by number as "#<id>", so that a test sees which string a column took.
std::string numbered(int id) {
  return "#" + std::to_string(id);
}

TEST(HubList, ColumnsAndImageOfAHub) {
  struct Row {
    HubRow row;
    std::array<std::string, kHubListColumns> texts;
    int image;
  };
  const Row rows[] = {
      {{7, "Office", 0, false, false, DhcpSummary::kOff},
       {"Office", "#7", "0007", "#38", "#40", "#40"},
       0},
      {{12, "Lab", 5555, true, false, DhcpSummary::kOn},
       {"Lab", "5555", "0012", "#39", "#40", "#41"},
       1},
      {{1, "", 80, false, true, DhcpSummary::kMixed}, {"", "80", "0001", "#38", "#41", "#104"}, 2},
      {{9999, "Big", 65535, true, true, DhcpSummary::kOn},
       {"Big", "65535", "9999", "#39", "#41", "#41"},
       3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.row.number);
    EXPECT_EQ(hubRowTexts(row.row, numbered), row.texts);
    EXPECT_EQ(hubStateImage(row.row.running, row.row.authentication), row.image);
    EXPECT_EQ(hubNumberOfText(row.texts[kHubNumberColumn]), row.row.number);
  }
}

class HubListTest : public ::testing::Test {
 protected:
  std::string iniDirectory() const { return dir_.path() + "ini/"; }

  DhcpSummary summary(char splitter = '#') {
    AccountModelCache models(iniDirectory());
    return summarizeDhcp(iniDirectory(), 1, splitter, models);
  }

  void addAccounts(std::initializer_list<const char16_t*> names) {
    std::string err;
    auto model = AccountListModel::open(iniDirectory(), 1, '#', &err);
    ASSERT_TRUE(model) << err;
    for (const char16_t* name : names) {
      ASSERT_TRUE(model->addAccount(testing::makeAccount(name, u"pw"), &err)) << err;
    }
  }

  TempProgramDir dir_;
};

TEST_F(HubListTest, DhcpSummaryVisitsTheHubAndEachDomainOfItsAccounts) {
  addAccounts({u"a#x", u"b", u"c#y"});
  struct Case {
    const char* what;
    const char* file;
    DhcpSummary expected;
  };
  const Case cases[] = {
      {"no settings: every service off", "", DhcpSummary::kOff},
      {"all on", "[DHCP]\nDHCPFlag=TRUE\n[DHCP@x]\nDHCPFlag=TRUE\n[DHCP@y]\nDHCPFlag=TRUE\n",
       DhcpSummary::kOn},
      {"one domain differs", "[DHCP]\nDHCPFlag=TRUE\n[DHCP@x]\nDHCPFlag=TRUE\n",
       DhcpSummary::kMixed},
      {"only a domain on", "[DHCP@y]\nDHCPFlag=TRUE\n", DhcpSummary::kMixed},
      {"only TRUE switches on", "[DHCP]\nDHCPFlag=true\n", DhcpSummary::kOff},
      {"a domain no account uses does not count", "[DHCP@z]\nDHCPFlag=TRUE\n", DhcpSummary::kOff},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dir_.ini("0001_dhcp.ini"), c.file);
    EXPECT_EQ(summary(), c.expected);
  }
}

TEST_F(HubListTest, DhcpSummaryIsMixedWhenTheAccountsCannotBeRead) {
  writeFile(dir_.ini("0001_dhcp.ini"), "[DHCP]\nDHCPFlag=TRUE\n");
  EXPECT_EQ(summary(), DhcpSummary::kOn);
  std::filesystem::create_directory(dir_.ini("0001_account.ini"));  // not a file
  EXPECT_EQ(summary(), DhcpSummary::kMixed);
}

TEST_F(HubListTest, RowsFollowTheManagerFileInFileOrder) {
  writeFile(dir_.ini("Tollmar.ini"),
            "[SYSTEM]\r\nDomainSplitter=#\r\n[0003]\r\nHubName=C\r\nStatus=ON\r\nPortNo=7470\r\n"
            "AuthFlag=1\r\n[0001]\r\nHubName=A\r\nStatus=odd\r\n");
  std::string err;
  const auto config = common::ManagerConfigSnapshot::read(dir_.ini("Tollmar.ini"), &err);
  ASSERT_TRUE(config) << err;
  AccountModelCache models(iniDirectory());
  const std::vector<HubRow> rows = readHubRows(*config, iniDirectory(), models);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(hubRowTexts(rows[0], numbered),
            (std::array<std::string, kHubListColumns>{"C", "7470", "0003", "#39", "#41", "#40"}));
  // A Status that is neither ON nor OFF is shown as stopped.
  EXPECT_EQ(hubRowTexts(rows[1], numbered),
            (std::array<std::string, kHubListColumns>{"A", "#7", "0001", "#38", "#40", "#40"}));
}

TEST(MainStatusText, CountThenTheDnsUpdateResult) {
  EXPECT_EQ(hubCountText("Hubs", 0), "Hubs : 0");
  struct Row {
    const char* current;
    const char* log;
    const char* expected;
  };
  const Row rows[] = {
      {"Hubs : 2", "OK", "Hubs : 2, DNSUpdate : OK"},
      {"Hubs : 2, DNSUpdate : OK", "NG 3", "Hubs : 2, DNSUpdate : NG 3"},
      {"Hubs : 2, DNSUpdate : OK", "", "Hubs : 2"},  // the log was deleted
      {"", "OK", ""},                                // the list is being filled
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.current);
    EXPECT_EQ(withDnsUpdate(row.current, row.log), row.expected);
  }
}

}  // namespace
}  // namespace korvane::panel
