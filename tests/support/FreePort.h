#pragma once

namespace korvane::testing {

/// A TCP port that nothing on this machine listens on right now (the kernel's choice for port 0
/// on the loopback address). Another process may still take it before the test does, but it does
/// not collide with other tests the way a fixed number would.
int freeTcpPort();

}  // namespace korvane::testing
