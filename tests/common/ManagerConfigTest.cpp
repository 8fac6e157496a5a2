#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/HubSettings.h"
#include "common/ManagerConfig.h"
#include "common/ManagerHubList.h"
#include "tests/common/ManagerPipeStub.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::common {
namespace {

using korvane::testing::fileExists;
using korvane::testing::ManagerPipeStub;
using korvane::testing::ManualClock;
using korvane::testing::readFile;
using korvane::testing::TempProgramDir;
using korvane::testing::writeFile;

/// A manager configuration file in a program directory of the test's own, which is also where
/// reload requests go (to nobody, unless the test starts a ManagerPipeStub).
struct ConfigFile {
  explicit ConfigFile(const std::string& initial = "") {
    dir.useForThisProcess();
    if (!initial.empty()) {
      writeFile(path, initial);
    }
  }
  std::string content() const { return readFile(path); }

  TempProgramDir dir;
  ManualClock clock;
  std::string path = dir.ini("Tollmar.ini");
  ManagerConfig config{path, clock};
};

std::string hubSection(int number, const std::string& lines = "") {
  char header[16];
  std::snprintf(header, sizeof header, "[%04d]\r\n", number);
  return header + lines;
}

// --- Listing -------------------------------------------------------------------------------

TEST(ManagerConfig, ListsHubSectionsInFileOrder) {
  struct Row {
    const char* name;
    std::string content;  // empty: no file
    std::vector<int> expected;
  };
  const Row rows[] = {
      {"system sections are skipped",
       "[SYSTEM]\r\nDomainSplitter=@\r\n[0003]\r\nHubName=C\r\n[FIREWALL]\r\nAutoSetting=on\r\n"
       "[0001]\r\nHubName=A\r\n",
       {3, 1}},
      {"missing file", "", {}},
      {"file without sections", "\r\n", {}},
      {"number 0 is no hub", "[0000]\r\n[0002]\r\n", {2}},
      {"leading digits count", "[12abc]\r\n", {12}},
      {"no leading digits", "[abc12]\r\n", {}},
      {"negative", "[-3]\r\n", {}},
      {"five digits", "[10000]\r\n", {10000}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ConfigFile file(row.content);
    EXPECT_EQ(file.config.listHubs(), row.expected);
  }
}

TEST(ManagerConfig, ListingStopsAtCapacity) {
  ConfigFile file(hubSection(5) + hubSection(2) + hubSection(9));
  EXPECT_EQ(file.config.listHubs(2), (std::vector<int>{5, 2}));
  EXPECT_TRUE(file.config.listHubs(0).empty());
}

// --- Creating and deleting hubs ------------------------------------------------------------

TEST(ManagerConfig, CreateTakesLowestFreeNumber) {
  const std::string before = "[SYSTEM]\r\nDomainSplitter=@\r\n" + hubSection(1, "HubName=A\r\n") +
                             hubSection(2, "HubName=B\r\n") + hubSection(4, "HubName=D\r\n");
  ConfigFile file(before);
  std::string err;
  EXPECT_EQ(file.config.createHub("Gamma", &err), 3) << err;
  EXPECT_EQ(file.content(),
            before + "[0003]\r\nHubName=Gamma\r\nStatus=OFF\r\nPortNo=0\r\nAuthFlag=0\r\n");
}

TEST(ManagerConfig, CreateOnMissingFileMakesHubOne) {
  ConfigFile file;
  std::string err;
  EXPECT_EQ(file.config.createHub("First hub", &err), 1) << err;
  EXPECT_EQ(file.content(),
            "[0001]\r\nHubName=First hub\r\nStatus=OFF\r\nPortNo=0\r\nAuthFlag=0\r\n");
  // Every other key reads its default.
  EXPECT_EQ(file.config.readStatus(1), false);
  EXPECT_EQ(file.config.readMaxConnections(1), 512);
  EXPECT_EQ(file.config.readLogRetention(1).months, 1);
}

TEST(ManagerConfig, CreateIsRefusedBeyond33Hubs) {
  struct Row {
    int existing;
    int expected;
  };
  const Row rows[] = {{31, 32}, {32, 33}, {33, 0}, {40, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.existing) + " hubs exist");
    std::string before;
    for (int number = 1; number <= row.existing; ++number) {
      before += hubSection(number, "HubName=x\r\n");
    }
    ConfigFile file(before);
    std::string err;
    EXPECT_EQ(file.config.createHub("new", &err), row.expected);
    if (row.expected == 0) {
      EXPECT_FALSE(err.empty());
      EXPECT_EQ(file.content(), before);
    }
  }
}

TEST(ManagerConfig, CreateRefusesNameThatBreaksTheFile) {
  const char* names[] = {"a\r\n[0002]\r\nStatus=ON", "line\nfeed", "carriage\rreturn"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    ConfigFile file(hubSection(1, "HubName=x\r\n"));
    std::string err;
    EXPECT_EQ(file.config.createHub(name, &err), 0);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(file.content(), hubSection(1, "HubName=x\r\n"));
  }
}

TEST(ManagerConfig, CreatorsAtTheSameTimeTakeDifferentNumbers) {
  ConfigFile file;
  constexpr int kHubsEach = 10;
  std::vector<int> first;
  std::vector<int> second;
  const auto create = [&](const std::string& prefix, std::vector<int>* numbers) {
    ManagerConfig config(file.path, file.clock);
    for (int i = 0; i < kHubsEach; ++i) {
      std::string err;
      numbers->push_back(config.createHub(prefix + std::to_string(i), &err));
    }
  };
  std::thread other(create, "first", &first);
  create("second", &second);
  other.join();

  std::vector<int> all = first;
  all.insert(all.end(), second.begin(), second.end());
  std::sort(all.begin(), all.end());
  std::vector<int> expected(2 * kHubsEach);
  std::iota(expected.begin(), expected.end(), 1);
  EXPECT_EQ(all, expected);
  // Every section is whole: the four keys of a new hub, in order.
  for (const int hub : all) {
    SCOPED_TRACE(hub);
    EXPECT_EQ(file.config.readStatus(hub), false);
    EXPECT_NE(
        file.content().find(hubSection(hub, "HubName=" + file.config.readName(hub) +
                                                "\r\nStatus=OFF\r\nPortNo=0\r\nAuthFlag=0\r\n")),
        std::string::npos);
  }
}

TEST(ManagerConfig, CreateAsksManagerToReload) {
  ConfigFile file;
  ManagerPipeStub manager;
  ASSERT_TRUE(manager.running()) << manager.error();
  std::string err;
  EXPECT_EQ(file.config.createHub("one", &err), 1) << err;
  EXPECT_EQ(manager.requests(), 1);
}

TEST(ManagerConfig, FailedCreateDoesNotAskManager) {
  ConfigFile file;
  ManagerPipeStub manager;
  ASSERT_TRUE(manager.running()) << manager.error();
  ManagerConfig nowhere(file.dir.path() + "missing-folder/Tollmar.ini", file.clock);
  std::string err;
  EXPECT_EQ(nowhere.createHub("one", &err), 0);
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(manager.requests(), 0);
}

TEST(ManagerConfig, CreateWorksWithoutManager) {
  ConfigFile file;
  std::string err;
  EXPECT_EQ(file.config.createHub("one", &err), 1) << err;
  EXPECT_EQ(file.config.listHubs(), std::vector<int>{1});
}

TEST(ManagerConfig, DeleteRemovesSectionAndEveryFileOfTheHub) {
  ConfigFile file(hubSection(1, "HubName=A\r\n") + hubSection(3, "HubName=C\r\nPortNo=5\r\n") +
                  "[SYSTEM]\r\nDomainSplitter=@\r\n");
  // The next hub created takes number 3 again: nothing of the deleted one may be left for it.
  const char* deleted[] = {"0003_dhcp.ini",     "0003_hosts.ini",       "0003_account.ini",
                           "0003__dhcp.leases", "0003_lab_dhcp.leases", "0003_a_b_dhcp.leases"};
  const char* kept[] = {"0001_dhcp.ini",       "0001_hosts.ini", "0001_account.ini",
                        "0001__dhcp.leases",   "0003_notes.txt", "00031_dhcp.leases",
                        "0003_dhcp.leases.old"};
  for (const char* name : deleted) {
    writeFile(file.dir.ini(name), "[x]\r\n");
  }
  for (const char* name : kept) {
    writeFile(file.dir.ini(name), "[x]\r\n");
  }
  ManagerPipeStub manager;
  ASSERT_TRUE(manager.running()) << manager.error();

  std::string err;
  EXPECT_TRUE(file.config.deleteHub(3, &err)) << err;

  EXPECT_EQ(file.content(), hubSection(1, "HubName=A\r\n") + "[SYSTEM]\r\nDomainSplitter=@\r\n");
  for (const char* name : deleted) {
    EXPECT_FALSE(fileExists(file.dir.ini(name))) << name;
  }
  for (const char* name : kept) {
    EXPECT_TRUE(fileExists(file.dir.ini(name))) << name;
  }
  EXPECT_EQ(manager.requests(), 1);
}

TEST(ManagerConfig, DeleteRefusesAHubSwitchedOn) {
  // Its process would write its leases again after they were deleted.
  const std::string before = hubSection(2, "HubName=B\r\nStatus=ON\r\n");
  ConfigFile file(before);
  writeFile(file.dir.ini("0002_account.ini"), "[x]\r\n");
  std::string err;
  EXPECT_FALSE(file.config.deleteHub(2, &err));
  EXPECT_NE(err.find("switched on"), std::string::npos) << err;
  EXPECT_EQ(file.content(), before);
  EXPECT_TRUE(fileExists(file.dir.ini("0002_account.ini")));
}

TEST(ManagerConfig, DeleteWithoutHubFilesSucceeds) {
  ConfigFile file(hubSection(2, "HubName=B\r\n"));
  std::string err;
  EXPECT_TRUE(file.config.deleteHub(2, &err)) << err;
  EXPECT_TRUE(file.config.listHubs().empty());
}

TEST(ManagerConfig, DeleteOfUnlistedHubChangesNothing) {
  const std::string before = hubSection(1, "HubName=A\r\n");
  ConfigFile file(before);
  writeFile(file.dir.ini("0002_dhcp.ini"), "[x]\r\n");
  ManagerPipeStub manager;
  ASSERT_TRUE(manager.running()) << manager.error();

  std::string err;
  EXPECT_FALSE(file.config.deleteHub(2, &err));
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(file.content(), before);
  EXPECT_TRUE(fileExists(file.dir.ini("0002_dhcp.ini")));
  EXPECT_EQ(manager.requests(), 0);
}

// --- Starting and stopping -----------------------------------------------------------------

TEST(ManagerConfig, StartAndStopSwitchStatusAndAskManager) {
  ConfigFile file(hubSection(4, "HubName=D\r\nStatus=OFF\r\nPortNo=7000\r\n"));
  ManagerPipeStub manager;
  ASSERT_TRUE(manager.running()) << manager.error();
  std::string err;

  const platform::Tick atStart = file.clock.tickCount();
  EXPECT_TRUE(file.config.startHub(4, &err)) << err;
  EXPECT_EQ(file.content(), hubSection(4, "HubName=D\r\nStatus=ON\r\nPortNo=7000\r\n"));
  EXPECT_EQ(manager.requests(), 1);
  EXPECT_EQ(file.clock.tickCount(), atStart) << "starting does not wait";

  // Already on: nothing is written and the manager is not asked.
  EXPECT_TRUE(file.config.startHub(4, &err)) << err;
  EXPECT_EQ(manager.requests(), 1);

  EXPECT_TRUE(file.config.stopHub(4, &err)) << err;
  EXPECT_EQ(file.content(), hubSection(4, "HubName=D\r\nStatus=OFF\r\nPortNo=7000\r\n"));
  EXPECT_EQ(manager.requests(), 2);
  EXPECT_EQ(platform::ticksBetween(atStart, file.clock.tickCount()), 2000u)
      << "stopping gives the hub two seconds to end";

  // Already off: nothing is written, nobody is asked, nothing waits.
  EXPECT_TRUE(file.config.stopHub(4, &err)) << err;
  EXPECT_EQ(manager.requests(), 2);
  EXPECT_EQ(platform::ticksBetween(atStart, file.clock.tickCount()), 2000u);
}

TEST(ManagerConfig, StartAndStopFailOnUnreadableStatus) {
  struct Row {
    const char* lines;
  };
  const Row rows[] = {{"Status=on\r\n"}, {"Status=Off\r\n"}, {"HubName=x\r\n"}, {"Status=\r\n"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.lines);
    const std::string before = hubSection(4, row.lines);
    ConfigFile file(before);
    ManagerPipeStub manager;
    ASSERT_TRUE(manager.running()) << manager.error();
    std::string err;
    EXPECT_FALSE(file.config.startHub(4, &err));
    EXPECT_FALSE(err.empty());
    err.clear();
    EXPECT_FALSE(file.config.stopHub(4, &err));
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(file.content(), before);
    EXPECT_EQ(manager.requests(), 0);
    EXPECT_EQ(file.clock.tickCount(), 0u);
  }
}

TEST(ManagerConfig, StartWithoutManagerStillSwitches) {
  ConfigFile file(hubSection(4, "Status=OFF\r\n"));
  std::string err;
  EXPECT_TRUE(file.config.startHub(4, &err)) << err;
  EXPECT_EQ(file.config.readStatus(4), true);
}

// --- Readers -------------------------------------------------------------------------------

TEST(ManagerConfig, ReadStatus) {
  struct Row {
    const char* lines;
    std::optional<bool> expected;
  };
  const Row rows[] = {
      {"Status=ON\r\n", true},          {"Status=OFF\r\n", false},
      {"Status=on\r\n", std::nullopt},  {"Status=off\r\n", std::nullopt},
      {"Status=ONE\r\n", std::nullopt}, {"", std::nullopt},
      {"Status=\r\n", std::nullopt},    {"Status = ON \r\n", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.lines);
    ConfigFile file(hubSection(1, row.lines));
    EXPECT_EQ(file.config.readStatus(1), row.expected);
  }
}

TEST(ManagerConfig, LowerCaseStatusNeitherReadsNorRuns) {
  ConfigFile file(hubSection(1, "Status=on\r\n") + hubSection(2, "Status=ON\r\n"));
  EXPECT_EQ(file.config.readStatus(1), std::nullopt);
  EXPECT_EQ(hubsToRun(file.path, nullptr), std::vector<int>{2});
}

TEST(ManagerConfig, ReadNumbersWithRanges) {
  using Reader = std::function<int(const ManagerConfig&)>;
  const Reader port = [](const ManagerConfig& c) { return c.readPort(1); };
  const Reader auth = [](const ManagerConfig& c) { return c.readAuthFlag(1); };
  const Reader maxCon = [](const ManagerConfig& c) { return c.readMaxConnections(1); };
  const Reader snat = [](const ManagerConfig& c) { return c.readSnatPort(1); };
  const Reader months = [](const ManagerConfig& c) { return c.readLogRetention(1).months; };
  const Reader days = [](const ManagerConfig& c) { return c.readLogRetention(1).days; };
  struct Row {
    const char* lines;
    const Reader* read;
    int expected;
  };
  const Row rows[] = {
      // PortNo and AuthFlag: the number as stored, 0 when missing.
      {"", &port, 0},
      {"PortNo=70000\r\n", &port, 70000},
      {"PortNo=443x\r\n", &port, 443},
      {"", &auth, 0},
      {"AuthFlag=1\r\n", &auth, 1},
      // MaxCon: 1..512, else 512.
      {"", &maxCon, 512},
      {"MaxCon=0\r\n", &maxCon, 512},
      {"MaxCon=600\r\n", &maxCon, 512},
      {"MaxCon=8\r\n", &maxCon, 8},
      {"MaxCon=1\r\n", &maxCon, 1},
      {"MaxCon=512\r\n", &maxCon, 512},
      {"MaxCon=abc\r\n", &maxCon, 512},
      // SNATPort: 1..65535, else 0.
      {"", &snat, 0},
      {"SNATPort=65535\r\n", &snat, 65535},
      {"SNATPort=65536\r\n", &snat, 0},
      {"SNATPort=-1\r\n", &snat, 0},
      // GarbageMonths: missing 1, 0..120 taken, else 0.
      {"", &months, 1},
      {"GarbageMonths=0\r\n", &months, 0},
      {"GarbageMonths=120\r\n", &months, 120},
      {"GarbageMonths=121\r\n", &months, 0},
      {"GarbageMonths=\r\n", &months, 0},
      // GarbageDays: missing 0, 0..9999 taken, else 0.
      {"", &days, 0},
      {"GarbageDays=9999\r\n", &days, 9999},
      {"GarbageDays=10000\r\n", &days, 0},
      {"GarbageDays=-1\r\n", &days, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(*row.lines == '\0' ? "key missing" : row.lines);
    ConfigFile file(hubSection(1, row.lines));
    EXPECT_EQ((*row.read)(file.config), row.expected);
  }
}

TEST(ManagerConfig, MissingGarbageMonthsDiffersBetweenPanelAndHub) {
  ConfigFile file(hubSection(1, "PortNo=9000\r\n"));
  EXPECT_EQ(file.config.readLogRetention(1).months, 1);
  EXPECT_EQ(readHubSettings(file.path, 1, nullptr)->garbageMonths, 0);
}

TEST(ManagerConfig, ReadNameIsCutTo255Bytes) {
  ConfigFile file(hubSection(1, "HubName=" + std::string(300, 'n') + "\r\n") + hubSection(2));
  EXPECT_EQ(file.config.readName(1), std::string(255, 'n'));
  EXPECT_EQ(file.config.readName(2), "");
  EXPECT_EQ(file.config.readName(3), "");
}

TEST(ManagerConfig, ReadDomainSplitter) {
  struct Row {
    const char* systemLines;
    char expected;
  };
  const Row rows[] = {
      {"", '\r'},
      {"DomainSplitter=<NONE>\r\n", '\r'},
      {"DomainSplitter=@\r\n", '@'},
      {"DomainSplitter=#@\r\n", '#'},
      {"DomainSplitter=\r\n", '\r'},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.systemLines);
    ConfigFile file(std::string("[SYSTEM]\r\n") + row.systemLines);
    EXPECT_EQ(file.config.readDomainSplitter(), row.expected);
    EXPECT_EQ(readHubSettings(file.path, 1, nullptr)->splitter, row.expected);
  }
}

TEST(ManagerConfig, ReadFirewallSetting) {
  struct Row {
    const char* content;
    bool expected;
  };
  const Row rows[] = {
      {"", true},
      {"[FIREWALL]\r\nAutoSetting=on\r\n", true},
      {"[FIREWALL]\r\nAutoSetting=off\r\n", false},
      {"[FIREWALL]\r\nAutoSetting=ON\r\n", false},
      {"[FIREWALL]\r\nAutoSetting=\r\n", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.content);
    ConfigFile file(row.content);
    EXPECT_EQ(file.config.readFirewallSetting(), row.expected);
  }
}

// --- Writers -------------------------------------------------------------------------------

TEST(ManagerConfig, WritersStoreDecimalTextInTheHubSection) {
  ConfigFile file(hubSection(2, "HubName=B\r\n"));
  std::string err;
  ASSERT_TRUE(file.config.writeName(2, "Bravo", &err)) << err;
  ASSERT_TRUE(file.config.writePort(2, 8080, &err)) << err;
  ASSERT_TRUE(file.config.writeAuthFlag(2, 1, &err)) << err;
  ASSERT_TRUE(file.config.writeMaxConnections(2, 8, &err)) << err;
  ASSERT_TRUE(file.config.writeSnatPort(2, 18080, &err)) << err;
  ASSERT_TRUE(file.config.writeLogRetention(2, 6, 30, &err)) << err;
  EXPECT_EQ(file.content(), hubSection(2,
                                       "HubName=Bravo\r\nPortNo=8080\r\nAuthFlag=1\r\nMaxCon=8\r\n"
                                       "SNATPort=18080\r\nGarbageMonths=6\r\nGarbageDays=30\r\n"));
  EXPECT_EQ(file.config.readName(2), "Bravo");
  EXPECT_EQ(file.config.readPort(2), 8080);
  EXPECT_EQ(file.config.readAuthFlag(2), 1);
  EXPECT_EQ(file.config.readMaxConnections(2), 8);
  EXPECT_EQ(file.config.readSnatPort(2), 18080);
  EXPECT_EQ(file.config.readLogRetention(2).months, 6);
  EXPECT_EQ(file.config.readLogRetention(2).days, 30);
}

TEST(ManagerConfig, WritersRefuseWhatWouldNotReadBack) {
  using Writer = std::function<bool(ManagerConfig&, std::string*)>;
  struct Row {
    const char* name;
    Writer write;
  };
  const Row rows[] = {
      // Hub numbers beyond the four-digit names.
      {"hub 0", [](ManagerConfig& c, std::string* e) { return c.writePort(0, 80, e); }},
      {"hub -1", [](ManagerConfig& c, std::string* e) { return c.writeName(-1, "x", e); }},
      {"hub 10000", [](ManagerConfig& c, std::string* e) { return c.writeAuthFlag(10000, 1, e); }},
      {"start hub 10000", [](ManagerConfig& c, std::string* e) { return c.startHub(10000, e); }},
      {"leases of hub 0",
       [](ManagerConfig& c, std::string* e) { return c.deleteLeases(0, "", e); }},
      // Values the readers would not take as written.
      {"port -1", [](ManagerConfig& c, std::string* e) { return c.writePort(1, -1, e); }},
      {"port 65536", [](ManagerConfig& c, std::string* e) { return c.writePort(1, 65536, e); }},
      {"auth 2", [](ManagerConfig& c, std::string* e) { return c.writeAuthFlag(1, 2, e); }},
      {"MaxCon 0", [](ManagerConfig& c, std::string* e) { return c.writeMaxConnections(1, 0, e); }},
      {"MaxCon 513",
       [](ManagerConfig& c, std::string* e) { return c.writeMaxConnections(1, 513, e); }},
      {"SNAT 65536", [](ManagerConfig& c, std::string* e) { return c.writeSnatPort(1, 65536, e); }},
      {"months 121",
       [](ManagerConfig& c, std::string* e) { return c.writeLogRetention(1, 121, 0, e); }},
      {"days 10000",
       [](ManagerConfig& c, std::string* e) { return c.writeLogRetention(1, 1, 10000, e); }},
      {"days -1",
       [](ManagerConfig& c, std::string* e) { return c.writeLogRetention(1, 1, -1, e); }},
      {"block 2", [](ManagerConfig& c, std::string* e) { return c.writeDhcpBlock(1, "", 2, e); }},
      // Texts that would break the file.
      {"name with line feed",
       [](ManagerConfig& c, std::string* e) { return c.writeName(1, "a\n[0002]", e); }},
      {"name with zero byte",
       [](ManagerConfig& c, std::string* e) {
         return c.writeName(1, std::string_view("a\0b", 3), e);
       }},
      {"domain with '='",
       [](ManagerConfig& c, std::string* e) { return c.writeDhcpBlock(1, "a=b", 1, e); }},
      {"domain with line break",
       [](ManagerConfig& c, std::string* e) { return c.writeDhcpBlock(1, "a\r\nb", 1, e); }},
      {"pass code with line break",
       [](ManagerConfig& c, std::string* e) { return c.writePassCode("abc\r\nx=y", e); }},
      {"splitter blank",
       [](ManagerConfig& c, std::string* e) { return c.writeDomainSplitter(' ', e); }},
      {"splitter tab",
       [](ManagerConfig& c, std::string* e) { return c.writeDomainSplitter('\t', e); }},
      {"splitter line feed",
       [](ManagerConfig& c, std::string* e) { return c.writeDomainSplitter('\n', e); }},
      {"splitter zero",
       [](ManagerConfig& c, std::string* e) { return c.writeDomainSplitter('\0', e); }},
      {"leases of a path",
       [](ManagerConfig& c, std::string* e) { return c.deleteLeases(1, "../../x", e); }},
  };
  const std::string before = hubSection(1, "HubName=A\r\nStatus=OFF\r\n");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ConfigFile file(before);
    std::string err;
    EXPECT_FALSE(row.write(file.config, &err));
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(file.content(), before);
    // A caller that does not want the message may pass none.
    EXPECT_FALSE(row.write(file.config, nullptr));
  }
}

