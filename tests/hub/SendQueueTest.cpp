// Unit tests of a port's outgoing side: what a stream does not take at once waits in order, the
// pending limit, control records among queued data, failures and stopping.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "hub/SendQueue.h"
#include "tests/hub/FakePortConnection.h"
#include "tests/hub/SwitchTestBed.h"

namespace korvane::hub {
namespace {

using namespace std::chrono_literals;

class SendQueueTest : public ::testing::Test {
 protected:
  SendResult send(const std::vector<std::uint8_t>& bytes) {
    const std::span<const std::uint8_t> parts[] = {bytes};
    return queue_.sendData(parts, bytes.size());
  }
  void open() { ASSERT_TRUE(queue_.sendControlAndOpen(loginOkRecord())); }

  HubTestBed bed_;  // its writer outlives the queue
  std::shared_ptr<FakeStream> stream_ = std::make_shared<FakeStream>();
  FakePortConnection connection_{stream_};
  std::vector<int> reported_;
  SendQueue queue_{connection_, [this](int error) { reported_.push_back(error); }};
};

std::vector<std::uint8_t> bytesOf(std::size_t size, std::uint8_t value) {
  return std::vector<std::uint8_t>(size, value);
}

TEST_F(SendQueueTest, BatchesAreDroppedOnlyOnceMoreThanTheLimitIsPending) {
  open();
  stream_->setRoom(0);
  const auto chunk = bytesOf(65536, 1);
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(send(chunk), SendResult::kQueued) << i;
  }
  ASSERT_EQ(queue_.pendingBytes(), 4194304u);
  EXPECT_EQ(send(bytesOf(1, 2)), SendResult::kQueued) << "4194304 pending is not too much";
  ASSERT_EQ(queue_.pendingBytes(), 4194305u);
  EXPECT_EQ(send(bytesOf(1, 3)), SendResult::kTooMuch);
  EXPECT_EQ(queue_.pendingBytes(), 4194305u) << "the dropped batch left nothing behind";
}

TEST_F(SendQueueTest, DataIsRefusedUntilTheOpeningRecordAndFollowsIt) {
  EXPECT_EQ(send(bytesOf(40, 7)), SendResult::kNotAccepted);
  open();
  EXPECT_EQ(send(bytesOf(40, 8)), SendResult::kSent);
  const auto written = stream_->written();
  ASSERT_EQ(written.size(), 32u + 40u);
  EXPECT_EQ(std::vector<std::uint8_t>(written.begin(), written.begin() + 32), loginOkRecord());
  EXPECT_EQ(written.back(), 8);
}

TEST_F(SendQueueTest, WriterDrainsWhatTheStreamDidNotTakeInOrder) {
  open();
  ASSERT_TRUE(queue_.startWriter(*bed_.writer));
  stream_->setRoom(10);  // the first batch is cut after 10 bytes
  std::vector<std::uint8_t> expected = loginOkRecord();
  for (std::uint8_t i = 1; i <= 20; ++i) {
    const auto batch = bytesOf(100u + i, i);
    expected.insert(expected.end(), batch.begin(), batch.end());
    const SendResult result = send(batch);
    EXPECT_TRUE(result == SendResult::kQueued || result == SendResult::kSent);
  }
  stream_->setRoom(FakeStream::kUnlimited);
  ASSERT_TRUE(stream_->waitForWritten(expected.size(), 5s));
  EXPECT_EQ(stream_->written(), expected);
  for (int i = 0; i < 100 && queue_.pendingBytes() != 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(queue_.pendingBytes(), 0u);
}

TEST_F(SendQueueTest, ControlRecordWaitsBehindQueuedDataUntilWritten) {
  open();
  ASSERT_TRUE(queue_.startWriter(*bed_.writer));
  stream_->setRoom(0);
  const auto data = bytesOf(5000, 9);
  ASSERT_EQ(send(data), SendResult::kQueued);

  const auto echo = controlRecord(common::ControlType::kKeepAliveEcho);
  auto answered = std::async(std::launch::async, [&] { return queue_.sendControl(echo); });
  EXPECT_EQ(answered.wait_for(100ms), std::future_status::timeout) << "the client reads nothing";

  stream_->setRoom(FakeStream::kUnlimited);
  ASSERT_EQ(answered.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(answered.get());
  std::vector<std::uint8_t> expected = loginOkRecord();
  expected.insert(expected.end(), data.begin(), data.end());
  expected.insert(expected.end(), echo.begin(), echo.end());
  EXPECT_EQ(stream_->written(), expected);
}

TEST_F(SendQueueTest, FailedStreamIsReportedOnceShutDownAndRefusesEverything) {
  open();
  stream_->failSends(EPIPE);
  EXPECT_EQ(send(bytesOf(10, 1)), SendResult::kFailed);
  EXPECT_EQ(send(bytesOf(10, 1)), SendResult::kNotAccepted);
  EXPECT_FALSE(queue_.sendControl(loginOkRecord()));
  EXPECT_EQ(reported_, std::vector<int>{EPIPE});
  EXPECT_TRUE(stream_->shutDown()) << "a stream cut in the middle of a record must end";
}

TEST_F(SendQueueTest, StopEndsAWriterWaitingForAReaderThatNeverComes) {
  open();
  ASSERT_TRUE(queue_.startWriter(*bed_.writer));
  stream_->setRoom(0);
  ASSERT_EQ(send(bytesOf(3000, 4)), SendResult::kQueued);
  const auto started = std::chrono::steady_clock::now();
  queue_.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_EQ(queue_.pendingBytes(), 0u);
  EXPECT_EQ(send(bytesOf(10, 1)), SendResult::kNotAccepted);
}

// Data batches from one thread and control records from another, through a stream that takes
// a few bytes at a time: every record must arrive whole and each thread's records in order.
TEST_F(SendQueueTest, RecordsNeverInterleaveUnderConcurrentSenders) {
  open();
  ASSERT_TRUE(queue_.startWriter(*bed_.writer));
  constexpr int kBatches = 400;
  constexpr int kControls = 50;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      stream_->setRoom(700);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stream_->setRoom(FakeStream::kUnlimited);
  });
  std::thread controls([&] {
    for (int i = 0; i < kControls; ++i) {
      const std::uint8_t payload[] = {static_cast<std::uint8_t>(i)};
      EXPECT_TRUE(queue_.sendControl(makeRecord(0, 77, payload)));
    }
  });
  int queued = 0;
  for (int i = 0; i < kBatches; ++i) {
    std::vector<std::uint8_t> batch;
    for (int r = 0; r < 3; ++r) {
      const std::uint8_t payload[] = {static_cast<std::uint8_t>(i),
                                      static_cast<std::uint8_t>(i >> 8),
                                      static_cast<std::uint8_t>(r),
                                      0,
                                      0,
                                      0,
                                      0,
                                      0,
                                      0,
                                      0,
                                      0,
                                      0};
      const auto record = makeRecord(1, 0, payload);
      batch.insert(batch.end(), record.begin(), record.end());
    }
    if (send(batch) != SendResult::kTooMuch) {
      ++queued;
    }
  }
  controls.join();
  done = true;
  reader.join();
  ASSERT_EQ(queued, kBatches);
  const std::size_t total = 32 + kControls * 33 + kBatches * 3 * 44;
  ASSERT_TRUE(stream_->waitForWritten(total, 10s));

  const auto records = recordsIn(stream_->written());
  ASSERT_EQ(records.size(), 1u + kControls + kBatches * 3);
  int nextControl = 0;
  int nextData = 0;
  for (std::size_t i = 1; i < records.size(); ++i) {
    const auto& record = records[i];
    ASSERT_EQ(common::readBigEndian32(record.data()), common::kRecordMagic) << i;
    if (common::readBigEndian32(record.data() + common::kKindOffset) == 0) {
      EXPECT_EQ(record[32], nextControl++);
      continue;
    }
    const int batch = record[32] | (record[33] << 8);
    EXPECT_EQ(batch * 3 + record[34], nextData++);
  }
}

// One writer serves every port of the hub: a client that reads nothing keeps its queue waiting
// without holding up another client's, and a queue that stops is let go of at once.
TEST_F(SendQueueTest, OneWriterDrainsOtherQueuesWhileOneStreamStaysFull) {
  open();
  ASSERT_TRUE(queue_.startWriter(*bed_.writer));
  auto otherStream = std::make_shared<FakeStream>();
  FakePortConnection otherConnection(otherStream);
  SendQueue other(otherConnection, {});
  ASSERT_TRUE(other.sendControlAndOpen(loginOkRecord()));
  ASSERT_TRUE(other.startWriter(*bed_.writer));

  stream_->setRoom(0);
  otherStream->setRoom(0);
  ASSERT_EQ(send(bytesOf(3000, 1)), SendResult::kQueued);
  const auto data = bytesOf(3000, 2);
  const std::span<const std::uint8_t> parts[] = {data};
  ASSERT_EQ(other.sendData(parts, data.size()), SendResult::kQueued);
  otherStream->setRoom(FakeStream::kUnlimited);
  EXPECT_TRUE(otherStream->waitForWritten(32 + data.size(), 5s)) << "held up by a full stream";
  EXPECT_EQ(queue_.pendingBytes(), 3000u);

  const auto started = std::chrono::steady_clock::now();
  queue_.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  stream_->setRoom(FakeStream::kUnlimited);  // a report for a queue that left goes nowhere
  EXPECT_EQ(stream_->written().size(), 32u);
}

}  // namespace
}  // namespace korvane::hub
