#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/DottedAddress.h"
#include "hub/HostFilter.h"
#include "platform/ProfileFile.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

constexpr int kHubNumber = 12;

/// One filter rule as the panel writes it; a key set to std::nullopt is left out.
struct Rule {
  std::string name;
  std::optional<std::string> ipAddress = std::nullopt;
  std::optional<std::string> mask = std::nullopt;
  std::optional<std::string> hostName = std::nullopt;
  std::optional<std::string> allow = "TRUE";
};

Rule addressRule(std::string name, std::string address, std::string mask, bool allow) {
  return {.name = std::move(name),
          .ipAddress = std::move(address),
          .mask = std::move(mask),
          .allow = allow ? "TRUE" : "FALSE"};
}

Rule hostNameRule(std::string name, std::string hostName, bool allow) {
  return {
      .name = std::move(name), .hostName = std::move(hostName), .allow = allow ? "TRUE" : "FALSE"};
}

void writeKey(const std::string& path, const std::string& section, const char* key,
              const std::optional<std::string>& value) {
  if (!value) {
    return;
  }
  std::string err;
  ASSERT_TRUE(platform::profile::writeString(path, section, key, *value, &err)) << err;
}

void writeRules(const std::string& path, const std::vector<Rule>& rules) {
  for (const Rule& rule : rules) {
    writeKey(path, rule.name, "IPADDRESS", rule.ipAddress);
    writeKey(path, rule.name, "MASK", rule.mask);
    writeKey(path, rule.name, "HOSTNAME", rule.hostName);
    writeKey(path, rule.name, "ALLOW", rule.allow);
  }
}

Ipv4Address address(std::string_view dotted) {
  const std::optional<Ipv4Address> parsed = common::parseDottedQuad(dotted);
  EXPECT_TRUE(parsed.has_value()) << dotted;
  return parsed.value_or(Ipv4Address{});
}

/// The decision for a client, as "allow:reason" or "refuse:reason", so a table can say both.
std::string decide(const HostFilter& filter, std::string_view dotted, std::string_view host) {
  const std::optional<FilterDecision> decision = filter.checkAddress(address(dotted), host);
  if (!decision) {
    return "(lock not taken)";
  }
  return (decision->allowed ? "allow:" : "refuse:") + decision->reason;
}

/// A filter over its own program directory, built from `rules`.
struct FilterFixture {
  explicit FilterFixture(const std::vector<Rule>& rules) : filter(loaded(dir, rules)) {}

  static HostFilter loaded(const testing::TempProgramDir& dir, const std::vector<Rule>& rules) {
    writeRules(dir.ini("0012_hosts.ini"), rules);
    return HostFilter(dir.ini(""), kHubNumber);
  }

  testing::TempProgramDir dir;
  HostFilter filter;
};

struct Case {
  std::string address;
  std::string host;
  std::string expected;
};

void expectDecisions(const HostFilter& filter, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address + " " + c.host);
    EXPECT_EQ(decide(filter, c.address, c.host), c.expected);
  }
}

TEST(HostFilter, MissingFileAllowsEveryClient) {
  testing::TempProgramDir dir;
  const HostFilter filter(dir.ini(""), kHubNumber);
  EXPECT_EQ(filter.path(), dir.ini("0012_hosts.ini"));
  EXPECT_EQ(filter.ruleCount(), 0u);
  EXPECT_EQ(decide(filter, "10.0.0.1", "unknown"), "allow:");
}

TEST(HostFilter, LastMatchingRuleDecides) {
  const FilterFixture denyThenAllow({addressRule("deny-all", "0.0.0.0", "0.0.0.0", false),
                                     addressRule("office", "192.168.1.0", "255.255.255.0", true)});
  expectDecisions(denyThenAllow.filter, {
                                            {"192.168.1.7", "LAN", "allow:office"},
                                            {"10.0.0.1", "host.example.net", "refuse:deny-all"},
                                            {"192.168.2.7", "LAN", "refuse:deny-all"},
                                        });

  const FilterFixture allowThenDeny({addressRule("office", "192.168.1.0", "255.255.255.0", true),
                                     addressRule("deny-all", "0.0.0.0", "0.0.0.0", false)});
  expectDecisions(allowThenDeny.filter, {
                                            {"192.168.1.7", "LAN", "refuse:deny-all"},
                                            {"10.0.0.1", "host.example.net", "refuse:deny-all"},
                                        });
}

