#include "hub/SendQueue.h"

#include <algorithm>
#include <array>
#include <utility>

namespace korvane::hub {
namespace {

// Batches the writer hands to one gather send: enough to empty a deep queue in few calls, well
// below the 1024 parts one call may carry.
constexpr std::size_t kMaxGatherBatches = 64;
// What the hub's one writer sends to one client before it turns to the others that are ready: a
// client that reads as fast as the hub writes must not keep the writer from the rest. A quarter
// of the 4 MiB a client may have waiting, a few milliseconds of copying.
constexpr std::size_t kMaxBytesPerWriterTurn = 1024 * 1024;

}  // namespace

SendQueue::SendQueue(PortConnection& connection, ErrorReport reportError)
    : connection_(connection), reportError_(std::move(reportError)) {}

SendQueue::~SendQueue() {
  stop();
}

bool SendQueue::startWriter(SendWriter& writer) {
  const Lock lock(mutex_);
  if (writer_ != nullptr || stopping_) {
    return !stopping_;
  }
  writer_ = &writer;
  writerKey_ = writer.enrol(*this);
  if (writerOwns_) {
    writer.watch(connection_, writerKey_);  // handed over before there was a writer
  }
  return true;
}

void SendQueue::drainWhenWritable() {
  Lock lock(mutex_);
  if (writerOwns_ && !stopping_) {
    drain(lock);
  }
}

SendResult SendQueue::sendData(Parts parts, std::size_t total) {
  Lock lock(mutex_);
  if (!acceptsData_) {
    return SendResult::kNotAccepted;
  }
  if (pendingBytes_ > kMaxPendingSendBytes) {
    return SendResult::kTooMuch;
  }
  const std::uint64_t sequence = ++lastSequence_;
  if (!writing_) {
    return writeNow(lock, parts, total, true, sequence);
  }
  batches_.push_back(Batch{copyFrom(parts, 0), 0, true, sequence});
  pendingBytes_ += total;
  return SendResult::kQueued;
}

bool SendQueue::sendControl(std::span<const std::uint8_t> record) {
  return sendControlRecord(record, false);
}

bool SendQueue::sendControlAndOpen(std::span<const std::uint8_t> record) {
  return sendControlRecord(record, true);
}

bool SendQueue::sendControlRecord(std::span<const std::uint8_t> record, bool openForData) {
  Lock lock(mutex_);
  if (failed_ || stopping_) {
    return false;
  }
  acceptsData_ = acceptsData_ || openForData;
  const std::uint64_t sequence = ++lastSequence_;
  if (!writing_) {
    const std::span<const std::uint8_t> parts[] = {record};
    const SendResult result = writeNow(lock, parts, record.size(), false, sequence);
    if (result != SendResult::kQueued) {
      return result == SendResult::kSent;
    }
  } else {
    batches_.push_back(Batch{{record.begin(), record.end()}, 0, false, sequence});
  }
  progress_.wait(lock, [&] { return writtenSequence_ >= sequence || failed_ || stopping_; });
  return writtenSequence_ >= sequence;
}

// Entered with the lock held, nobody writing and nothing queued. Writes outside the lock while
// holding the right to write, so queued batches that arrive meanwhile line up behind this one.
SendResult SendQueue::writeNow(Lock& lock, Parts parts, std::size_t total, bool isData,
                               std::uint64_t sequence) {
  writing_ = true;
  lock.unlock();
  int error = 0;
  const long sent = connection_.trySend(parts, &error);
  std::vector<std::uint8_t> rest;
  if (sent >= 0 && static_cast<std::size_t>(sent) < total) {
    rest = copyFrom(parts, static_cast<std::size_t>(sent));
  }
  lock.lock();
  if (sent < 0) {
    failAndReport(lock, error);
    return SendResult::kFailed;
  }
  if (rest.empty()) {
    writtenSequence_ = std::max(writtenSequence_, sequence);
    releaseOrHandOver();
    return SendResult::kSent;
  }
  if (isData) {
    pendingBytes_ += rest.size();
  }
  // The rest goes first: everything queued while this thread wrote was handed over after it.
  batches_.push_front(Batch{std::move(rest), 0, isData, sequence});
  handToWriter();
  return SendResult::kQueued;
}

std::vector<std::uint8_t> SendQueue::copyFrom(Parts parts, std::size_t skip) {
  std::size_t total = 0;
  for (const auto& part : parts) {
    total += part.size();
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(total - std::min(skip, total));
  for (const auto& part : parts) {
    const std::size_t skipped = std::min(skip, part.size());
    skip -= skipped;
    bytes.insert(bytes.end(), part.begin() + static_cast<std::ptrdiff_t>(skipped), part.end());
  }
  return bytes;
}

void SendQueue::handToWriter() {
  writerOwns_ = true;
  if (writer_ != nullptr) {
    writer_->watch(connection_, writerKey_);
  }
  progress_.notify_all();
}

void SendQueue::releaseOrHandOver() {
  if (batches_.empty()) {
    writing_ = false;
    writerOwns_ = false;
    progress_.notify_all();
    return;
  }
  handToWriter();
}

// A failed stream may have taken part of a record, so nothing more may follow on it: the queue
// refuses everything from now on and the stream is shut down, which ends the port's receive.
void SendQueue::failAndReport(Lock& lock, int error) {
  const bool first = !failed_;
  failed_ = true;
  acceptsData_ = false;
  batches_.clear();
  pendingBytes_ = 0;
  writing_ = false;
  writerOwns_ = false;
  progress_.notify_all();
  lock.unlock();
  if (first) {
    connection_.shutdownBoth();
    if (reportError_) {
      reportError_(error);
    }
  }
  lock.lock();
}

void SendQueue::completeWritten(std::size_t bytes) {
  while (bytes > 0 && !batches_.empty()) {
    Batch& front = batches_.front();
    const std::size_t left = front.bytes.size() - front.written;
    const std::size_t taken = std::min(left, bytes);
    front.written += taken;
    bytes -= taken;
    if (front.isData) {
      pendingBytes_ -= taken;
    }
    if (front.written == front.bytes.size()) {
      writtenSequence_ = std::max(writtenSequence_, front.sequence);
      batches_.pop_front();
      progress_.notify_all();
    }
  }
}

std::size_t SendQueue::gather(std::span<std::span<const std::uint8_t>> parts) const {
  std::size_t count = 0;
  for (const Batch& batch : batches_) {
    if (count == parts.size()) {
      break;
    }
    parts[count++] = std::span<const std::uint8_t>(batch.bytes).subspan(batch.written);
  }
  return count;
}

// Runs with the right to write until the queue is empty, the stream is full or fails, the queue
// has had its turn (kMaxBytesPerWriterTurn), or the queue stops; never blocks, so that the writer
// goes on to the next client. A stream left with bytes is watched again and drained on its next
// report. The batches stay where they are while the lock is down: only the holder of the right
// to write removes any, and a deque keeps its elements in place when others are added at the
// ends.
void SendQueue::drain(Lock& lock) {
  std::array<std::span<const std::uint8_t>, kMaxGatherBatches> parts;
  std::size_t writtenThisTurn = 0;
  while (!stopping_ && writerOwns_) {
    if (batches_.empty()) {
      releaseOrHandOver();
      return;
    }
    const std::size_t count = gather(parts);
    std::size_t offered = 0;
    for (std::size_t i = 0; i < count; ++i) {
      offered += parts[i].size();
    }
    lock.unlock();
    int error = 0;
    const long sent = connection_.trySend(std::span(parts.data(), count), &error);
    lock.lock();
    if (sent < 0) {
      failAndReport(lock, error);
      return;
    }
    completeWritten(static_cast<std::size_t>(sent));
    writtenThisTurn += static_cast<std::size_t>(sent);
    // A stream that is full, or that has had its turn, is watched again: one with room is
    // reported on the writer's next wait, after the others that are ready.
    if (static_cast<std::size_t>(sent) < offered || writtenThisTurn >= kMaxBytesPerWriterTurn) {
      if (writer_ != nullptr && !stopping_) {
        writer_->watch(connection_, writerKey_);
      }
      return;
    }
  }
}

void SendQueue::stop() {
  Lock lock(mutex_);
  stopping_ = true;
  acceptsData_ = false;
  progress_.notify_all();
  if (SendWriter* writer = std::exchange(writer_, nullptr); writer != nullptr) {
    lock.unlock();
    writer->leave(writerKey_, connection_);
    lock.lock();
  }
  if (writerOwns_) {
    writing_ = false;
    writerOwns_ = false;
    progress_.notify_all();
  }
  // A sender writing at this moment finishes its one non-blocking call and then either
  // releases the right to write or hands it to the writer, which is gone.
  progress_.wait(lock, [this] { return !writing_ || writerOwns_; });
  batches_.clear();
  pendingBytes_ = 0;
}

std::size_t SendQueue::pendingBytes() const {
  const Lock lock(mutex_);
  return pendingBytes_;
}

}  // namespace korvane::hub
