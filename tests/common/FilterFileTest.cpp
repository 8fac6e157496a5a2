#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/FilterFile.h"

namespace korvane::common {
namespace {

FilterRule addressRule(std::string name, Ipv4Address address, Ipv4Address mask, bool allow) {
  return {.name = std::move(name),
          .kind = FilterRuleKind::kAddress,
          .hostName = {},
          .address = address,
          .mask = mask,
          .allow = allow};
}

FilterRule hostRule(std::string name, std::string hostName, bool allow) {
  return {.name = std::move(name),
          .kind = FilterRuleKind::kHostName,
          .hostName = std::move(hostName),
          .address = {},
          .mask = {},
          .allow = allow};
}

std::vector<std::string> namesOf(const std::vector<FilterRule>& rules) {
  std::vector<std::string> names;
  for (const FilterRule& rule : rules) {
    names.push_back(rule.name);
  }
  return names;
}

TEST(FilterFile, WrittenRulesReadBackAsThemselves) {
  const std::vector<FilterRule> rules = {
      addressRule("office", {192, 168, 1, 0}, {255, 255, 255, 0}, true),
      hostRule("bad guys", "example", false),
      hostRule(std::string(128, 'n'), "\xC3\xA9t\xC3\xA9 h=st", true),
      addressRule("deny-all", {0, 0, 0, 0}, {0, 0, 0, 0}, false),
  };
  const std::string text = formatFilterFile(rules);
  EXPECT_TRUE(
      text.starts_with("[office]\r\nIPADDRESS=192.168.1.0\r\nMASK=255.255.255.0\r\nALLOW=TRUE\r\n"
                       "[bad guys]\r\nHOSTNAME=example\r\nALLOW=FALSE\r\n"))
      << text;
  EXPECT_EQ(parseFilterFile(text), rules);
  EXPECT_EQ(formatFilterFile({}), "");
  EXPECT_TRUE(parseFilterFile("").empty());
}

TEST(FilterFile, ReadsHandWrittenFilesAsTheHubDoes) {
  const std::vector<FilterRule> rules = parseFilterFile(
      "[lenient]\r\nIPADDRESS=192.168..1\r\nMASK=255.255.255.255\r\nALLOW=TRUE\r\n"
      "[bad address]\r\nIPADDRESS=192.168.1.256\r\nMASK=255.255.255.0\r\nALLOW=TRUE\r\n"
      "[no mask]\r\nIPADDRESS=10.0.0.0\r\nALLOW=TRUE\r\n"
      "[no allow]\r\nHOSTNAME=x\r\n"
      "[nothing]\r\nALLOW=TRUE\r\n"
      "[lower case]\r\nHOSTNAME=y\r\nALLOW=true\r\n"
      "[both]\r\nHOSTNAME=z\r\nIPADDRESS=1.2.3.4\r\nMASK=255.0.0.0\r\nALLOW=TRUE\r\n");
  ASSERT_EQ(namesOf(rules), (std::vector<std::string>{"lenient", "lower case", "both"}));
  EXPECT_EQ(rules[0].address, (Ipv4Address{192, 168, 0, 1}));
  EXPECT_FALSE(rules[1].allow);
  EXPECT_EQ(rules[2].kind, FilterRuleKind::kAddress);
  EXPECT_EQ(formatFilterFile(rules),
            "[lenient]\r\nIPADDRESS=192.168.0.1\r\nMASK=255.255.255.255\r\nALLOW=TRUE\r\n"
            "[lower case]\r\nHOSTNAME=y\r\nALLOW=FALSE\r\n"
            "[both]\r\nIPADDRESS=1.2.3.4\r\nMASK=255.0.0.0\r\nALLOW=TRUE\r\n");
}

TEST(FilterFile, LongNamesAndHostNamesAreCutToTheirBuffers) {
  const std::vector<FilterRule> rules =
      parseFilterFile("[" + std::string(300, 'r') + "]\r\nHOSTNAME=" + std::string(300, 'h') +
                      "\r\nALLOW=TRUE\r\n");
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].name, std::string(255, 'r'));
  EXPECT_EQ(rules[0].hostName, std::string(255, 'h'));
}

}  // namespace
}  // namespace korvane::common
