#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "common/RunThread.h"

namespace korvane::hub {

/// Reverse name lookups running at once, hub-wide. A lookup can block for the resolver's whole
/// time-out (tens of seconds when a name server does not answer), so a thread per connection
/// would let a stream of connections pile up threads without bound; eight keep a few slow
/// lookups from holding up everyone's names while a flood costs at most eight threads.
inline constexpr std::size_t kMaxNameLookups = 8;
/// Lookups waiting for a thread: room for a burst of clients reconnecting after a restart (a
/// name that answers takes milliseconds). A connection beyond it keeps the host name "unknown",
/// as after a failed lookup; its port thread would have given up waiting after 2 s anyway.
inline constexpr std::size_t kMaxQueuedNameLookups = 64;

/// A few threads that run blocking jobs (reverse name lookups) one after another from a bounded
/// queue. Posting never waits for a job: a full queue refuses at once. Threads are made as the
/// queue needs them, up to the limit, and stay until the pool is destroyed.
class NameLookupPool {
 public:
  using Job = std::function<void()>;

  /// A pool of at most `maxThreads` threads and `maxQueued` jobs waiting for them. A job that
  /// throws is dropped and the thread goes on; anything else that escapes a thread goes to
  /// `onFailure` and ends that thread.
  NameLookupPool(std::size_t maxThreads, std::size_t maxQueued,
                 common::ThreadFailureHandler onFailure = {});
  /// Drops the jobs still waiting and lets every thread end after the job it runs; does not
  /// wait for a job that blocks.
  ~NameLookupPool();
  NameLookupPool(const NameLookupPool&) = delete;
  NameLookupPool& operator=(const NameLookupPool&) = delete;

  /// Queues `job` for one of the threads. False, and `job` is dropped, when the queue is full
  /// or no thread can be made.
  [[nodiscard]] bool tryPost(Job job);

 private:
  struct Shared;
  static void work(const std::shared_ptr<Shared>& shared);

  const std::size_t maxThreads_;
  const std::size_t maxQueued_;
  const common::ThreadFailureHandler onFailure_;
  // Held by the threads too: they are detached, as a lookup that hangs must not hold up the end
  // of the hub, and they may outlive the pool.
  std::shared_ptr<Shared> shared_;
};

}  // namespace korvane::hub