TEST(HostFilter, AddressRulesCompareUnderTheMask) {
  const FilterFixture fixture(
      {addressRule("one-host", "10.1.2.3", "255.255.255.255", false),
       addressRule("odd-mask", "172.16.0.0", "255.0.255.0", false),
       addressRule("host-bits-ignored", "192.0.2.99", "255.255.255.0", false)});
  expectDecisions(fixture.filter, {
                                      {"10.1.2.3", "x", "refuse:one-host"},
                                      {"10.1.2.4", "x", "allow:"},
                                      {"172.99.0.5", "x", "refuse:odd-mask"},
                                      {"172.99.1.5", "x", "allow:"},
                                      {"192.0.2.1", "x", "refuse:host-bits-ignored"},
                                  });
}

TEST(HostFilter, HostNameRulesMatchCaseSensitiveSubstrings) {
  const FilterFixture fixture({hostNameRule("example", "example", false)});
  expectDecisions(fixture.filter, {
                                      {"203.0.113.5", "host.example.net", "refuse:example"},
                                      {"203.0.113.5", "example", "refuse:example"},
                                      {"203.0.113.5", "HOST.EXAMPLE.NET", "allow:"},
                                      {"203.0.113.5", "exampl", "allow:"},
                                      {"203.0.113.5", "", "allow:"},
                                  });
}

TEST(HostFilter, EmptyHostNameMatchesEveryClient) {
  const FilterFixture fixture({hostNameRule("everyone", "", false)});
  expectDecisions(fixture.filter, {
                                      {"203.0.113.5", "host.example.net", "refuse:everyone"},
                                      {"10.0.0.1", "", "refuse:everyone"},
                                  });
}

TEST(HostFilter, LanHostNameDecidesForPrivateClients) {
  const FilterFixture fixture(
      {hostNameRule("no-remote", "", false), hostNameRule("lan", "LAN", true)});
  expectDecisions(fixture.filter, {
                                      {"192.168.1.7", "LAN", "allow:lan"},
                                      {"10.0.0.1", "LAN", "allow:lan"},
                                      {"203.0.113.5", "host.example.net", "refuse:no-remote"},
                                  });
}

TEST(HostFilter, ValuesKeepTheirFirst31Characters) {
  const std::string host40 = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";
  const std::string first31 = host40.substr(0, 31);
  const FilterFixture fixture({hostNameRule("long", host40, false)});
  expectDecisions(fixture.filter, {
                                      {"203.0.113.5", first31, "refuse:long"},
                                      {"203.0.113.5", "x." + first31 + "!.net", "refuse:long"},
                                      {"203.0.113.5", first31.substr(0, 30), "allow:"},
                                  });
}

TEST(HostFilter, AllowOtherThanTrueRefuses) {
  const FilterFixture fixture({hostNameRule("open", "", true),
                               {.name = "lower", .hostName = "a", .allow = "true"},
                               {.name = "yes", .hostName = "b", .allow = "YES"},
                               {.name = "empty", .hostName = "c", .allow = ""},
                               {.name = "quoted", .hostName = "d", .allow = "\"TRUE\""}});
  expectDecisions(fixture.filter, {
                                      {"203.0.113.5", "a", "refuse:lower"},
                                      {"203.0.113.5", "b", "refuse:yes"},
                                      {"203.0.113.5", "c", "refuse:empty"},
                                      {"203.0.113.5", "d", "allow:quoted"},
                                  });
}

TEST(HostFilter, InvalidSectionsAreNoRules) {
  const FilterFixture fixture({
      hostNameRule("catch-all", "", true),
      {.name = "no-allow", .hostName = "", .allow = std::nullopt},
      {.name = "no-mask", .ipAddress = "0.0.0.0", .allow = "FALSE"},
      {.name = "no-form", .allow = "FALSE"},
      addressRule("bad-address", "192.168.1.256", "0.0.0.0", false),
      addressRule("bad-mask", "0.0.0.0", "255.255.255", false),
      // An address rule ignores a HOSTNAME beside it; without MASK the section is nothing.
      {.name = "address-and-host", .ipAddress = "0.0.0.0", .hostName = "", .allow = "FALSE"},
  });
  EXPECT_EQ(fixture.filter.ruleCount(), 1u);
  EXPECT_EQ(decide(fixture.filter, "192.168.1.7", "anything"), "allow:catch-all");
}

