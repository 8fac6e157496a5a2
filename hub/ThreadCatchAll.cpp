#include "hub/ThreadCatchAll.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "hub/HubProcess.h"

namespace korvane::hub {
namespace {

constexpr std::string_view kStars = "***********************************";

}  // namespace

void logBanner(HubLogger& log, std::string_view title) {
  log.log(kStars);
  log.log(title);
  log.log(kStars);
}

common::ThreadFailureHandler endHubOnThreadFailure(std::shared_ptr<HubLogger> log) {
  return [log = std::move(log)](const common::ThreadFailure& failure) {
    logBanner(*log, kExceptionBanner);
    log->log("Catch Exception in " + std::string(failure.thread));
    if (failure.step) {
      char line[64];
      std::snprintf(line, sizeof line, "iStepNo = %d", *failure.step);
      log->log(line);
    } else {
      log->log(failure.what);
    }
    // Other threads may still be running: leave at once, without running destructors under them.
    std::_Exit(kHubExitFailure);
  };
}

}  // namespace korvane::hub