TEST(ManagerConfig, SnapshotReportsAFileThatCannotBeRead) {
  ConfigFile file;
  // A folder in the file's place cannot be read, as a FIFO or a device is refused.
  std::filesystem::create_directory(file.path);
  std::string err;
  EXPECT_FALSE(file.config.snapshot(&err));
  EXPECT_NE(err.find(file.path), std::string::npos) << err;
  EXPECT_FALSE(hubsToRun(file.path, &err));
  EXPECT_FALSE(readHubSettings(file.path, 1, &err));
  // A single key reads its default, as from a missing file.
  EXPECT_EQ(file.config.readMaxConnections(1), 512);
  EXPECT_TRUE(file.config.listHubs().empty());
}

TEST(ManagerConfig, HubSettingsAreWrittenTogetherOrNotAtAll) {
  const std::string before = hubSection(1, "HubName=A\r\nStatus=OFF\r\n");
  ConfigFile file(before);
  HubSettingsChange change;
  change.name = "B";
  change.port = 7001;
  change.garbageDays = 10000;  // beyond the 9999 the panel writes
  std::string err;
  EXPECT_FALSE(file.config.writeHubSettings(1, change, &err));
  EXPECT_NE(err.find("10000"), std::string::npos) << err;
  EXPECT_EQ(file.content(), before);

  change.garbageDays = 30;
  change.authFlag = 1;
  EXPECT_TRUE(file.config.writeHubSettings(1, change, &err)) << err;
  EXPECT_EQ(file.content(), hubSection(1,
                                       "HubName=B\r\nStatus=OFF\r\nPortNo=7001\r\n"
                                       "AuthFlag=1\r\nGarbageDays=30\r\n"));
}

