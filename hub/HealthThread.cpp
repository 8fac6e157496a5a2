#include "hub/HealthThread.h"

#include "hub/PortManager.h"

namespace korvane::hub {

HealthThread::HealthThread(const platform::Clock& clock, std::shared_ptr<PortManager> ports,
                           common::ThreadFailureHandler onFailure)
    : clock_(clock), ports_(std::move(ports)), onFailure_(std::move(onFailure)) {}

HealthThread::~HealthThread() {
  stop();
}

void HealthThread::start() {
  thread_ = std::thread([this] {
    common::runThread(
        "HealthThread", [this] { run(); }, onFailure_);
  });
}

void HealthThread::stop() {
  stop_ = true;
  if (thread_.joinable()) {
    thread_.join();
  }
}

void HealthThread::run() {
  while (!stop_) {
    clock_.sleepFor(kHealthCheckPeriod);
    if (stop_) {
      break;
    }
    ports_->healthCheck();
  }
}

}  // namespace korvane::hub
