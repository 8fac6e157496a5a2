#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hub/DhcpLeases.h"
#include "tests/hub/DhcpTestFrames.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

using testframes::ip;
using testframes::station;

constexpr DhcpPool kPool = {ip(10, 0, 0, 10), ip(10, 0, 0, 20)};
constexpr std::int64_t kNow = 1'700'000'000;
constexpr std::int64_t kLeaseTime = 3600;
/// 2100-01-01 00:00 UTC, well beyond what a 32-bit time can hold.
constexpr std::int64_t kYear2100 = 4'102'444'800;

/// A lease writer without its thread: a test writes the marked files with flush().
class Writer {
 public:
  Writer() : writer(std::make_shared<LeaseWriter>([](std::string_view) {}, clock)) {}

  testing::ManualClock clock;
  std::shared_ptr<LeaseWriter> writer;
};

std::vector<DhcpLease> loaded(const std::string& path) {
  DhcpLeases leases(path, nullptr);
  std::string err;
  EXPECT_TRUE(leases.load(&err)) << err;
  return leases.leases();
}

TEST(DhcpLeases, SavedFileHoldsTheLeasesInOrder) {
  testing::TempProgramDir dir;
  const std::string path = dir.ini("0001__dhcp.leases");
  Writer writer;
  DhcpLeases leases(path, writer.writer);
  ASSERT_EQ(leases.allocate(station(0xAB), "pc one", kPool, kNow, kLeaseTime), kPool.lower);
  ASSERT_EQ(leases.allocate(station(2), "", kPool, kNow, kLeaseTime), kPool.lower + 1);
  EXPECT_FALSE(testing::fileExists(path)) << "written by the writer, not by the change";
  writer.writer->flush();
  EXPECT_EQ(testing::readFile(path),
            "[DHCP_ENTRY_1]\r\n"
            "LeaseExpireTime=1700003600\r\n"
            "MacAddress=5254001234AB\r\n"
            "HostName=pc one\r\n"
            "IPAddress=10.0.0.10\r\n"
            "[DHCP_ENTRY_2]\r\n"
            "LeaseExpireTime=1700003600\r\n"
            "MacAddress=525400123402\r\n"
            "HostName=\r\n"
            "IPAddress=10.0.0.11\r\n");
}

TEST(DhcpLeases, ReleaseRenumbersTheFileWithoutLeftovers) {
  testing::TempProgramDir dir;
  const std::string path = dir.ini("0001_sales_dhcp.leases");
  Writer writer;
  DhcpLeases leases(path, writer.writer);
  for (std::uint8_t n = 1; n <= 3; ++n) {
    ASSERT_TRUE(leases.allocate(station(n), "pc", kPool, kNow, kLeaseTime));
  }
  ASSERT_TRUE(leases.release(kPool.lower + 1, station(2), kPool));
  writer.writer->flush();
  const std::string text = testing::readFile(path);
  EXPECT_NE(text.find("[DHCP_ENTRY_1]"), std::string::npos);
  EXPECT_NE(text.find("[DHCP_ENTRY_2]"), std::string::npos);
  EXPECT_EQ(text.find("[DHCP_ENTRY_3]"), std::string::npos);
  EXPECT_EQ(text.find("10.0.0.11"), std::string::npos);
  const std::vector<DhcpLease> reread = loaded(path);
  ASSERT_EQ(reread.size(), 2u);
  EXPECT_EQ(reread, leases.leases());
  EXPECT_EQ(reread[1].address, kPool.lower + 2);

  // Down to no lease at all, the file holds nothing.
  ASSERT_TRUE(leases.release(kPool.lower, station(1), kPool));
  ASSERT_TRUE(leases.release(kPool.lower + 2, station(3), kPool));
  writer.writer->flush();
  EXPECT_EQ(testing::readFile(path), "");
  EXPECT_TRUE(loaded(path).empty());
}

TEST(DhcpLeases, ExpiryBeyond2038SurvivesSaveAndLoad) {
  testing::TempProgramDir dir;
  const std::string path = dir.ini("0001__dhcp.leases");
  Writer writer;
  DhcpLeases leases(path, writer.writer);
  ASSERT_TRUE(leases.allocate(station(1), "future", kPool, kYear2100, kLeaseTime));
  writer.writer->flush();
  const std::vector<DhcpLease> reread = loaded(path);
  ASSERT_EQ(reread.size(), 1u);
  EXPECT_EQ(reread[0].expiry, kYear2100 + kLeaseTime);
  // Still valid in 2100: another station does not get the address.
  DhcpLeases restarted(path, nullptr);
  std::string err;
  ASSERT_TRUE(restarted.load(&err)) << err;
  EXPECT_EQ(restarted.allocate(station(2), "", kPool, kYear2100 + 1, kLeaseTime), kPool.lower + 1);
}

