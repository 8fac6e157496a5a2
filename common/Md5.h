#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

/// MD5 message digests (RFC 1321), with which a client proves that it knows an account's
/// password without sending it.
namespace korvane::common {

/// Size of an MD5 digest in bytes, fixed by RFC 1321.
inline constexpr std::size_t kMd5DigestSize = 16;

using Md5Digest = std::array<std::uint8_t, kMd5DigestSize>;

/// The MD5 digest of `data`; std::nullopt only when libcrypto cannot compute it (for instance
/// when its configuration forbids MD5).
[[nodiscard]] std::optional<Md5Digest> md5Digest(std::span<const std::uint8_t> data);

}  // namespace korvane::common