TEST(HostFilter, AddressRuleIgnoresHostNameBesideIt) {
  const FilterFixture fixture({{.name = "both",
                                .ipAddress = "10.0.0.0",
                                .mask = "255.0.0.0",
                                .hostName = "",
                                .allow = "FALSE"}});
  expectDecisions(fixture.filter, {
                                      {"10.9.9.9", "x", "refuse:both"},
                                      {"11.0.0.1", "x", "allow:"},
                                  });
}

TEST(HostFilter, DottedQuadOdditiesInTheFile) {
  const FilterFixture fixture({addressRule("gap", "192.168..1", "255.255.255.255", false),
                               addressRule("too-big", "192.168.1.256", "0.0.0.0", false)});
  EXPECT_EQ(fixture.filter.ruleCount(), 1u);
  expectDecisions(fixture.filter, {
                                      {"192.168.0.1", "x", "refuse:gap"},
                                      {"192.168.1.1", "x", "allow:"},
                                  });
}

/// A peer as a connection shows it: IPv4 addresses as such, anything else as IPv6 text.
platform::PeerAddress peerAt(const std::string& numericHost) {
  platform::PeerAddress peer;
  peer.numericHost = numericHost;
  peer.port = 40000;
  const std::optional<Ipv4Address> ipv4 = common::parseDottedQuad(numericHost);
  peer.isIpv4 = ipv4.has_value();
  peer.ipv4 = ipv4.value_or(Ipv4Address{});
  return peer;
}

void expectPeerDecisions(const HostFilter& filter, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.address + "\" " + c.host);
    const std::optional<FilterDecision> decision = filter.checkPeer(peerAt(c.address), c.host);
    ASSERT_TRUE(decision.has_value());
    EXPECT_EQ((decision->allowed ? "allow:" : "refuse:") + decision->reason, c.expected);
  }
}

TEST(HostFilter, CheckPeerFiltersIpv4AndIpv6Clients) {
  const FilterFixture denyAllButOffice(
      {addressRule("deny-all", "0.0.0.0", "0.0.0.0", false),
       addressRule("office", "192.168.1.0", "255.255.255.0", true)});
  expectPeerDecisions(denyAllButOffice.filter,
                      {
                          {"192.168.1.7", "LAN", "allow:office"},
                          {"127.0.0.1", "localhost", "refuse:deny-all"},
                          // A zero mask compares no bit: it matches IPv6 clients as well.
                          {"::1", "localhost", "refuse:deny-all"},
                          {"2001:db8::7", "host.example.net", "refuse:deny-all"},
                          {"fe80::1%eth0", "LAN", "refuse:deny-all"},
                          // An IPv4-mapped address is the IPv4 client it carries.
                          {"::ffff:192.168.1.7", "LAN", "allow:office"},
                          {"::ffff:10.0.0.1", "LAN", "refuse:deny-all"},
                          // A connection whose address cannot be read is refused.
                          {"", "unknown", "refuse:"},
                      });

  const FilterFixture officeAndName({addressRule("office", "192.168.1.0", "255.255.255.0", false),
                                     hostNameRule("example", "example", false)});
  expectPeerDecisions(officeAndName.filter,
                      {
                          {"192.168.1.7", "LAN", "refuse:office"},
                          {"::ffff:192.168.1.7", "LAN", "refuse:office"},
                          // A non-zero mask is an IPv4 mask: no pure IPv6 address matches it,
                          // not even one whose last bytes spell the network.
                          {"::192.168.1.7", "x", "allow:"},
                          {"2001:db8::c0a8:107", "x", "allow:"},
                          // Host name rules apply to IPv6 clients as to IPv4 ones.
                          {"2001:db8::7", "host.example.net", "refuse:example"},
                          {"2001:db8::7", "HOST.EXAMPLE.NET", "allow:"},
                          {"203.0.113.5", "host.example.net", "refuse:example"},
                      });
}

