#include "common/FrameCipher.h"

#include <algorithm>

#include "common/Aes128.h"

namespace korvane::common {
namespace {

void setError(std::string* err, std::string message) {
  if (err != nullptr) {
    *err = std::move(message);
  }
}

}  // namespace

std::optional<std::size_t> encryptFrame(const NetworkKey& key, std::span<std::uint8_t> buffer,
                                        std::size_t frameLength, std::string* err) {
  const std::size_t payloadLength = encryptedPayloadSize(frameLength);
  if (frameLength > buffer.size() || payloadLength > buffer.size()) {
    setError(err, "no room to pad a frame of " + std::to_string(frameLength) + " bytes to " +
                      std::to_string(payloadLength) + " in a buffer of " +
                      std::to_string(buffer.size()));
    return std::nullopt;
  }
  if (payloadLength <= kFramePlainHeaderSize) {
    return payloadLength;
  }
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(frameLength),
            buffer.begin() + static_cast<std::ptrdiff_t>(payloadLength), std::uint8_t{0});
  const auto encrypted =
      buffer.subspan(kFramePlainHeaderSize, payloadLength - kFramePlainHeaderSize);
  if (!aes128EncryptEcb(key, encrypted)) {
    setError(err, "AES-128 encryption failed in libcrypto");
    return std::nullopt;
  }
  return payloadLength;
}

std::optional<std::size_t> decryptFrame(const NetworkKey& key, std::span<std::uint8_t> payload,
                                        std::uint32_t plainLength, std::string* err) {
  // Only the one length that encryptFrame() makes is accepted: a payload shorter than its frame,
  // a cut block or padding of a whole block or more is no encrypted frame of this length.
  if (payload.size() != encryptedPayloadSize(plainLength)) {
    setError(err, "an encrypted payload of " + std::to_string(payload.size()) +
                      " bytes cannot hold a frame of " + std::to_string(plainLength) +
                      " bytes (expected " + std::to_string(encryptedPayloadSize(plainLength)) +
                      ")");
    return std::nullopt;
  }
  if (payload.size() <= kFramePlainHeaderSize) {
    return payload.size();
  }
  if (!aes128DecryptEcb(key, payload.subspan(kFramePlainHeaderSize))) {
    setError(err, "AES-128 decryption failed in libcrypto");
    return std::nullopt;
  }
  return plainLength;
}

}  // namespace korvane::common
