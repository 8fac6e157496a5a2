// kvtap's command line (in-process and as the program) and its reconnection back-off.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempProgramDir.h"
#include "tools/kvtap/KvtapOptions.h"
#include "tools/kvtap/ReconnectDelay.h"

namespace korvane::tools {
namespace {

std::string callText(const std::vector<std::string>& args) {
  std::string text = "kvtap";
  for (const auto& arg : args) {
    text += " " + arg;
  }
  return text;
}

TEST(KvtapOptions, AcceptsEveryFormOfHubAddress) {
  struct Row {
    std::string hub;
    std::string host;
    int port;
    std::string display;
  };
  const Row rows[] = {
      {"198.18.0.1:7470", "198.18.0.1", 7470, "198.18.0.1:7470"},
      {"[::1]:1", "::1", 1, "[::1]:1"},
      {"[2001:db8::7]:65535", "2001:db8::7", 65535, "[2001:db8::7]:65535"},
      {"[fe80::1%veth0]:7470", "fe80::1%veth0", 7470, "[fe80::1%veth0]:7470"},
      {"hub.example:7470", "hub.example", 7470, "hub.example:7470"},
      {"hub_1:80", "hub_1", 80, "hub_1:80"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hub);
    KvtapOptions options;
    std::string err;
    ASSERT_TRUE(parseKvtapOptions({"--hub", row.hub, "--tap", "tap0"}, {}, &options, &err)) << err;
    EXPECT_EQ(options.hubHost, row.host);
    EXPECT_EQ(options.hubPort, row.port);
    EXPECT_EQ(options.hubDisplay, row.display);
    EXPECT_EQ(options.tapName, "tap0");
    EXPECT_FALSE(options.credentials);
    EXPECT_FALSE(options.networkKey);
    EXPECT_EQ(options.keepAlive, std::chrono::seconds(10));
    EXPECT_TRUE(options.offloads);
  }
  KvtapOptions options;
  std::string err;
  ASSERT_TRUE(
      parseKvtapOptions({"--no-offloads", "--hub", "h:1", "--tap", "t"}, {}, &options, &err))
      << err;
  EXPECT_FALSE(options.offloads);
}

TEST(KvtapOptions, RefusesBadHubAddresses) {
  const char* rows[] = {// No port, or a port out of range or not a number.
                        "198.18.0.1", "198.18.0.1:", "198.18.0.1:0", "198.18.0.1:65536",
                        "198.18.0.1:74x0", "198.18.0.1:-1", "198.18.0.1: 7470",
                        // No host, or a host with characters no name or address has.
                        ":7470", "[]:7470", "hub name:7470", "hub/x:7470",
                        // An IPv6 address without brackets, or broken brackets.
                        "::1:7470", "2001:db8::7:7470", "[::1:7470", "[::1]7470",
                        "[::1]:", "[hub]:7470"};
  for (const char* hub : rows) {
    SCOPED_TRACE(hub);
    std::string host;
    int port = 0;
    std::string err;
    EXPECT_FALSE(parseHubAddress(hub, &host, &port, &err));
    EXPECT_NE(err.find(hub), std::string::npos) << err;
  }
}

TEST(KvtapOptions, TakesThePasswordFromAFileOrTheEnvironment) {
  testing::TempProgramDir dir;
  const std::string file = dir.path() + "password";
  const std::vector<std::string> base = {"--hub", "h:1", "--tap", "t", "--account", "alice"};
  struct Row {
    const char* what;
    std::string fileContent;
    bool useFile;
    std::optional<std::string> environment;
    std::string expected;
  };
  const Row rows[] = {
      {"file without line end", "s3cret", true, std::nullopt, "s3cret"},
      {"file with LF", "s3cret\n", true, std::nullopt, "s3cret"},
      {"file with CR LF", "s3cret\r\n", true, std::nullopt, "s3cret"},
      {"only one line end goes", "s3cret\n\n", true, std::nullopt, "s3cret\n"},
      {"blanks are part of it", " s3 cret ", true, std::nullopt, " s3 cret "},
      {"the file wins over the environment", "fromfile", true, "fromenv", "fromfile"},
      {"the environment", "", false, "fromenv", "fromenv"},
      {"an empty password", "", false, "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    testing::writeFile(file, row.fileContent);
    std::vector<std::string> args = base;
    if (row.useFile) {
      args.insert(args.end(), {"--password-file", file});
    }
    KvtapOptions options;
    std::string err;
    ASSERT_TRUE(parseKvtapOptions(args, {row.environment}, &options, &err)) << err;
    ASSERT_TRUE(options.credentials);
    EXPECT_EQ(options.credentials->accountName, "alice");
    EXPECT_EQ(options.credentials->password, row.expected);
  }
}

TEST(KvtapOptions, ReadsNetworkKeysInEitherCase) {
  const common::NetworkKey expected = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                       0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(parseNetworkKey("00112233445566778899AABBCCDDEEFF"), expected);
  EXPECT_EQ(parseNetworkKey("00112233445566778899aabbccddeeff"), expected);
  for (const char* bad :
       {"", "00112233445566778899AABBCCDDEEF", "00112233445566778899AABBCCDDEEFF0",
        "0x112233445566778899AABBCCDDEEFF", "00112233445566778899AABBCCDDEEFG",
        "+0112233445566778899AABBCCDDEEFF", " 0112233445566778899AABBCCDDEEFF"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(parseNetworkKey(bad));
  }
  testing::TempProgramDir dir;
  testing::writeFile(dir.path() + "key", "00112233445566778899aabbccddeeff\n");
  KvtapOptions options;
  std::string err;
  ASSERT_TRUE(parseKvtapOptions(
      {"--hub", "h:1", "--tap", "t", "--network-key-file", dir.path() + "key", "--keepalive", "19"},
      {}, &options, &err))
      << err;
  EXPECT_EQ(options.networkKey, expected);
  EXPECT_EQ(options.keepAlive, std::chrono::seconds(19));
}

// Every refusal is one line on standard error and status 2, before any device is touched, and
// never shows a secret.
TEST(Kvtap, RefusesBadOptionsWithOneLineAndStatusTwo) {
  testing::TempProgramDir dir;
  const std::string missing = dir.path() + "no-such-file";
  const std::string hub = "198.18.0.1:7470";
  struct Row {
    std::vector<std::string> args;
    std::string message;
  };
  const Row rows[] = {
      {{}, "kvtap: --hub HOST:PORT is required; see kvtap --help\n"},
      {{"--tap", "tap0"}, "kvtap: --hub HOST:PORT is required; see kvtap --help\n"},
      {{"--hub", hub}, "kvtap: --tap NAME is required; see kvtap --help\n"},
      {{"--hub", hub, "--tap"}, "kvtap: option --tap needs a value\n"},
      {{"--hub", hub, "--tap", "sixteen-letters1"},
       "kvtap: --tap 'sixteen-letters1' is no interface name: 1 to 15 characters, no '/', ':' or "
       "blanks\n"},
      {{"--hub", hub, "--tap", "a/b"},
       "kvtap: --tap 'a/b' is no interface name: 1 to 15 characters, no '/', ':' or blanks\n"},
      {{"--hub", hub, "--tap", ""},
       "kvtap: --tap '' is no interface name: 1 to 15 characters, no '/', ':' or blanks\n"},
      {{"--hub", hub, "--tap", "tap0", "--verbose"},
       "kvtap: unknown option --verbose; see kvtap --help\n"},
      {{"--hub", hub, "--tap", "tap0", "extra"}, "kvtap: unknown option extra; see kvtap --help\n"},
      {{"--hub", hub, "--tap", "tap0", "--password", "s3cret"},
       "kvtap: unknown option --password; see kvtap --help\n"},
      {{"--hub", "198.18.0.1", "--tap", "tap0"},
       "kvtap: --hub '198.18.0.1' must be HOST:PORT, with an IPv6 address in brackets\n"},
      {{"--hub", "198.18.0.1:99999", "--tap", "tap0"},
       "kvtap: --hub '198.18.0.1:99999': the port must be a whole number from 1 to 65535\n"},
      {{"--hub", "::1:7470", "--tap", "tap0"},
       "kvtap: --hub '::1:7470' must be HOST:PORT, with an IPv6 address in brackets\n"},
      {{"--hub", hub, "--tap", "tap0", "--account", "alice"},
       "kvtap: --account needs a password: --password-file FILE or the variable KVTAP_PASSWORD\n"},
      {{"--hub", hub, "--tap", "tap0", "--account", "alice", "--password-file", missing},
       "kvtap: --password-file " + missing + ": no such file\n"},
      {{"--hub", hub, "--tap", "tap0", "--password-file", missing},
       "kvtap: --password-file needs --account\n"},
      {{"--hub", hub, "--tap", "tap0", "--network-key", "00112233445566778899AABBCCDDEEFG"},
       "kvtap: the network key must be 32 hexadecimal digits\n"},
      {{"--hub", hub, "--tap", "tap0", "--network-key", "00112233445566778899AABBCCDDEEFF",
        "--network-key-file", missing},
       "kvtap: give --network-key or --network-key-file, not both\n"},
      {{"--hub", hub, "--tap", "tap0", "--keepalive", "20"},
       "kvtap: --keepalive must be a whole number of seconds from 1 to 19, not '20'\n"},
      {{"--hub", hub, "--tap", "tap0", "--keepalive", "0"},
       "kvtap: --keepalive must be a whole number of seconds from 1 to 19, not '0'\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(callText(row.args));
    const auto result = testing::runProgram(testing::builtProgram("kvtap"), row.args, dir.path());
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, row.message);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.find("s3cret"), std::string::npos);
    EXPECT_EQ(result.err.find("EEFG"), std::string::npos) << "a key is never repeated";
  }
}

TEST(Kvtap, HelpPrintsUsage) {
  testing::TempProgramDir dir;
  const auto result = testing::runProgram(testing::builtProgram("kvtap"), {"--help"}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("usage: kvtap --hub HOST:PORT --tap NAME", 0), 0u) << result.out;
  EXPECT_EQ(result.err, "");
}

TEST(ReconnectDelay, DoublesUpToItsBoundWithinTheUpperHalf) {
  ReconnectDelay delay(std::chrono::milliseconds(1000), std::chrono::milliseconds(8000));
  struct Row {
    std::uint32_t random;
    long long expected;  // ms
  };
  const Row rows[] = {
      {0, 500},            // base 1000: the lowest wait is half the base
      {500, 1500},         // base 2000: 1000 + 500 % 1001
      {0xFFFFFFFF, 2885},  // base 4000: 2000 + 4294967295 % 2001 = 2000 + 885
      {2000, 6000},        // base 8000, the bound: 4000 + 2000
      {4000, 8000},        // still 8000: the highest wait is the base itself
      {4001, 4000},        // 4001 % 4001 = 0 wraps to the lowest
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.random);
    EXPECT_EQ(delay.next(row.random).count(), row.expected);
  }
  delay.reset();
  EXPECT_EQ(delay.next(0).count(), 500);
}

TEST(ReconnectDelay, StaysWithinItsBoundForAnyRandomNumber) {
  ReconnectDelay delay;
  for (std::uint32_t i = 0; i < 64; ++i) {
    const auto wait = delay.next(i * 2654435761u);
    EXPECT_GE(wait, kFirstReconnectDelay / 2);
    EXPECT_LE(wait, kLongestReconnectDelay);
  }
}

}  // namespace
}  // namespace korvane::tools
