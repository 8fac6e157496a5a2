#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "panel/logic/DomainSplitter.h"

namespace korvane::panel {
namespace {

TEST(DomainSplitter, DialogAndArgumentTakeOneVisibleAsciiCharacter) {
  struct Case {
    bool none;
    std::u16string typed;
    std::optional<char> stored;
  };
  const Case cases[] = {
      {true, u"#", '\r'},  // "none" chosen: the typed text does not count
      {false, u"#", '#'},
      {false, u"@", '@'},
      {false, u"", std::nullopt},  // the dialog shows its warning
      {false, u" ", std::nullopt},
      {false, u"\u00e9", std::nullopt},  // a byte above ASCII would not match names
      {false, u"ab", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.typed.begin(), c.typed.end()));
    EXPECT_EQ(splitterOfDialog(c.none, c.typed), c.stored);
  }
  std::string err;
  EXPECT_EQ(splitterOfArgument("none", &err), '\r');
  EXPECT_EQ(splitterOfArgument("#", &err), '#');
  for (const char* bad : {"", "##", "\t", "\xc3\xa9"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(splitterOfArgument(bad, &err), std::nullopt);
    EXPECT_NE(err.find("visible ASCII"), std::string::npos) << err;
  }
  EXPECT_EQ(splitterText('\r'), "");
  EXPECT_EQ(splitterText('#'), "#");
}

}  // namespace
}  // namespace korvane::panel
