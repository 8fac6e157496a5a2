#include "tools/kvbench/BareRelay.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "platform/Priority.h"

namespace korvane::tools {
namespace {

// The hub's receive buffer: the relay takes as much per pass as a port thread does.
constexpr std::size_t kPassBytes = 65536;

// The hub's limit of bytes queued for one client; the relay waits there instead of dropping.
constexpr std::size_t kMaxQueuedBytes = 4194304;

// How long one wait for room in a socket lasts before the writer looks whether it is stopping.
constexpr std::chrono::milliseconds kSendWaitSlice{100};

/// Writes every chunk in order with gathering writes, waiting for room as needed; false when the
/// connection fails or `stopping` is set.
bool writeAll(platform::TcpConnection& connection,
              const std::deque<std::vector<std::uint8_t>>& chunks,
              const std::atomic<bool>& stopping) {
  std::vector<std::span<const std::uint8_t>> parts(chunks.begin(), chunks.end());
  std::size_t first = 0;
  while (first < parts.size()) {
    if (stopping) {
      return false;
    }
    // trySend, not sendAll: the link's reader may be failing at the same time, and only trySend
    // leaves the connection's error text alone.
    const long sent = connection.trySend(std::span(parts).subspan(first));
    if (sent < 0) {
      return false;
    }
    if (sent == 0) {
      connection.waitWritable(kSendWaitSlice);
      continue;
    }
    for (auto left = static_cast<std::size_t>(sent); left > 0;) {
      const std::size_t taken = std::min(left, parts[first].size());
      parts[first] = parts[first].subspan(taken);
      left -= taken;
      first += parts[first].empty() ? 1 : 0;
    }
  }
  return true;
}

}  // namespace

BareRelay::~BareRelay() {
  stop();
}

bool BareRelay::start(std::string* err) {
  platform::ListenFailure failure;
  if (!listener_.listenOnIpv4(0, &failure)) {
    *err = "the relay cannot listen (call " + std::to_string(static_cast<int>(failure.call)) +
           ", error " + std::to_string(failure.error) + ")";
    return false;
  }
  port_ = listener_.localPort();
  acceptor_ = std::thread(&BareRelay::acceptLoop, this);
  return true;
}

void BareRelay::stop() {
  if (stopping_.exchange(true)) {
    return;
  }
  listener_.close();
  if (acceptor_.joinable()) {
    acceptor_.join();
  }
  for (Link* link : linksSnapshot()) {
    {
      std::lock_guard lock(link->mutex);
      link->stopping = true;
    }
    link->changed.notify_all();
    link->connection.shutdownBoth();
  }
  for (Link* link : linksSnapshot()) {
    link->reader.join();
    link->writer.join();
  }
  std::lock_guard lock(linksMutex_);
  links_.clear();
}

void BareRelay::acceptLoop() {
  for (;;) {
    std::optional<platform::TcpConnection> accepted;
    platform::ListenFailure failure;
    const auto status = listener_.accept(&accepted, &failure);
    if (status == platform::AcceptStatus::kRetry) {
      continue;
    }
    if (status != platform::AcceptStatus::kAccepted) {
      return;
    }
    auto link = std::make_unique<Link>();
    link->connection = std::move(*accepted);
    Link& added = *link;
    std::lock_guard lock(linksMutex_);
    if (stopping_) {
      return;
    }
    links_.push_back(std::move(link));
    added.writer = std::thread(&BareRelay::writeLoop, this, std::ref(added));
    added.reader = std::thread(&BareRelay::forwardLoop, this, std::ref(added));
  }
}

void BareRelay::forwardLoop(Link& source) {
  // The hub's port threads run at the highest normal priority; so does the relay, or the
  // comparison would measure the scheduler instead of the switching.
  platform::raiseThreadPriority();
  std::vector<std::uint8_t> buffer(kPassBytes);
  for (;;) {
    const long received = source.connection.receive(buffer);
    if (received <= 0) {
      return;
    }
    const std::span<const std::uint8_t> bytes(buffer.data(), static_cast<std::size_t>(received));
    for (Link* target : linksSnapshot()) {
      if (target != &source) {
        sendTo(*target, bytes);
      }
    }
  }
}

void BareRelay::sendTo(Link& target, std::span<const std::uint8_t> bytes) {
  std::unique_lock lock(target.mutex);
  if (target.failed || target.stopping) {
    return;
  }
  if (target.queue.empty() && !target.writing) {
    // Nothing waits before these bytes: write what the socket takes now, as the hub does.
    const std::array<std::span<const std::uint8_t>, 1> parts = {bytes};
    const long sent = target.connection.trySend(parts);
    if (sent < 0) {
      target.failed = true;
      return;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(sent));
    if (bytes.empty()) {
      return;
    }
  }
  target.changed.wait(lock, [&] {
    return target.queuedBytes < kMaxQueuedBytes || target.failed || target.stopping;
  });
  if (target.failed || target.stopping) {
    return;
  }
  // Small passes are gathered into one chunk, so the writer moves them with few system calls.
  if (target.queue.empty() || target.queue.back().size() >= kPassBytes) {
    target.queue.emplace_back();
  }
  target.queue.back().insert(target.queue.back().end(), bytes.begin(), bytes.end());
  target.queuedBytes += bytes.size();
  target.changed.notify_all();
}

void BareRelay::writeLoop(Link& target) {
  platform::raiseThreadPriority();
  std::unique_lock lock(target.mutex);
  for (;;) {
    target.changed.wait(lock, [&] { return !target.queue.empty() || target.stopping; });
    if (target.stopping) {
      return;
    }
    // Everything queued goes out in one gathering write, as the hub's writer does.
    std::deque<std::vector<std::uint8_t>> chunks;
    chunks.swap(target.queue);
    target.writing = true;
    lock.unlock();
    const bool written = writeAll(target.connection, chunks, stopping_);
    lock.lock();
    target.writing = false;
    for (const auto& chunk : chunks) {
      target.queuedBytes -= chunk.size();
    }
    target.failed = target.failed || !written;
    target.changed.notify_all();
    if (target.failed) {
      return;
    }
  }
}

std::vector<BareRelay::Link*> BareRelay::linksSnapshot() {
  std::lock_guard lock(linksMutex_);
  std::vector<Link*> snapshot;
  snapshot.reserve(links_.size());
  for (const auto& link : links_) {
    snapshot.push_back(link.get());
  }
  return snapshot;
}

}  // namespace korvane::tools