TEST(ManagerConfig, WritersReportAnUnwritableFile) {
  TempProgramDir dir;
  dir.useForThisProcess();
  ManagerConfig config(dir.path() + "missing-folder/Tollmar.ini");
  std::string err;
  EXPECT_FALSE(config.writePort(1, 80, &err));
  EXPECT_NE(err.find("PortNo"), std::string::npos) << err;
  err.clear();
  EXPECT_FALSE(config.writeFirewallSetting(true, &err));
  EXPECT_FALSE(err.empty());
}

TEST(ManagerConfig, WriteAndReadDhcpBlock) {
  struct Row {
    const char* domain;
    const char* key;
  };
  const Row rows[] = {
      {"", "BlockDHCP"},
      {"-Global-", "BlockDHCP"},
      {"Sales", "BlockDHCP@Sales"},
      {"sales.example", "BlockDHCP@sales.example"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("domain \"") + row.domain + "\"");
    ConfigFile file(hubSection(1, "HubName=A\r\n"));
    EXPECT_EQ(file.config.readDhcpBlock(1, row.domain), 0);
    std::string err;
    ASSERT_TRUE(file.config.writeDhcpBlock(1, row.domain, 1, &err)) << err;
    EXPECT_EQ(file.content(), hubSection(1, std::string("HubName=A\r\n") + row.key + "=1\r\n"));
    EXPECT_EQ(file.config.readDhcpBlock(1, row.domain), 1);
    EXPECT_EQ(blockDhcpKey(row.domain), row.key);
  }
}

