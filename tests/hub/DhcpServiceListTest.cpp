#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hub/AccountStore.h"
#include "hub/DhcpBlockFlags.h"
#include "hub/DhcpService.h"
#include "hub/DhcpServiceList.h"
#include "platform/ProfileFile.h"
#include "tests/hub/AccountFile.h"
#include "tests/hub/DhcpTestFrames.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

constexpr int kHubNumber = 4;
constexpr char kSplitter = '@';

/// A hub's ini folder with accounts, DHCP settings per domain and the services made from them.
class ListBench {
 public:
  ListBench() {
    setAccounts({"carol", "alice@sales", "bob@lab"});
    setRange("DHCP", "10.0.0.10", "10.0.0.20");
    setRange("DHCP@sales", "10.1.0.10", "10.1.0.20");
    setRange("DHCP@lab", "10.2.0.10", "10.2.0.20");
  }

  void setAccounts(const std::vector<std::string>& names) {
    std::vector<TestAccount> accounts;
    for (const std::string& name : names) {
      accounts.push_back({.name = name, .password = "pw"});
    }
    testing::writeFile(dir.ini("0004_account.ini"), accountFileText(accounts));
    if (accounts_) {
      accounts_->load();
    } else {
      accounts_ = std::make_shared<AccountStore>(dir.ini(""), kHubNumber, kSplitter);
    }
  }

  void setRange(const std::string& section, const std::string& lower, const std::string& upper) {
    const std::string path = dir.ini("0004_dhcp.ini");
    for (const auto& [key, value] : {std::pair{"DHCPFlag", std::string("TRUE")},
                                     {"LowerAddress", lower},
                                     {"UpperAddress", upper},
                                     {"SubNetMask", std::string("255.255.255.0")}}) {
      std::string err;
      ASSERT_TRUE(platform::profile::writeString(path, section, key, value, &err)) << err;
    }
  }

  DhcpRebuild rebuild(const DhcpServiceList& current) {
    return rebuildDhcpServices(current, dir.ini(""), kHubNumber, *accounts_, clock, writer);
  }

  static DhcpService& service(const DhcpServiceList& list, std::size_t index) {
    auto* service = dynamic_cast<DhcpService*>(list.at(index).get());
    EXPECT_NE(service, nullptr) << "index " << index;
    return *service;
  }

  testing::TempProgramDir dir;
  testing::ManualClock clock;
  /// Its thread does not run: a test writes the lease files with flush().
  std::shared_ptr<LeaseWriter> writer =
      std::make_shared<LeaseWriter>([](std::string_view) {}, clock);
  std::shared_ptr<AccountStore> accounts_;
};

/// Lets a DISCOVER from `mac` take an address from `service`; fails the test without an offer.
void takeLease(DomainDhcp& service, const testframes::Mac& mac) {
  std::array<std::uint8_t, kDhcpReplyBufferSize> reply{};
  std::string text;
  const auto record = testframes::plainRecord(testframes::dhcpFrame({.type = 1, .station = mac}));
  EXPECT_EQ(service.handleFrame(record, false, reply, &text).verdict, DhcpVerdict::kReply);
}

TEST(DhcpServiceList, StartUpMakesOneServicePerDomainWithItsLeases) {
  ListBench bench;
  testing::writeFile(bench.dir.ini("0004_sales_dhcp.leases"),
                     "[DHCP_ENTRY_1]\r\nLeaseExpireTime=1\r\nMacAddress=525400123401\r\n"
                     "HostName=x\r\nIPAddress=10.1.0.10\r\n");
  const DhcpServiceList list =
      makeDhcpServices(bench.dir.ini(""), kHubNumber, *bench.accounts_, bench.clock, bench.writer);
  ASSERT_EQ(list.size(), 3u);
  const std::u16string domains[] = {u"", u"sales", u"lab"};
  const std::uint32_t owners[] = {testframes::ip(10, 0, 0, 20), testframes::ip(10, 1, 0, 20),
                                  testframes::ip(10, 2, 0, 20)};
  for (std::size_t i = 0; i < list.size(); ++i) {
    SCOPED_TRACE(i);
    DhcpService& service = ListBench::service(list, i);
    EXPECT_EQ(service.domain(), domains[i]);
    EXPECT_TRUE(service.enabled());
    EXPECT_EQ(service.ownAddress(), owners[i]);
  }
  EXPECT_EQ(ListBench::service(list, 1).leases().size(), 1u);
  EXPECT_EQ(list[1]->addressTextOf(testframes::station(1)), "10.1.0.10");
}

TEST(DhcpServiceList, RebuildKeepsUnchangedServicesAndReplacesChangedOnes) {
  ListBench bench;
  const DhcpServiceList before =
      makeDhcpServices(bench.dir.ini(""), kHubNumber, *bench.accounts_, bench.clock, bench.writer);
  takeLease(*before[2], testframes::station(1));

  const DhcpRebuild unchanged = bench.rebuild(before);
  EXPECT_EQ(unchanged.services, before);
  EXPECT_TRUE(unchanged.changedDomains.empty());

  bench.setRange("DHCP@lab", "10.2.0.50", "10.2.0.60");
  const DhcpRebuild changed = bench.rebuild(before);
  ASSERT_EQ(changed.services.size(), 3u);
  EXPECT_EQ(changed.services[0], before[0]);
  EXPECT_EQ(changed.services[1], before[1]);
  EXPECT_NE(changed.services[2], before[2]);
  EXPECT_EQ(changed.changedDomains, std::vector<int>{2});
  DhcpService& lab = ListBench::service(changed.services, 2);
  EXPECT_EQ(lab.ownAddress(), testframes::ip(10, 2, 0, 60));
  EXPECT_TRUE(lab.leases().empty()) << "a service with new settings starts without leases";
  // Its first change overwrites the domain's lease file.
  takeLease(lab, testframes::station(2));
  bench.writer->flush();
  const std::string text = testing::readFile(bench.dir.ini("0004_lab_dhcp.leases"));
  EXPECT_NE(text.find("10.2.0.50"), std::string::npos);
  EXPECT_EQ(text.find("10.2.0.10"), std::string::npos);
}

