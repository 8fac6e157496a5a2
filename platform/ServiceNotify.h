#pragma once

#include <string_view>

namespace korvane::platform {

/// Tells the service manager that supervises this process about a state change ("READY=1",
/// "STOPPING=1"), when it asked for such reports through $NOTIFY_SOCKET. Does nothing otherwise
/// or when the report cannot be sent: reports are a courtesy, never a reason to fail.
void notifyServiceManager(std::string_view state);

}  // namespace korvane::platform