TEST(ManagerConfig, WriteDomainSplitter) {
  struct Row {
    char splitter;
    const char* stored;
  };
  const Row rows[] = {{'@', "@"}, {'\r', "<NONE>"}, {'#', "#"}, {'=', "="}, {'"', "\""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("stored as ") + row.stored);
    ConfigFile file;
    std::string err;
    ASSERT_TRUE(file.config.writeDomainSplitter(row.splitter, &err)) << err;
    EXPECT_EQ(file.content(), std::string("[SYSTEM]\r\nDomainSplitter=") + row.stored + "\r\n");
    EXPECT_EQ(file.config.readDomainSplitter(), row.splitter);
    EXPECT_EQ(readHubSettings(file.path, 1, nullptr)->splitter, row.splitter);
  }
}

TEST(ManagerConfig, WriteFirewallSetting) {
  ConfigFile file;
  std::string err;
  ASSERT_TRUE(file.config.writeFirewallSetting(false, &err)) << err;
  EXPECT_EQ(file.content(), "[FIREWALL]\r\nAutoSetting=off\r\n");
  EXPECT_FALSE(file.config.readFirewallSetting());
  ASSERT_TRUE(file.config.writeFirewallSetting(true, &err)) << err;
  EXPECT_EQ(file.content(), "[FIREWALL]\r\nAutoSetting=on\r\n");
  EXPECT_TRUE(file.config.readFirewallSetting());
}

