#include "manager/DnsUpdateScheduler.h"

#include "common/DnsLog.h"
#include "common/ManagerConfig.h"

namespace korvane::manager {

DnsUpdateScheduler::DnsUpdateScheduler(std::string configPath, DnsUpdateSettings settings,
                                       const platform::Clock& clock, Update update)
    : configPath_(std::move(configPath)),
      settings_(std::move(settings)),
      clock_(clock),
      update_(std::move(update)) {
  settings_.cancel = &stopping_;
  if (!update_) {
    update_ = [this](const std::string& passCode) { runDnsUpdate(passCode, settings_); };
  }
}

DnsUpdateScheduler::~DnsUpdateScheduler() {
  stop();
}

// start() runs on the service's main thread and stop() on the stop-signal thread, possibly at
// the same time: the thread object is handed over under the lock, and a stop that comes first
// keeps the thread from starting at all.
void DnsUpdateScheduler::start(common::ThreadFailureHandler onFailure) {
  std::lock_guard lock(mutex_);
  if (stopping_ || thread_.joinable()) {
    return;
  }
  thread_ = std::thread([this, onFailure = std::move(onFailure)] {
    common::runThread("DnsUpdate", [this] { loop(); }, onFailure);
  });
}

void DnsUpdateScheduler::stop() {
  std::thread running;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    running = std::move(thread_);
  }
  wake_.notify_all();
  if (running.joinable()) {
    running.join();
  }
}

void DnsUpdateScheduler::loop() {
  // A thread's failure must not end the manager: a check that throws (out of memory, say) is
  // dropped and the next one tried a second later.
  for (;;) {
    try {
      check();
    } catch (...) {
    }
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, kDnsCheckInterval, [this] { return stopping_.load(); })) {
      return;
    }
  }
}

void DnsUpdateScheduler::check() {
  const std::optional<platform::FileStamp> stamp = platform::fileStamp(configPath_);
  if (!stamp) {
    // No file, no pass code: a file that comes back is read as new.
    mark_.reset();
    passCode_.clear();
    removeLog();
    return;
  }
  if (stamp != mark_) {
    mark_ = stamp;
    passCode_ = common::ManagerConfig(configPath_).readPassCode();
    removeLog();
    if (!passCode_.empty()) {
      sendUpdate();
    }
    return;
  }
  if (passCode_.empty()) {
    removeLog();
    return;
  }
  if (!lastUpdate_ || platform::ticksBetween(*lastUpdate_, clock_.tickCount()) >=
                          static_cast<std::uint32_t>(kDnsRepeatInterval.count())) {
    sendUpdate();
  }
}

void DnsUpdateScheduler::removeLog() {
  std::string err;
  (void)common::removeDnsLog(settings_.logPath, &err);  // a log left over is deleted next time
}

void DnsUpdateScheduler::sendUpdate() {
  lastUpdate_ = clock_.tickCount();
  update_(passCode_);
}

}  // namespace korvane::manager
