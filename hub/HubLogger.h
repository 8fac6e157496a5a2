#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "hub/HubLog.h"
#include "hub/LineRateLimit.h"
#include "platform/Clock.h"

namespace korvane::hub {

/// Where the hub's classes write their lines: both logs once they are open, and the rate limits
/// of the lines that could repeat with every frame or every connection. Shared by every thread.
class HubLogger {
 public:
  /// A logger that drops lines until open(); rate limits run on `clock`.
  explicit HubLogger(const platform::Clock& clock) : clock_(clock) {}
  HubLogger(const HubLogger&) = delete;
  HubLogger& operator=(const HubLogger&) = delete;

  /// Takes the hub's logs; called once at start-up, before any other thread exists.
  void open(std::unique_ptr<HubLog> logs) { logs_ = std::move(logs); }
  /// The logs given to open(), for their start-up and shut-down; null before.
  HubLog* logs() { return logs_.get(); }

  /// Hands `text` to both logs once they exist; before that the line is dropped.
  void log(std::string_view text) {
    if (logs_) {
      logs_->write(text);
    }
  }

  /// Hands `text` to both logs unless `limit` holds it back at this moment; the first line let
  /// through after some were held back is followed by "N similar lines left out".
  void logLimited(LineRateLimit& limit, std::string_view text) {
    const std::optional<std::uint64_t> heldBack = limit.pass(clock_.tickCount());
    if (!heldBack) {
      return;
    }
    log(text);
    if (*heldBack > 0) {
      log(leftOutLine(*heldBack));
    }
  }

  /// "SendComplete Error %d" and "SOCKETPORT::SendData SendPending TOO MUCH" are written at
  /// most once a second each, hub-wide.
  LineRateLimit sendErrorLines{std::chrono::milliseconds(1000)};
  LineRateLimit pendingOverflowLines{std::chrono::milliseconds(1000)};

  /// Lines that anyone who can reach the hub's TCP port causes once per connection before any
  /// login: " [WARNING] PORT COUNT EXCEEDS THE LIMIT!!", a failed accept that passes, and the
  /// filter's refusal. Each kind is written at most once per kRepeatedLineInterval, hub-wide, so
  /// that a stream of connections cannot fill the disk with them.
  LineRateLimit hubFullLines;
  LineRateLimit acceptFailureLines;
  LineRateLimit filterRefusalLines;
  /// A connection refused because no thread could be made for it: when the machine runs out of
  /// threads, every newcomer would cause one.
  LineRateLimit threadShortageLines;

 private:
  const platform::Clock& clock_;
  std::unique_ptr<HubLog> logs_;
};

}  // namespace korvane::hub
