#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hub/DhcpBlockFlags.h"
#include "platform/ProfileFile.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

constexpr int kHubNumber = 4;

void writeFlag(const std::string& path, const std::string& section, const std::string& key,
               const std::string& value) {
  std::string err;
  ASSERT_TRUE(platform::profile::writeString(path, section, key, value, &err)) << err;
}

TEST(DhcpBlockFlags, KeysNameTheDomain) {
  EXPECT_EQ(blockDhcpKeyOf(0, ""), "BlockDHCP");
  EXPECT_EQ(blockDhcpKeyOf(3, "sales"), "BlockDHCP@sales");
  // A domain other than the global one never reads the global domain's key, not even when its
  // text is empty or is the panel's name of the global domain.
  EXPECT_EQ(blockDhcpKeyOf(1, ""), "BlockDHCP@");
  EXPECT_EQ(blockDhcpKeyOf(2, "-Global-"), "BlockDHCP@-Global-");
}

TEST(DhcpBlockFlags, FlagIsSetOnlyByExactlyOne) {
  struct Row {
    std::string value;
    int expected;
  };
  const Row rows[] = {
      {"1", 1},   {" 1 ", 1}, {"\"1\"", 1}, {"0", 0}, {"01", 0},
      {"1.0", 0}, {"2", 0},   {"yes", 0},   {"", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    testing::TempProgramDir dir;
    const std::string path = dir.ini("Tollmar.ini");
    writeFlag(path, "0004", "BlockDHCP", row.value);
    writeFlag(path, "0004", "BlockDHCP@sales", row.value);
    const std::vector<std::u16string> domains = {u"", u"sales"};
    const BlockFlags flags = readBlockFlags(path, kHubNumber, domains);
    EXPECT_EQ(flags[0], row.expected);
    EXPECT_EQ(flags[1], row.expected);
  }
}

TEST(DhcpBlockFlags, EachDomainReadsItsOwnKeyOfItsOwnHub) {
  testing::TempProgramDir dir;
  const std::string path = dir.ini("Tollmar.ini");
  writeFlag(path, "0004", "BlockDHCP", "0");
  writeFlag(path, "0004", "BlockDHCP@sales", "1");
  writeFlag(path, "0004", "BlockDHCP@", "1");
  writeFlag(path, "0005", "BlockDHCP", "1");
  writeFlag(path, "0005", "BlockDHCP@lab", "1");
  const std::vector<std::u16string> domains = {
      u"ignored", u"sales", u"lab", u"", u"caf\u00e9", std::u16string(1, char16_t{0xDC00})};
  writeFlag(path, "0004", "BlockDHCP@caf\xc3\xa9", "1");
  const BlockFlags flags = readBlockFlags(path, kHubNumber, domains);
  EXPECT_EQ(flags[0], 0);
  EXPECT_EQ(flags[1], 1);
  EXPECT_EQ(flags[2], 0) << "another hub's key";
  EXPECT_EQ(flags[3], 1) << "a domain with an empty text has the key BlockDHCP@";
  EXPECT_EQ(flags[4], 1);
  EXPECT_EQ(flags[5], 0) << "no key for a text with an unpaired surrogate";
  EXPECT_EQ(flags[6], 0) << "beyond the domains";

  testing::TempProgramDir empty;
  EXPECT_EQ(readBlockFlags(empty.ini("Tollmar.ini"), kHubNumber, domains), BlockFlags{});
  EXPECT_EQ(readBlockFlags(path, 5, {}), (BlockFlags{1}));
}

TEST(DhcpBlockFlags, OnlyTheFirstThousandDomainsHaveFlags) {
  testing::TempProgramDir dir;
  const std::string path = dir.ini("Tollmar.ini");
  std::vector<std::u16string> domains(kMaxDomains + 5);
  for (std::size_t i = 1; i < domains.size(); ++i) {
    const std::string name = "d" + std::to_string(i);
    domains[i] = std::u16string(name.begin(), name.end());
  }
  writeFlag(path, "0004", "BlockDHCP@d999", "1");
  writeFlag(path, "0004", "BlockDHCP@d1000", "1");
  const BlockFlags flags = readBlockFlags(path, kHubNumber, domains);
  EXPECT_EQ(flags[999], 1);
  EXPECT_EQ(flags.size(), 1000u);
}

}  // namespace
}  // namespace korvane::hub
