#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hub/DhcpLeases.h"
#include "hub/LeaseWriter.h"
#include "tests/hub/DhcpTestFrames.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TempProgramDir.h"

namespace korvane::hub {
namespace {

using testframes::ip;
using testframes::station;

/// A file whose content the test sets, counting how often the writer asked for it and noting
/// the order of all reads in `reads`.
class FakeSource final : public LeaseWriter::Source {
 public:
  FakeSource(std::string path, std::vector<std::string>* reads)
      : path_(std::move(path)), reads_(reads) {}

  const std::string& filePath() const override { return path_; }
  std::optional<std::string> currentText() const override {
    reads_->push_back(path_);
    return text;
  }

  std::string text;

 private:
  const std::string path_;
  std::vector<std::string>* reads_;
};

/// A writer over a temporary ini folder that keeps the lines it logs.
class WriterBench {
 public:
  WriterBench()
      : writer(std::make_shared<LeaseWriter>(
            [this](std::string_view line) {
              const std::lock_guard lock(mutex_);
              logged.emplace_back(line);
            },
            clock)) {}

  std::shared_ptr<FakeSource> source(const std::string& name, std::string text) {
    auto made = std::make_shared<FakeSource>(dir.ini(name), &reads);
    made->text = std::move(text);
    return made;
  }

  testing::TempProgramDir dir;
  testing::ManualClock clock;
  std::vector<std::string> reads;
  std::vector<std::string> logged;
  std::shared_ptr<LeaseWriter> writer;

 private:
  std::mutex mutex_;
};

TEST(LeaseWriter, ChangesOfOneFileBecomeOneWriteOfTheLatestContent) {
  WriterBench bench;
  const auto a = bench.source("a.leases", "first");
  const auto b = bench.source("b.leases", "b");
  bench.writer->markChanged(a);
  bench.writer->markChanged(b);
  a->text = "second";
  bench.writer->markChanged(a);
  EXPECT_FALSE(testing::fileExists(bench.dir.ini("a.leases"))) << "a mark never writes";

  bench.writer->flush();
  EXPECT_EQ(bench.reads, (std::vector<std::string>{a->filePath(), b->filePath()}))
      << "once each, in the order first marked";
  EXPECT_EQ(testing::readFile(a->filePath()), "second");
  EXPECT_EQ(testing::readFile(b->filePath()), "b");

  // A newer source of the same file (a service made anew) replaces the one marked before it.
  const auto newer = bench.source("a.leases", "from the new service");
  bench.writer->markChanged(a);
  bench.writer->markChanged(newer);
  bench.reads.clear();
  bench.writer->flush();
  EXPECT_EQ(bench.reads.size(), 1u);
  EXPECT_EQ(testing::readFile(a->filePath()), "from the new service");
}

TEST(LeaseWriter, FailedWriteIsLoggedOnceAndTriedAgainAtStop) {
  WriterBench bench;
  const std::string folder = bench.dir.path() + "gone/";
  auto source = std::make_shared<FakeSource>(folder + "0001__dhcp.leases", &bench.reads);
  source->text = "kept";
  bench.writer->markChanged(source);
  bench.writer->flush();
  bench.writer->flush();
  source->text = "latest";
  bench.writer->markChanged(source);
  bench.writer->flush();
  ASSERT_EQ(bench.logged.size(), 1u) << "one line while the file keeps failing";
  EXPECT_NE(bench.logged[0].find("Cannot write the lease file " + folder), std::string::npos)
      << bench.logged[0];

  std::filesystem::create_directory(folder);
  bench.writer->stop();
  EXPECT_EQ(testing::readFile(folder + "0001__dhcp.leases"), "latest");
  EXPECT_EQ(bench.logged.size(), 1u);
}

TEST(LeaseWriter, CleanStopLeavesEveryFileWithItsLastLeases) {
  WriterBench bench;
  bench.writer->start();
  constexpr DhcpPool kPool = {ip(10, 0, 0, 1), ip(10, 0, 1, 0)};
  constexpr std::int64_t kNow = 1'700'000'000;
  // Bounded load: enough changes that the thread is still busy when the stop comes.
  constexpr int kChanges = 300;
  std::vector<std::unique_ptr<DhcpLeases>> lists;
  for (const char* name : {"0001__dhcp.leases", "0001_lab_dhcp.leases"}) {
    lists.push_back(std::make_unique<DhcpLeases>(bench.dir.ini(name), bench.writer));
  }
  for (int n = 0; n < kChanges; ++n) {
    DhcpLeases& leases = *lists[n % lists.size()];
    const auto mac = station(static_cast<std::uint8_t>(n % 200));
    ASSERT_TRUE(leases.allocate(mac, "pc" + std::to_string(n), kPool, kNow + n, 3600));
    if (n % 3 == 0) {
      (void)leases.release(*leases.addressOf(mac), mac, kPool);
    }
  }
  bench.writer->stop();
  for (const auto& leases : lists) {
    SCOPED_TRACE(leases->path());
    DhcpLeases reread(leases->path(), nullptr);
    std::string err;
    ASSERT_TRUE(reread.load(&err)) << err;
    EXPECT_EQ(reread.leases(), leases->leases());
    EXPECT_FALSE(reread.leases().empty());
  }
  EXPECT_TRUE(bench.logged.empty());
}

}  // namespace
}  // namespace korvane::hub
