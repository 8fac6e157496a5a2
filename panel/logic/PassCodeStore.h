#pragma once

#include <string>
#include <string_view>

#include "common/ManagerConfig.h"

namespace korvane::panel {

/// Stores a new dynamic DNS pass code as the panel does after a registration: the DNS log is
/// reset to "---------" first and the code stored then, so the manager's outcome for the new
/// code (within a second) is never overwritten by the mark. A log that cannot be reset only
/// puts a message into `warning`; false with a message in `err` when the code cannot be stored
/// (the old one stays).
[[nodiscard]] bool storeNewPassCode(common::ManagerConfig& config, std::string_view passCode,
                                    const std::string& dnsLogPath, std::string* warning,
                                    std::string* err);

}  // namespace korvane::panel
