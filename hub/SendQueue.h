#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "hub/PortConnection.h"
#include "hub/SendWriter.h"

namespace korvane::hub {

/// Data bytes a client may have waiting in the hub, queued and not yet written to its stream,
/// before further batches for it are dropped: a client that does not read costs the hub at most
/// this much memory (plus the one batch that crossed it) and never holds up anyone else.
inline constexpr std::size_t kMaxPendingSendBytes = 4194304;

/// How a send to a client ended.
enum class SendResult {
  kSent,         ///< the stream took every byte at once
  kQueued,       ///< the stream took part or nothing; the rest waits for the port's writer
  kNotAccepted,  ///< the port takes no data (not logged in, failed or ending): nothing was sent
  kTooMuch,      ///< more than kMaxPendingSendBytes were waiting: the batch was dropped
  kFailed,       ///< the stream failed: nothing more will be sent on it
};

/// The outgoing side of one port: records are written in the order they were handed over, never
/// mixed. A sender first writes what the stream takes without blocking; what is left is copied
/// into one buffer and queued, and the hub's writer (SendWriter) drains the queue as the client
/// reads. Data batches are counted as pending until written and refused beyond the limit;
/// control records (the port's own answers) wait until they are written.
class SendQueue {
 public:
  /// Called once, outside the queue's lock, with the error number when the stream fails.
  using ErrorReport = std::function<void(int error)>;

  /// A queue for `connection`; stream failures go to `reportError`.
  SendQueue(PortConnection& connection, ErrorReport reportError);
  ~SendQueue();
  SendQueue(const SendQueue&) = delete;
  SendQueue& operator=(const SendQueue&) = delete;

  /// Hands what the stream does not take at once to `writer` from now on; until then the queue
  /// only sends what the stream takes at once. False once the queue is stopped.
  [[nodiscard]] bool startWriter(SendWriter& writer);

  /// The writer's part: writes what is queued while the stream takes it, and asks the writer to
  /// come back when the stream is full again.
  void drainWhenWritable();

  /// Sends the parts (whole records, `total` bytes) as one batch of data, or queues what the
  /// stream does not take now; never blocks on the stream. Refused while the queue is closed
  /// for data, and dropped when more than kMaxPendingSendBytes are pending.
  SendResult sendData(std::span<const std::span<const std::uint8_t>> parts, std::size_t total);

  /// Sends one control record behind everything queued before it and waits until it is
  /// written; false when the stream failed or the queue is stopping.
  bool sendControl(std::span<const std::uint8_t> record);

  /// sendControl() that also opens the queue for data in the same step, so that every data
  /// batch handed over afterwards follows this record and none before it is taken.
  bool sendControlAndOpen(std::span<const std::uint8_t> record);

  /// Closes the queue for good: refuses further sends, stops and joins the writer, waits for a
  /// sender that is writing at this moment, and drops what is still queued. Only then may the
  /// stream be closed.
  void stop();

  /// Data bytes queued and not yet written.
  std::size_t pendingBytes() const;

 private:
  struct Batch {
    std::vector<std::uint8_t> bytes;
    std::size_t written = 0;
    bool isData = false;  // counted in pendingBytes_
    std::uint64_t sequence = 0;
  };
  using Lock = std::unique_lock<std::mutex>;
  using Parts = std::span<const std::span<const std::uint8_t>>;

  bool sendControlRecord(std::span<const std::uint8_t> record, bool openForData);
  SendResult writeNow(Lock& lock, Parts parts, std::size_t total, bool isData,
                      std::uint64_t sequence);
  static std::vector<std::uint8_t> copyFrom(Parts parts, std::size_t skip);
  void handToWriter();
  void releaseOrHandOver();
  void failAndReport(Lock& lock, int error);
  void completeWritten(std::size_t bytes);
  std::size_t gather(std::span<std::span<const std::uint8_t>> parts) const;
  void drain(Lock& lock);

  PortConnection& connection_;
  const ErrorReport reportError_;

  mutable std::mutex mutex_;
  std::condition_variable progress_;  // a batch was written, the right to write moved, a failure
  std::deque<Batch> batches_;
  std::size_t pendingBytes_ = 0;
  bool writing_ = false;     // someone holds the right to write; set whenever batches_ is not empty
  bool writerOwns_ = false;  // ... and it is the writer
  bool acceptsData_ = false;  // data batches are taken
  bool failed_ = false;
  bool stopping_ = false;
  std::uint64_t lastSequence_ = 0;     // handed to the latest batch
  std::uint64_t writtenSequence_ = 0;  // highest batch written completely
  SendWriter* writer_ = nullptr;       // none before startWriter() and after stop()
  std::uint64_t writerKey_ = 0;
};

}  // namespace korvane::hub
