#pragma once

#include <cstdint>
#include <span>

namespace korvane::platform {

/// Fills `out` with bytes from the kernel's cryptographic random source. False when the source
/// fails; `out` is then unspecified.
[[nodiscard]] bool fillRandom(std::span<std::uint8_t> out);

}  // namespace korvane::platform