TEST(ManagerConfig, PassCodeIsKeptVerbatim) {
  ConfigFile file(hubSection(1));
  EXPECT_EQ(file.config.readPassCode(), "");
  const std::string code = "aHR0cDovL2V4YW1wbGUvdXBkYXRlP2lkPTQy+/==";
  std::string err;
  ASSERT_TRUE(file.config.writePassCode(code, &err)) << err;
  EXPECT_EQ(file.content(), hubSection(1) + "[SYSTEM]\r\nDNSUpdatePassCode=" + code + "\r\n");
  EXPECT_EQ(file.config.readPassCode(), code);
}

// --- Names and ports in use ----------------------------------------------------------------

TEST(ManagerConfig, NameIsFree) {
  ConfigFile file(hubSection(1, "HubName=Alpha\r\n") + hubSection(2, "HubName=Beta\r\n") +
                  hubSection(3));
  struct Row {
    int hub;
    const char* name;
    bool expected;
  };
  const Row rows[] = {
      {2, "Alpha", false},                      // another hub has it
      {1, "Alpha", true},                       // the hub itself is not compared
      {3, "Beta", false},  {2, "alpha", true},  // case-sensitive
      {2, "Alph", true},                        // exact
      {2, "Alpha ", true},                      // exact
      {4, "Gamma", true},  {1, "", false},      // hub 3 has no name, which equals the empty name
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.hub) + " \"" + row.name + "\"");
    EXPECT_EQ(file.config.nameIsFree(row.hub, row.name), row.expected);
  }
}

