#pragma once

namespace korvane::hub {

/// What the listener reports of the hub's TCP port (the control pipe answers it on request).
enum class ListenState : int {
  kUndecided = 0,      ///< the listener has not tried yet
  kListening = 1,      ///< the hub listens on its TCP port
  kTcpPortInUse = -1,  ///< another program already listened on the TCP port at start
};

}  // namespace korvane::hub
