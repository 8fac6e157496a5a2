#include <gtest/gtest.h>

#include <string>

#include "panel/logic/HubSettingsForm.h"
#include "panel/logic/HubSettingsText.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::panel {
namespace {

TEST(HubSettingsForm, DhcpOptionsEnableTheirControls) {
  EXPECT_TRUE(dhcpControlStates(DhcpMode::kService).range);
  EXPECT_TRUE(dhcpControlStates(DhcpMode::kService).key);
  EXPECT_FALSE(dhcpControlStates(DhcpMode::kBlocking).range);
  EXPECT_TRUE(dhcpControlStates(DhcpMode::kBlocking).key);
  EXPECT_FALSE(dhcpControlStates(DhcpMode::kNone).range);
  EXPECT_FALSE(dhcpControlStates(DhcpMode::kNone).key);
}

TEST(HubSettingsForm, LeaseTimeSplitsAndSums) {
  const struct {
    int seconds;
    LeaseTime time;
  } rows[] = {
      {93780, {1, 2, 3}},
      {259200, {3, 0, 0}},
      {86399, {0, 23, 59}},
      {59, {0, 0, 0}},  // below a minute: nothing to show
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.seconds);
    const LeaseTime split = splitLeaseTime(row.seconds);
    EXPECT_EQ(split.days, row.time.days);
    EXPECT_EQ(split.hours, row.time.hours);
    EXPECT_EQ(split.minutes, row.time.minutes);
  }
  EXPECT_EQ(leaseSeconds({1, 2, 3}), 93780);
  EXPECT_EQ(leaseSeconds({999, 23, 59}), 999 * 86400 + 86340);
}

TEST(HubSettingsForm, ClassfulMaskFollowsTheFirstNumber) {
  const struct {
    const char* lower;
    std::optional<std::string> mask;
  } rows[] = {
      {"10.1.2.3", "255.0.0.0"},
      {"127.0.0.1", "255.0.0.0"},
      {"128.0.0.1", "255.255.0.0"},
      {"172.16.0.1", "255.255.0.0"},
      {"192.168.0.1", "255.255.255.0"},
      {"223.1.1.1", "255.255.255.0"},
      // Multicast and above, and texts without a leading number, leave the mask alone.
      {"224.0.0.1", std::nullopt},
      {"", std::nullopt},
      {".1.2.3", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.lower);
    EXPECT_EQ(classfulMask(row.lower), row.mask);
  }
}

TEST(HubSettingsForm, NumberFieldsAreClampedOnLeaving) {
  EXPECT_EQ(clampedNumberText("24", kMaxLeaseHours), "23");
  EXPECT_EQ(clampedNumberText("23", kMaxLeaseHours), "23");
  EXPECT_EQ(clampedNumberText("60", kMaxLeaseMinutes), "59");
  EXPECT_EQ(clampedNumberText("07", kMaxLeaseMinutes), "07");
  EXPECT_EQ(clampedNumberText("", kMaxLeaseMinutes), "");
  EXPECT_EQ(clampedNumberText("999", kMaxLogMonths), "120");
}

TEST(HubSettingsForm, KeyFieldReadings) {
  common::NetworkKey key{};
  EXPECT_EQ(readKeyEntry("", &key), KeyEntry::kNone);
  EXPECT_EQ(readKeyEntry(kForbiddenKeyText, &key), KeyEntry::kKeep);
  ASSERT_EQ(readKeyEntry("00112233445566778899AABBCCDDEEFF", &key), KeyEntry::kNewKey);
  EXPECT_EQ(key[0], 0x00);
  EXPECT_EQ(key[9], 0x99);
  EXPECT_EQ(key[15], 0xFF);
  const char* refused[] = {
      "00112233445566778899AABBCCDDEEF",    // 31 digits
      "00112233445566778899AABBCCDDEEFF0",  // 33 digits
      "00112233445566778899aabbccddeeff",   // lower case
      "00112233445566778899AABBCCDDEEFG",   // not a digit
      "<Forbidden>",                        // the placeholder without its leading space
  };
  for (const char* text : refused) {
    SCOPED_TRACE(text);
    EXPECT_EQ(readKeyEntry(text, &key), KeyEntry::kInvalid);
  }
}

