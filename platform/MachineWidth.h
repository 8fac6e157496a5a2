#pragma once

namespace korvane::platform {

/// 64 on a machine whose kernel is 64-bit (even for a program built for 32 bits), 32 otherwise;
/// computed once and then remembered for the life of the process.
int machineWordBits();

}  // namespace korvane::platform