TEST(DhcpLeases, FileWith32BitTimesStillLoads) {
  testing::TempProgramDir dir;
  const std::string path = dir.ini("0001__dhcp.leases");
  testing::writeFile(path,
                     "[DHCP_ENTRY_1]\r\n"
                     "LeaseExpireTime=2147483647\r\n"
                     "MacAddress=00155D0A0B0C\r\n"
                     "HostName=old pc\r\n"
                     "IPAddress=10.0.0.12\r\n"
                     "[DHCP_ENTRY_2]\r\n"
                     "LeaseExpireTime=-2147483648\r\n"
                     "MacAddress=00155D0A0B0D\r\n"
                     "HostName=wrapped\r\n"
                     "IPAddress=10.0.0.13\r\n");
  const std::vector<DhcpLease> leases = loaded(path);
  ASSERT_EQ(leases.size(), 2u);
  EXPECT_EQ(leases[0].expiry, 2147483647);
  EXPECT_EQ(leases[0].hardwareAddress, (MacAddress{0x00, 0x15, 0x5D, 0x0A, 0x0B, 0x0C}));
  EXPECT_EQ(leases[0].hostName, "old pc");
  EXPECT_EQ(leases[0].address, ip(10, 0, 0, 12));
  EXPECT_EQ(leases[1].expiry, -2147483648LL);
}

