#include "common/Md5.h"

#include <openssl/evp.h>

namespace korvane::common {

std::optional<Md5Digest> md5Digest(std::span<const std::uint8_t> data) {
  Md5Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) {
    return std::nullopt;
  }
  if (length != kMd5DigestSize) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace korvane::common
