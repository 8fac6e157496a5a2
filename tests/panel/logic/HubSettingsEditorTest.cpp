#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/DhcpSettings.h"
#include "panel/logic/HubSettingsEditor.h"
#include "panel/logic/HubSettingsText.h"
#include "tests/panel/logic/AccountTestSupport.h"
#include "tests/panel/logic/MessageLog.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

using korvane::testing::fileExists;
using korvane::testing::readFile;
using korvane::testing::writeFile;

class HubSettingsEditorTest : public ::testing::Test {
 protected:
  HubSettingsEditorTest() {
    writeFile(dir_.ini("Tollmar.ini"),
              "[SYSTEM]\r\nDomainSplitter=@\r\n[0001]\r\nHubName=one\r\nStatus=OFF\r\n"
              "PortNo=7000\r\nAuthFlag=1\r\nMaxCon=100\r\nSNATPort=7000\r\nGarbageDays=5\r\n"
              "GarbageMonths=2\r\n");
    std::string err;
    AccountListModel* model = models_.model(1, '@', &err);
    EXPECT_TRUE(model != nullptr &&
                model->addAccount(testing::makeAccount(u"a@sales", u"pw"), &err))
        << err;
  }

  HubSettingsEditor editor(bool newHub = false) {
    HubSettingsEditor made(config_, models_, 1, newHub, view_);
    made.setRouter([this](int port, std::string*) {
      removed_.push_back(port);
      return true;
    });
    made.setReloader([this](int hub, std::string*) {
      reloaded_.push_back(hub);
      return HubDelivery::kHubNotRunning;
    });
    return made;
  }

  std::string dhcpFile() const { return readFile(dir_.ini("0001_dhcp.ini")); }

  korvane::testing::TempProgramDir dir_;
  korvane::testing::ManualClock clock_;
  common::ManagerConfig config_{dir_.ini("Tollmar.ini"), clock_};
  AccountModelCache models_{dir_.path() + "ini/"};
  testing::MessageLog view_;
  std::vector<int> removed_;
  std::vector<int> reloaded_;
};

TEST_F(HubSettingsEditorTest, ShowsTheStoredHubAndTheDefaultsOfADomainWithoutSettings) {
  HubSettingsEditor edit = editor();
  EXPECT_EQ(edit.domainNames(), (std::vector<std::string>{"-Global-", "sales"}));
  const HubSettingsForm form = edit.initialForm();
  EXPECT_EQ(form.name, "one");
  EXPECT_EQ(form.port, "7000");
  EXPECT_EQ(form.maxConnections, "100");
  EXPECT_TRUE(form.authentication);
  EXPECT_EQ(form.logDays, "5");
  EXPECT_EQ(form.logMonths, "2");
  EXPECT_EQ(form.dhcpMode, DhcpMode::kNone);
  EXPECT_EQ(form.lowerAddress, "192.168.200.1");
  EXPECT_EQ(form.upperAddress, "192.168.200.254");
  EXPECT_EQ(form.subnetMask, "255.255.255.0");
  EXPECT_EQ(form.leaseDays, "3");
  EXPECT_EQ(form.leaseHours, "0");
  EXPECT_EQ(form.leaseMinutes, "0");
  EXPECT_EQ(form.key, "");
  EXPECT_FALSE(edit.hubRunning());
}

