#include "hub/LeaseWriter.h"

#include <exception>
#include <utility>

#include "platform/WholeFile.h"

namespace korvane::hub {

LeaseWriter::LeaseWriter(LogSink log, const platform::Clock& clock,
                         common::ThreadFailureHandler onFailure)
    : log_(std::move(log)), clock_(clock), onFailure_(std::move(onFailure)) {}

LeaseWriter::~LeaseWriter() {
  stop();
}

void LeaseWriter::start() {
  const std::lock_guard lock(mutex_);
  if (!thread_.joinable() && !stopping_) {
    thread_ = std::thread([this] {
      common::runThread(
          "LeaseWriter", [this] { run(); }, onFailure_);
    });
  }
}

void LeaseWriter::markChanged(std::shared_ptr<const Source> source) {
  {
    const std::lock_guard lock(mutex_);
    const std::string& path = source->filePath();
    failed_.erase(path);
    const auto [entry, added] = marked_.insert_or_assign(path, std::move(source));
    if (added) {
      order_.push_back(entry->first);
    }
  }
  wake_.notify_one();
}

std::shared_ptr<const LeaseWriter::Source> LeaseWriter::outstanding(const std::string& path) {
  const std::lock_guard lock(mutex_);
  for (const auto* sources : {&marked_, &failed_}) {
    if (const auto found = sources->find(path); found != sources->end()) {
      return found->second;
    }
  }
  return writing_ && writing_->filePath() == path ? writing_ : nullptr;
}

void LeaseWriter::flush() {
  retryFailed();
  writeMarked();
}

void LeaseWriter::stop() {
  std::thread thread;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    thread = std::move(thread_);
  }
  wake_.notify_one();
  if (thread.joinable()) {
    thread.join();
  }
  // Whatever was marked while the thread finished, or failed last time, gets one more try.
  flush();
}

void LeaseWriter::run() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !order_.empty(); });
      if (stopping_) {
        return;  // stop() writes what is left
      }
    }
    // A file that failed is tried again whenever the writer wakes anyway; waking only for it
    // would spin on a disk that stays broken.
    try {
      flush();
    } catch (const std::exception& e) {
      log_(std::string("Lease writer: ") + e.what());
    }
  }
}

void LeaseWriter::retryFailed() {
  const std::lock_guard lock(mutex_);
  for (auto& [path, source] : failed_) {
    if (marked_.try_emplace(path, std::move(source)).second) {
      order_.push_back(path);
    }
  }
  failed_.clear();
}

void LeaseWriter::writeMarked() {
  const std::lock_guard writing(writingMutex_);
  for (;;) {
    std::shared_ptr<const Source> source;
    {
      const std::lock_guard lock(mutex_);
      if (order_.empty()) {
        return;
      }
      // Taken off the list before its content is read, so a change made meanwhile marks the
      // file again and is written too.
      const auto entry = marked_.find(order_.front());
      order_.pop_front();
      source = std::move(entry->second);
      marked_.erase(entry);
      writing_ = source;
    }
    writeOne(*source);
    const std::lock_guard lock(mutex_);
    writing_.reset();
    if (failing_.contains(source->filePath()) && !marked_.contains(source->filePath())) {
      failed_.insert_or_assign(source->filePath(), std::move(source));
    }
  }
}

// A failure is logged when a file starts failing, not again until it has been written once, and
// never more often than the rate limit allows across all files.
void LeaseWriter::writeOne(const Source& source) {
  const std::string& path = source.filePath();
  std::string err;
  const std::optional<std::string> text = source.currentText();
  if (!text) {
    err = "the lease list stayed locked";
  } else if (platform::replaceWholeFile(path, *text, &err)) {
    failing_.erase(path);
    return;
  }
  if (failing_.insert(path).second && failureLines_.pass(clock_.tickCount())) {
    log_("Cannot write the lease file " + path + ": " + err);
  }
}

}  // namespace korvane::hub