TEST(HubSettingsForm, KeyGeneratorGivesTheUpperCaseDigest) {
  // RFC 1321's test suite.
  EXPECT_EQ(keyFromPhrase(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(keyFromPhrase("abc"), "900150983CD24FB0D6963F7D28E17F72");
}

class HubSettingsRefusal : public ::testing::Test {
 protected:
  HubSettingsRefusal() {
    korvane::testing::writeFile(
        dir_.ini("Tollmar.ini"),
        "[0001]\r\nHubName=one\r\nPortNo=0\r\n[0002]\r\nHubName=two\r\nPortNo=7000\r\n"
        "[0003]\r\nHubName=three\r\nPortNo=0\r\n");
  }

  static HubSettingsForm validForm() {
    HubSettingsForm form;
    form.name = "one";
    form.port = "0";
    form.maxConnections = "512";
    form.lowerAddress = "192.168.200.1";
    form.upperAddress = "192.168.200.254";
    form.subnetMask = "255.255.255.0";
    return form;
  }

  korvane::testing::TempProgramDir dir_;
  korvane::testing::ManualClock clock_;
  common::ManagerConfig config_{dir_.ini("Tollmar.ini"), clock_};
};

TEST_F(HubSettingsRefusal, ChecksComeInTheirOrder) {
  using Change = void (*)(HubSettingsForm&);
  const struct {
    const char* what;
    Change change;
    std::optional<int> refusal;
  } rows[] = {
      {"valid", [](HubSettingsForm&) {}, std::nullopt},
      {"max 0", [](HubSettingsForm& f) { f.maxConnections = "0"; }, text::kBadMaxConnections},
      {"max empty", [](HubSettingsForm& f) { f.maxConnections = ""; }, text::kBadMaxConnections},
      {"max 513", [](HubSettingsForm& f) { f.maxConnections = "513"; }, text::kBadMaxConnections},
      {"max 1", [](HubSettingsForm& f) { f.maxConnections = "1"; }, std::nullopt},
      {"key 31", [](HubSettingsForm& f) { f.key = "0123456789ABCDEF0123456789ABCDE"; },
       text::kBadKey},
      {"key lower", [](HubSettingsForm& f) { f.key = "0123456789abcdef0123456789ABCDEF"; },
       text::kBadKey},
      {"key kept", [](HubSettingsForm& f) { f.key = std::string(kForbiddenKeyText); },
       std::nullopt},
      {"name taken", [](HubSettingsForm& f) { f.name = "two"; }, text::kHubNameTaken},
      {"port 0 twice", [](HubSettingsForm& f) { f.port = "0"; }, std::nullopt},
      {"port taken", [](HubSettingsForm& f) { f.port = "7000"; }, text::kHubPortTaken},
      {"port free", [](HubSettingsForm& f) { f.port = "7001"; }, std::nullopt},
      {"port too high", [](HubSettingsForm& f) { f.port = "65536"; }, text::kBadPortNumber},
      {"lower", [](HubSettingsForm& f) { f.lowerAddress = "192.168.200"; }, text::kBadLowerAddress},
      {"upper", [](HubSettingsForm& f) { f.upperAddress = "192.168.256.1"; },
       text::kBadUpperAddress},
      {"mask", [](HubSettingsForm& f) { f.subnetMask = "255.255.255.0.0"; }, text::kBadSubnetMask},
      {"range checked without service",
       [](HubSettingsForm& f) {
         f.dhcpMode = DhcpMode::kNone;
         f.upperAddress = "x";
       },
       text::kBadUpperAddress},
      // The earlier check wins.
      {"max 0 before key",
       [](HubSettingsForm& f) {
         f.maxConnections = "0";
         f.key = "x";
       },
       text::kBadMaxConnections},
      {"key before name",
       [](HubSettingsForm& f) {
         f.key = "x";
         f.name = "two";
       },
       text::kBadKey},
      {"name before port",
       [](HubSettingsForm& f) {
         f.name = "two";
         f.port = "7000";
       },
       text::kHubNameTaken},
      {"port before mask",
       [](HubSettingsForm& f) {
         f.port = "7000";
         f.subnetMask = "";
       },
       text::kHubPortTaken},
      {"addresses before max 513",
       [](HubSettingsForm& f) {
         f.maxConnections = "513";
         f.lowerAddress = "";
       },
       text::kBadLowerAddress},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    HubSettingsForm form = validForm();
    row.change(form);
    EXPECT_EQ(firstRefusal(form, 1, config_), row.refusal);
  }
}

}  // namespace
}  // namespace korvane::panel
