// When the manager sends the DNS update, on the test's clock.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "common/ManagerConfig.h"
#include "manager/DnsUpdateScheduler.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::manager {
namespace {

using namespace std::chrono_literals;

class DnsUpdateSchedulerTest : public ::testing::Test {
 protected:
  DnsUpdateSchedulerTest()
      : scheduler_(dir_.ini("Tollmar.ini"), settings(), clock_,
                   [this](const std::string& passCode) { sent_.push_back(passCode); }) {}

  DnsUpdateSettings settings() {
    DnsUpdateSettings s;
    s.logPath = dir_.log("dnsupdate.log");
    return s;
  }
  void writeConfig(const std::string& passCode, const std::string& hubName = "hub") {
    testing::writeFile(dir_.ini("Tollmar.ini"), "[SYSTEM]\r\nDNSUpdatePassCode=" + passCode +
                                                    "\r\n[0001]\r\nHubName=" + hubName + "\r\n");
  }
  void writeLog() { testing::writeFile(dir_.log("dnsupdate.log"), "last outcome"); }
  bool logExists() const { return testing::fileExists(dir_.log("dnsupdate.log")); }

  testing::TempProgramDir dir_;
  testing::ManualClock clock_;
  std::vector<std::string> sent_;
  DnsUpdateScheduler scheduler_;
};

TEST_F(DnsUpdateSchedulerTest, EveryNewVersionOfTheFileWithAPassCodeUpdatesAtOnce) {
  writeConfig("CODE1");
  writeLog();
  scheduler_.check();
  EXPECT_EQ(sent_, std::vector<std::string>{"CODE1"});
  EXPECT_FALSE(logExists());  // deleted before the update
  scheduler_.check();
  EXPECT_EQ(sent_.size(), 1u);
  // Any write counts, also one that keeps the pass code (a hub's name, say).
  common::ManagerConfig config(dir_.ini("Tollmar.ini"));
  ASSERT_TRUE(config.writeName(1, "renamed", nullptr));
  clock_.advance(1s);
  scheduler_.check();
  EXPECT_EQ(sent_, (std::vector<std::string>{"CODE1", "CODE1"}));
}

TEST_F(DnsUpdateSchedulerTest, AnUnchangedPassCodeIsSentAgainEverySixtySeconds) {
  writeConfig("CODE1");
  scheduler_.check();
  for (int second = 1; second < 60; ++second) {
    clock_.advance(1s);
    scheduler_.check();
  }
  EXPECT_EQ(sent_.size(), 1u);
  clock_.advance(1s);
  scheduler_.check();
  EXPECT_EQ(sent_.size(), 2u);
}

TEST_F(DnsUpdateSchedulerTest, WithoutAPassCodeTheLogIsDeletedAndNothingSent) {
  writeConfig("");
  writeLog();
  scheduler_.check();
  EXPECT_FALSE(logExists());
  writeLog();
  clock_.advance(61s);
  scheduler_.check();
  EXPECT_FALSE(logExists());
  // A missing file is no pass code either, and its return counts as a change.
  std::remove(dir_.ini("Tollmar.ini").c_str());
  writeLog();
  scheduler_.check();
  EXPECT_FALSE(logExists());
  writeConfig("CODE2");
  scheduler_.check();
  EXPECT_EQ(sent_, std::vector<std::string>{"CODE2"});
}

}  // namespace
}  // namespace korvane::manager