TEST(ManagerConfig, PortIsFree) {
  ConfigFile file(hubSection(1, "PortNo=0\r\n") + hubSection(2, "PortNo=0\r\n") +
                  hubSection(3, "PortNo=8000\r\n") + hubSection(4));
  struct Row {
    int hub;
    int port;
    bool expected;
  };
  const Row rows[] = {
      {1, 0, true},                       // two hubs may both have port 0
      {2, 0, true},    {4, 8000, false},  // the port of hub 3
      {3, 8000, true},                    // the hub itself is not compared
      {4, 8001, true}, {5, 8000, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.hub) + " port " + std::to_string(row.port));
    EXPECT_EQ(file.config.portIsFree(row.hub, row.port), row.expected);
  }
}

// --- Lease files ---------------------------------------------------------------------------

TEST(ManagerConfig, DeleteLeases) {
  struct Row {
    const char* domain;
    const char* file;
  };
  const Row rows[] = {
      {"Sales", "0001_Sales_dhcp.leases"},
      {"", "0001__dhcp.leases"},
      {"-Global-", "0001__dhcp.leases"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("domain \"") + row.domain + "\"");
    ConfigFile file(hubSection(1));
    writeFile(file.dir.ini(row.file), "[DHCP_ENTRY_1]\r\n");
    writeFile(file.dir.ini("0001_Other_dhcp.leases"), "[DHCP_ENTRY_1]\r\n");
    writeFile(file.dir.ini("0002_Sales_dhcp.leases"), "[DHCP_ENTRY_1]\r\n");
    std::string err;
    EXPECT_TRUE(file.config.deleteLeases(1, row.domain, &err)) << err;
    EXPECT_FALSE(fileExists(file.dir.ini(row.file)));
    EXPECT_TRUE(fileExists(file.dir.ini("0001_Other_dhcp.leases")));
    EXPECT_TRUE(fileExists(file.dir.ini("0002_Sales_dhcp.leases")));
    // Deleting again finds nothing, which is no failure.
    EXPECT_TRUE(file.config.deleteLeases(1, row.domain, &err)) << err;
  }
}

}  // namespace
}  // namespace korvane::common