TEST(HostFilter, ReloadReplacesTheRules) {
  testing::TempProgramDir dir;
  const std::string path = dir.ini("0012_hosts.ini");
  writeRules(path, {hostNameRule("blocked", "bad", false)});
  HostFilter filter(dir.ini(""), kHubNumber);
  EXPECT_EQ(decide(filter, "1.2.3.4", "bad.example"), "refuse:blocked");

  std::string err;
  ASSERT_TRUE(platform::profile::deleteSection(path, "blocked", &err)) << err;
  writeRules(path, {hostNameRule("fine", "bad", true)});
  ASSERT_TRUE(filter.loadRules(&err)) << err;
  EXPECT_EQ(decide(filter, "1.2.3.4", "bad.example"), "allow:fine");
  EXPECT_EQ(filter.ruleCount(), 1u);
}

TEST(HostFilter, ReloadOfAFileThatCannotBeReadKeepsTheRules) {
  testing::TempProgramDir dir;
  const std::string path = dir.ini("0012_hosts.ini");
  writeRules(path, {hostNameRule("blocked", "bad", false)});
  HostFilter filter(dir.ini(""), kHubNumber);

  // A folder in the file's place cannot be read, as a FIFO or a device is refused: the filter
  // must not fall open.
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  std::string err;
  EXPECT_FALSE(filter.loadRules(&err));
  EXPECT_NE(err.find(path), std::string::npos) << err;
  EXPECT_EQ(decide(filter, "1.2.3.4", "bad.example"), "refuse:blocked");
}

TEST(HostFilter, FileThatCannotBeReadAtStartRefusesEveryoneUntilAReloadReadsIt) {
  testing::TempProgramDir dir;
  const std::string path = dir.ini("0012_hosts.ini");
  std::filesystem::create_directory(path);
  HostFilter filter(dir.ini(""), kHubNumber);
  EXPECT_NE(filter.startError().find(path), std::string::npos) << filter.startError();
  EXPECT_EQ(decide(filter, "1.2.3.4", "good.example"), "refuse:");

  std::filesystem::remove(path);
  writeRules(path, {hostNameRule("blocked", "bad", false)});
  std::string err;
  ASSERT_TRUE(filter.loadRules(&err)) << err;
  EXPECT_EQ(filter.startError(), "");
  EXPECT_EQ(decide(filter, "1.2.3.4", "good.example"), "allow:");
}

TEST(HostFilter, LongSectionNamesAreCutTo255Characters) {
  const std::string name(300, 'r');
  const FilterFixture fixture({hostNameRule(name, "", false)});
  EXPECT_EQ(decide(fixture.filter, "1.2.3.4", "x"), "refuse:" + name.substr(0, 255));
}

// Checks run on connection threads while the control pipe reloads: every check sees a whole
// rule list, the old one or the new one, never a mixture or an empty list in between.
TEST(HostFilter, ChecksSeeWholeRuleListsDuringReloads) {
  testing::TempProgramDir dir;
  const std::string path = dir.ini("0012_hosts.ini");
  writeRules(path, {addressRule("deny-all", "0.0.0.0", "0.0.0.0", false),
                    addressRule("office", "192.168.1.0", "255.255.255.0", true)});
  HostFilter filter(dir.ini(""), kHubNumber);

  constexpr int kCheckers = 4;
  constexpr int kChecksPerThread = 2000;
  std::atomic<int> wrong{0};
  std::atomic<int> checkersDone{0};
  std::vector<std::thread> checkers;
  for (int t = 0; t < kCheckers; ++t) {
    checkers.emplace_back([&] {
      for (int i = 0; i < kChecksPerThread; ++i) {
        const std::optional<FilterDecision> office = filter.checkAddress({192, 168, 1, 7}, "LAN");
        const std::optional<FilterDecision> outside = filter.checkAddress({10, 0, 0, 1}, "LAN");
        if (!office || !office->allowed || office->reason != "office" || !outside ||
            outside->allowed || outside->reason != "deny-all") {
          ++wrong;
        }
      }
      ++checkersDone;
    });
  }
  int reloads = 0;
  while (checkersDone.load() < kCheckers) {
    std::string err;
    if (!filter.loadRules(&err)) {
      ADD_FAILURE() << err;
      break;
    }
    ++reloads;
  }
  for (std::thread& checker : checkers) {
    checker.join();
  }
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(reloads, 0);
}

}  // namespace
}  // namespace korvane::hub
