#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "common/RunThread.h"
#include "hub/LineRateLimit.h"
#include "platform/Clock.h"

namespace korvane::hub {

/// At most one "cannot write" line per this interval, hub-wide: a disk that refuses every write
/// would otherwise add a line for every DHCP packet of every domain.
inline constexpr std::chrono::milliseconds kLeaseWriteFailureLogInterval{60'000};

/// Writes lease files behind the threads that switch frames, on one thread of its own. A change
/// only marks its file as changed (constant time, no disk access), so a slow disk or a folder
/// lock held by another program never stops the switching. Several changes of one file before
/// the writer gets to it become one write of the latest content; files are written in the order
/// in which they were first marked; a failed write is logged once and tried again at the next
/// wake and at stop, so a clean stop leaves every file holding its last content.
class LeaseWriter {
 public:
  /// What owns a file's content: the writer asks it for the text when it writes the file.
  class Source {
   public:
    virtual ~Source() = default;
    /// The path of the file to write.
    virtual const std::string& filePath() const = 0;
    /// The file's current content; std::nullopt when it cannot be had now (tried again later).
    virtual std::optional<std::string> currentText() const = 0;
  };

  /// Receives the writer's log lines.
  using LogSink = std::function<void(std::string_view)>;

  /// A writer that logs failed writes to `log`, rate-limited by `clock`; no thread runs yet. An
  /// exception that escapes its thread goes to `onFailure`.
  LeaseWriter(LogSink log, const platform::Clock& clock,
              common::ThreadFailureHandler onFailure = {});
  /// Stops the thread as stop() does.
  ~LeaseWriter();

  LeaseWriter(const LeaseWriter&) = delete;
  LeaseWriter& operator=(const LeaseWriter&) = delete;

  /// Starts the writing thread.
  void start();

  /// Notes that `source`'s file is to be written with its content of the time of writing, and
  /// wakes the thread. A later mark of the same path by another source replaces the earlier
  /// source. Never touches the disk; safe under any lock of the caller's.
  void markChanged(std::shared_ptr<const Source> source);

  /// The source whose content `path` is still to get (marked, being written, or failed last
  /// time); null when the file holds its last content. Never touches the disk.
  std::shared_ptr<const Source> outstanding(const std::string& path);

  /// Writes every marked file now on the calling thread, files whose last write failed included.
  void flush();

  /// Writes what is still marked and ends the thread; marks made afterwards wait for a flush.
  /// Call once nothing changes leases any more, so the files end with the last content.
  void stop();

 private:
  void run();
  void writeMarked();
  void writeOne(const Source& source);
  void retryFailed();

  const LogSink log_;
  const platform::Clock& clock_;
  const common::ThreadFailureHandler onFailure_;
  LineRateLimit failureLines_{kLeaseWriteFailureLogInterval};

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  // Paths in the order they were marked, each once, with the source to write each from.
  std::deque<std::string> order_;
  std::map<std::string, std::shared_ptr<const Source>> marked_;
  // Sources whose last write failed and that were not marked again since.
  std::map<std::string, std::shared_ptr<const Source>> failed_;
  // The source being written now, if any.
  std::shared_ptr<const Source> writing_;

  // Held for a whole round of writes, so that the thread and a flush never write at once.
  std::mutex writingMutex_;
  // Paths whose last write failed; the writing thread (or flush) alone touches it.
  std::set<std::string> failing_;

  std::thread thread_;
};

}  // namespace korvane::hub