TEST(DhcpLeases, ValuesAreReadLeniently) {
  struct Row {
    const char* name;
    std::string section;
    DhcpLease expected;
  };
  const Row rows[] = {
      {"leading number only",
       "LeaseExpireTime= 1234abc\r\nMacAddress=0A0B0C0D0E0F\r\nHostName=h\r\nIPAddress=10.0.0.1",
       {1234, {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}, "h", ip(10, 0, 0, 1)}},
      {"no digits, lower-case and short address",
       "LeaseExpireTime=soon\r\nMacAddress=0a0B0C\r\nHostName=h\r\nIPAddress=10.1",
       {0, {0x00, 0x0B, 0x0C, 0x00, 0x00, 0x00}, "h", ip(10, 0, 0, 1)}},
      {"beyond 64 bits",
       "LeaseExpireTime=99999999999999999999\r\nMacAddress=\r\nHostName=h\r\nIPAddress=x",
       {INT64_MAX, {}, "h", 0xFFFFFFFF}},
      {"host name missing",
       "LeaseExpireTime=5\r\nMacAddress=000000000001\r\nIPAddress=10.0.0.2",
       {5, {0, 0, 0, 0, 0, 1}, "<NONE>", ip(10, 0, 0, 2)}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::TempProgramDir dir;
    const std::string path = dir.ini("0001__dhcp.leases");
    testing::writeFile(path, "[DHCP_ENTRY_1]\r\n" + row.section + "\r\n");
    const std::vector<DhcpLease> leases = loaded(path);
    ASSERT_EQ(leases.size(), 1u);
    EXPECT_EQ(leases[0], row.expected);
  }
}

TEST(DhcpLeases, ReadingStopsAtTheFirstMissingNumber) {
  const std::string entry2 =
      "[DHCP_ENTRY_2]\r\nLeaseExpireTime=1\r\nMacAddress=000000000002\r\nIPAddress=10.0.0.2\r\n";
  const std::string entry1 =
      "[DHCP_ENTRY_1]\r\nLeaseExpireTime=1\r\nMacAddress=000000000001\r\nIPAddress=10.0.0.1\r\n";
  const std::string entry3 =
      "[DHCP_ENTRY_3]\r\nLeaseExpireTime=1\r\nMacAddress=000000000003\r\nIPAddress=10.0.0.3\r\n";
  struct Row {
    const char* name;
    std::string text;
    std::size_t count;
  };
  const Row rows[] = {
      {"first section missing", entry2 + entry3, 0},
      {"gap after the first", entry1 + entry3, 1},
      {"out of order", entry2 + entry1, 2},
      {"first without its expiry", "[DHCP_ENTRY_1]\r\nMacAddress=000000000001\r\n" + entry2, 0},
      {"empty file", "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::TempProgramDir dir;
    const std::string path = dir.ini("0001__dhcp.leases");
    testing::writeFile(path, row.text);
    EXPECT_EQ(loaded(path).size(), row.count);
  }
  testing::TempProgramDir dir;
  EXPECT_TRUE(loaded(dir.ini("0001__dhcp.leases")).empty()) << "missing file";
}

TEST(DhcpLeases, LargeFileLoadsEveryLeaseInOrder) {
  // A /18 pool's worth of leases; read key by key from the top of the file, this took seconds.
  constexpr int kLeaseCount = 16'000;
  std::string text;
  for (int n = 1; n <= kLeaseCount; ++n) {
    text += "[DHCP_ENTRY_" + std::to_string(n) +
            "]\r\nLeaseExpireTime=" + std::to_string(kNow + n) + "\r\nMacAddress=5254" +
            std::to_string(10'000'000 + n) + "\r\nHostName=pc" + std::to_string(n) +
            "\r\nIPAddress=10." + std::to_string(n / 65536) + "." + std::to_string(n / 256 % 256) +
            "." + std::to_string(n % 256) + "\r\n";
  }
  testing::TempProgramDir dir;
  const std::string path = dir.ini("0001__dhcp.leases");
  testing::writeFile(path, text);
  const std::vector<DhcpLease> leases = loaded(path);
  ASSERT_EQ(leases.size(), static_cast<std::size_t>(kLeaseCount));
  for (int n : {1, 2, 255, 256, 9'999, kLeaseCount}) {
    SCOPED_TRACE(n);
    const DhcpLease& lease = leases[static_cast<std::size_t>(n - 1)];
    EXPECT_EQ(lease.expiry, kNow + n);
    EXPECT_EQ(lease.hostName, "pc" + std::to_string(n));
    EXPECT_EQ(lease.address,
              ip(10, 0, static_cast<std::uint8_t>(n / 256), static_cast<std::uint8_t>(n % 256)));
    const std::string digits = std::to_string(10'000'000 + n);
    EXPECT_EQ(lease.hardwareAddress[2], (digits[0] - '0') * 16 + (digits[1] - '0'));
    EXPECT_EQ(lease.hardwareAddress[5], (digits[6] - '0') * 16 + (digits[7] - '0'));
  }
}

TEST(DhcpLeases, HostNamesSurviveSaveAndLoad) {
  const std::string names[] = {
      "host with spaces", " leading blank",
      "trailing blank ",  "\"quoted\"",
      "'single'",         "\"",
      "a=b;c[d]",         "",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    testing::TempProgramDir dir;
    const std::string path = dir.ini("0001__dhcp.leases");
    Writer writer;
    DhcpLeases leases(path, writer.writer);
    ASSERT_TRUE(leases.allocate(station(1), name, kPool, kNow, kLeaseTime));
    writer.writer->flush();
    const std::vector<DhcpLease> reread = loaded(path);
    ASSERT_EQ(reread.size(), 1u);
    EXPECT_EQ(reread[0].hostName, name);
  }
}

TEST(DhcpLeases, CheckPassesOnlyForFreeOrOwnPoolAddresses) {
  DhcpLeases leases("", nullptr);
  ASSERT_EQ(leases.allocate(station(1), "one", kPool, kNow, kLeaseTime), kPool.lower);
  struct Row {
    const char* name;
    std::uint32_t address;
    std::uint8_t station;
    bool passes;
  };
  const Row rows[] = {
      {"own lease", kPool.lower, 1, true},
      {"another station's lease", kPool.lower, 2, false},
      {"free pool address", kPool.lower + 5, 2, true},
      {"last pool address", kPool.upper - 1, 3, true},
      {"the service's own address", kPool.upper, 3, false},
      {"below the pool", kPool.lower - 1, 3, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(leases.check(row.address, station(row.station), kPool, kNow + 10, kLeaseTime),
              row.passes);
  }
  const std::vector<DhcpLease> list = leases.leases();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].expiry, kNow + 10 + kLeaseTime) << "renewed";
  EXPECT_EQ(list[0].hostName, "one");
  EXPECT_EQ(list[1].address, kPool.lower + 5);
  EXPECT_EQ(list[1].hostName, "") << "a checked address gets a lease without a host name";
  EXPECT_EQ(leases.addressOf(station(3)), kPool.upper - 1);
}

TEST(DhcpLeases, ListWithoutPathStaysInMemory) {
  testing::TempProgramDir dir;
  DhcpLeases leases("", nullptr);
  ASSERT_TRUE(leases.allocate(station(1), "", kPool, kNow, kLeaseTime));
  std::string err;
  EXPECT_TRUE(leases.save(&err)) << err;
  EXPECT_TRUE(leases.load(&err)) << err;
  EXPECT_TRUE(leases.leases().empty()) << "nothing to load from";
}

TEST(DhcpLeases, FailedSaveKeepsTheListAndSaysWhy) {
  testing::TempProgramDir dir;
  const std::string path = dir.path() + "missing-folder/0001__dhcp.leases";
  DhcpLeases leases(path, nullptr);
  ASSERT_EQ(leases.allocate(station(1), "", kPool, kNow, kLeaseTime), kPool.lower);
  EXPECT_EQ(leases.leases().size(), 1u);
  std::string err;
  EXPECT_FALSE(leases.save(&err));
  EXPECT_NE(err.find(path), std::string::npos) << err;
}

TEST(DhcpLeases, HostNameOfReceivedBytes) {
  EXPECT_EQ(hostNameOf("plain"), "plain");
  EXPECT_EQ(hostNameOf(std::string_view("a\0b", 3)), "a");
  EXPECT_EQ(hostNameOf("tab\there"), "tab");
  EXPECT_EQ(hostNameOf("del\x7f"), "del");
  EXPECT_EQ(hostNameOf("caf\xc3\xa9"), "caf\xc3\xa9");
  EXPECT_EQ(hostNameOf(std::string(300, 'x')), std::string(255, 'x'));
}

}  // namespace
}  // namespace korvane::hub
