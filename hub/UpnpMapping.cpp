#include "hub/UpnpMapping.h"

#include <algorithm>

namespace korvane::hub {
namespace {

// Waits are cut into slices this long, so that a stop ends them quickly.
constexpr std::chrono::milliseconds kWaitSlice{100};

// The UPnP client, which gives up its router exchanges as soon as the hub stops.
class ClientMapper final : public PortMapper {
 public:
  explicit ClientMapper(const std::atomic<bool>& stopping)
      : client_(common::UpnpLimits{}, [&stopping] { return stopping.load(); }) {}

  common::UpnpCheck check(int port, int internalPort, std::string* err) override {
    return client_.checkMapping(port, internalPort, err);
  }
  bool add(int port, int internalPort, std::string* err) override {
    return client_.addMapping(port, internalPort, err);
  }

 private:
  common::UpnpClient client_;
};

}  // namespace

UpnpMapping::UpnpMapping(LogFunction log, const platform::Clock& clock, int snatPort, int hubPort,
                         std::unique_ptr<PortMapper> mapper)
    : log_(std::move(log)),
      clock_(clock),
      snatPort_(snatPort),
      hubPort_(hubPort),
      mapper_(mapper ? std::move(mapper) : std::make_unique<ClientMapper>(stopping_)) {}

UpnpMapping::~UpnpMapping() { stop(); }

void UpnpMapping::start(common::ThreadFailureHandler onFailure) {
  thread_ = std::thread([this, onFailure = std::move(onFailure)] {
    common::runThread("UpnpMapping", [this] { run(); }, onFailure);
  });
}

void UpnpMapping::stop() {
  stopping_ = true;
  if (thread_.joinable()) {
    thread_.join();
  }
}

bool UpnpMapping::waitFor(std::chrono::milliseconds duration) {
  const platform::Tick start = clock_.tickCount();
  for (;;) {
    if (stopping_) {
      return false;
    }
    const auto waited = std::chrono::milliseconds(platform::ticksBetween(start, clock_.tickCount()));
    if (waited >= duration) {
      return true;
    }
    clock_.sleepFor(std::min(kWaitSlice, duration - waited));
  }
}

void UpnpMapping::run() {
  while (!stopping_) {
    const platform::Tick cycleStart = clock_.tickCount();
    if (snatPort_ != 0) {
      runCycle();
    }
    const auto spent = std::chrono::milliseconds(platform::ticksBetween(cycleStart, clock_.tickCount()));
    if (!waitFor(spent > kCycle ? kCycle : kCycle - spent)) {
      return;
    }
  }
}

void UpnpMapping::runCycle() {
  std::string err;
  if (mapper_->check(snatPort_, hubPort_, &err) == common::UpnpCheck::kMapped) {
    log_("SNAT Checking OK");
    return;
  }
  for (int attempt = 1; attempt <= kMaxAttempts && !stopping_; ++attempt) {
    const platform::Tick attemptStart = clock_.tickCount();
    err.clear();
    const bool added = mapper_->add(snatPort_, hubPort_, &err);
    std::string checkError;
    if (mapper_->check(snatPort_, hubPort_, &checkError) == common::UpnpCheck::kMapped) {
      log_("SNAT Reconfiguring OK");
      return;
    }
    if (stopping_) {
      return;  // the exchange was cut short by the stop, not refused by the router
    }
    log_("SNAT Reconfiguring NG : " + (added ? checkError : err));
    const auto spent =
        std::chrono::milliseconds(platform::ticksBetween(attemptStart, clock_.tickCount()));
    if (attempt < kMaxAttempts && spent < kRetryInterval && !waitFor(kRetryInterval - spent)) {
      return;
    }
  }
}

}  // namespace korvane::hub
