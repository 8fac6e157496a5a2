#include "hub/ThreadCatchAll.h"

#include <cstdio>
#include <cstdlib>

#include "hub/HubProcess.h"

namespace korvane::hub {
namespace {

constexpr const char* kStars = "***********************************";
constexpr const char* kExceptionBanner = "        Catch Exception            ";

}  // namespace

void endProcessAfterException(HubLogger& log, std::string_view where, int step) {
  log.log(kStars);
  log.log(kExceptionBanner);
  log.log(kStars);
  log.log(where);
  char line[64];
  std::snprintf(line, sizeof line, "iStepNo = %d", step);
  log.log(line);
  // Other threads may still be running: leave at once, without running destructors under them.
  std::_Exit(kHubExitFailure);
}

}  // namespace korvane::hub