TEST_F(HubSettingsEditorTest, OkWritesTheHubAndTheSelectedDomain) {
  HubSettingsEditor edit = editor();
  HubSettingsForm form = edit.initialForm();
  form.name = "renamed";
  form.authentication = false;
  form.maxConnections = "64";
  form.dhcpMode = DhcpMode::kService;
  form.lowerAddress = "10.0.0.10";
  form.upperAddress = "10.0.0.20";
  form.subnetMask = "255.0.0.0";
  form.leaseDays = "1";
  form.leaseHours = "2";
  form.leaseMinutes = "3";
  form.key = "00112233445566778899AABBCCDDEEFF";
  writeFile(dir_.ini("0001_sales_dhcp.leases"), "old");
  ASSERT_TRUE(edit.accept(form, 1)) << (view_.failures.empty() ? "" : view_.failures[0]);

  const std::string ini = readFile(dir_.ini("Tollmar.ini"));
  for (const char* line :
       {"HubName=renamed\r\n", "PortNo=7000\r\n", "AuthFlag=0\r\n", "MaxCon=64\r\n",
        "GarbageDays=5\r\n", "GarbageMonths=2\r\n", "BlockDHCP@sales=0\r\n"}) {
    EXPECT_NE(ini.find(line), std::string::npos) << line << ini;
  }
  std::string err;
  const auto stored = common::readDhcpSettings(dir_.ini("0001_dhcp.ini"), "sales", &err);
  ASSERT_TRUE(stored) << err;
  EXPECT_TRUE(stored->serviceOn);
  EXPECT_EQ(stored->leaseSeconds, 93780);
  EXPECT_EQ(stored->lowerAddress, "10.0.0.10");
  EXPECT_TRUE(stored->keyStored);
  // The key is stored sealed, the way the hub unseals it.
  const std::string text = dhcpFile();
  const std::size_t net = text.find("Net=");
  ASSERT_NE(net, std::string::npos) << text;
  const auto key = common::unsealNetworkKey(text.substr(net + 4, 32));
  ASSERT_TRUE(key);
  EXPECT_EQ((*key)[15], 0xFF);
  EXPECT_NE(text.find("[DHCP@sales]\r\nDHCPFlag=TRUE\r\nLowerAddress=10.0.0.10\r\n"
                      "UpperAddress=10.0.0.20\r\nSubNetMask=255.0.0.0\r\nNet="),
            std::string::npos)
      << text;
  EXPECT_FALSE(fileExists(dir_.ini("0001_sales_dhcp.leases")));
  EXPECT_TRUE(removed_.empty());  // SNATPort 7000 is still the hub's port
  EXPECT_EQ(reloaded_, std::vector<int>{1});

  // Opened again, the domain shows what was written, the key only as the placeholder.
  HubSettingsForm again;
  editor().loadDomain(1, &again);
  EXPECT_EQ(again.dhcpMode, DhcpMode::kService);
  EXPECT_EQ(again.leaseDays, "1");
  EXPECT_EQ(again.leaseHours, "2");
  EXPECT_EQ(again.leaseMinutes, "3");
  EXPECT_EQ(again.key, kForbiddenKeyText);
}

TEST_F(HubSettingsEditorTest, KeyPlaceholderKeepsTheKeyAndAnEmptyFieldClearsIt) {
  HubSettingsForm form = editor().initialForm();
  form.key = "00112233445566778899AABBCCDDEEFF";
  ASSERT_TRUE(editor().accept(form, 0));
  const std::string sealed = dhcpFile();

  form.key = std::string(kForbiddenKeyText);
  form.dhcpMode = DhcpMode::kBlocking;
  ASSERT_TRUE(editor().accept(form, 0));
  EXPECT_NE(dhcpFile().find(sealed.substr(sealed.find("Net="), 36)), std::string::npos);
  EXPECT_NE(readFile(dir_.ini("Tollmar.ini")).find("BlockDHCP=1\r\n"), std::string::npos);
  HubSettingsForm shown;
  editor().loadDomain(0, &shown);
  EXPECT_EQ(shown.dhcpMode, DhcpMode::kBlocking);
  EXPECT_EQ(shown.key, kForbiddenKeyText);

  form.key.clear();
  ASSERT_TRUE(editor().accept(form, 0));
  EXPECT_NE(dhcpFile().find("Net=0000000000000000000000\r\n"), std::string::npos) << dhcpFile();
  editor().loadDomain(0, &shown);
  EXPECT_EQ(shown.key, "");
}

TEST_F(HubSettingsEditorTest, RefusalShowsItsStringAndWritesNothing) {
  const std::string before = readFile(dir_.ini("Tollmar.ini"));
  HubSettingsForm form = editor().initialForm();
  form.maxConnections = "513";
  form.name = "changed";
  EXPECT_FALSE(editor().accept(form, 0));
  EXPECT_EQ(view_.messages, std::vector<int>{text::kBadMaxConnections});
  EXPECT_EQ(readFile(dir_.ini("Tollmar.ini")), before);
  EXPECT_FALSE(fileExists(dir_.ini("0001_dhcp.ini")));
  EXPECT_TRUE(reloaded_.empty());
}

TEST_F(HubSettingsEditorTest, OldRouterMappingIsRemovedWhenThePortChanges) {
  HubSettingsForm form = editor().initialForm();
  form.port = "7001";
  ASSERT_TRUE(editor().accept(form, 0));
  EXPECT_EQ(removed_, std::vector<int>{7000});
}

TEST_F(HubSettingsEditorTest, CancelDeletesOnlyANewHub) {
  editor(false).cancel();
  EXPECT_EQ(config_.listHubs(), std::vector<int>{1});
  editor(true).cancel();
  EXPECT_TRUE(config_.listHubs().empty());
  EXPECT_FALSE(fileExists(dir_.ini("0001_account.ini")));
  EXPECT_TRUE(view_.failures.empty()) << view_.failures[0];
}

}  // namespace
}  // namespace korvane::panel