TEST(DhcpServiceList, RebuildFollowsRenumberedDomains) {
  ListBench bench;
  const DhcpServiceList before =
      makeDhcpServices(bench.dir.ini(""), kHubNumber, *bench.accounts_, bench.clock, bench.writer);
  // "sales" goes, "lab" becomes domain 1, "new" takes domain 2.
  bench.setAccounts({"carol", "bob@lab", "dave@new"});
  bench.setRange("DHCP@new", "10.3.0.10", "10.3.0.20");
  testing::writeFile(bench.dir.ini("0004_new_dhcp.leases"),
                     "[DHCP_ENTRY_1]\r\nLeaseExpireTime=1\r\nMacAddress=525400123407\r\n"
                     "HostName=x\r\nIPAddress=10.3.0.12\r\n");
  const DhcpRebuild rebuilt = bench.rebuild(before);
  ASSERT_EQ(rebuilt.services.size(), 3u);
  EXPECT_EQ(rebuilt.services[0], before[0]);
  EXPECT_EQ(rebuilt.services[1], before[2]) << "lab keeps its service and its leases";
  EXPECT_EQ(ListBench::service(rebuilt.services, 2).domain(), u"new");
  EXPECT_EQ(rebuilt.services[2]->addressTextOf(testframes::station(7)), "10.3.0.12");
  EXPECT_TRUE(rebuilt.changedDomains.empty());
}

TEST(DhcpServiceList, DomainBackBeforeItsLeasesWereWrittenKeepsThem) {
  ListBench bench;
  const DhcpServiceList before =
      makeDhcpServices(bench.dir.ini(""), kHubNumber, *bench.accounts_, bench.clock, bench.writer);
  takeLease(*before[2], testframes::station(1));  // marked for the writer, not yet written
  bench.setAccounts({"carol", "alice@sales", "bob@other"});
  const DhcpRebuild without = bench.rebuild(before);
  ASSERT_EQ(without.services.size(), 3u);
  ASSERT_EQ(ListBench::service(without.services, 2).domain(), u"other");
  bench.setAccounts({"carol", "alice@sales", "bob@lab"});
  const DhcpRebuild back = bench.rebuild(without.services);
  ASSERT_EQ(back.services.size(), 3u);
  EXPECT_NE(back.services[2], before[2]);
  EXPECT_EQ(back.services[2]->addressTextOf(testframes::station(1)), "10.2.0.10");
}

TEST(DhcpServiceList, GlobalServiceStaysAtIndexZero) {
  ListBench bench;
  const DhcpServiceList before =
      makeDhcpServices(bench.dir.ini(""), kHubNumber, *bench.accounts_, bench.clock, bench.writer);
  // A name ending in the splitter gives the empty domain text an index of its own.
  bench.setAccounts({"eve@", "carol", "alice@sales"});
  ASSERT_EQ(bench.accounts_->domainIndexOfDomain(u""), 1);
  const DhcpRebuild rebuilt = bench.rebuild(before);
  ASSERT_GE(rebuilt.services.size(), 3u);
  EXPECT_EQ(rebuilt.services[0], before[0]);
  for (const auto& service : rebuilt.services) {
    EXPECT_NE(service, nullptr);
  }
}

TEST(DhcpServiceList, EntriesThatAreNotServicesAreReplaced) {
  ListBench bench;
  DhcpServiceList current(1);  // an empty position, as before start-up made the services
  const DhcpRebuild rebuilt = bench.rebuild(current);
  ASSERT_EQ(rebuilt.services.size(), 3u);
  EXPECT_EQ(ListBench::service(rebuilt.services, 0).domain(), u"");
  EXPECT_TRUE(rebuilt.changedDomains.empty());
}

TEST(DhcpServiceList, BlockFlagsOfTheHubsDomains) {
  ListBench bench;
  BlockFlags flags{};
  flags[7] = 1;
  const std::string path = bench.dir.ini("Tollmar.ini");
  std::string err;
  ASSERT_TRUE(platform::profile::writeString(path, "0004", "BlockDHCP@lab", "1", &err)) << err;
  loadBlockFlags(flags, bench.dir.ini(""), kHubNumber, nullptr);
  EXPECT_EQ(flags[0], 0);
  EXPECT_EQ(flags[1], 0);
  EXPECT_EQ(flags[2], 0) << "no account store: only the global domain is read";
  EXPECT_EQ(flags[7], 0) << "domains beyond the store are cleared";

  loadBlockFlags(flags, bench.dir.ini(""), kHubNumber, bench.accounts_.get());
  EXPECT_EQ(flags[1], 0);
  EXPECT_EQ(flags[2], 1);
}

}  // namespace
}  // namespace korvane::hub
