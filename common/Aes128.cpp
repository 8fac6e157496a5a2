#include "common/Aes128.h"

#include <openssl/evp.h>

#include <climits>
#include <memory>

namespace korvane::common {

namespace {

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

enum class Direction : int { kDecrypt = 0, kEncrypt = 1 };

bool isWholeBlocks(std::span<const std::uint8_t> data) {
  // libcrypto counts bytes in an int.
  return data.size() % kAesBlockSize == 0 && data.size() <= static_cast<std::size_t>(INT_MAX);
}

bool runEcb(const Aes128Key& key, std::span<std::uint8_t> data, Direction direction) {
  if (!isWholeBlocks(data)) {
    return false;
  }
  if (data.empty()) {
    return true;
  }
  CipherContext context(EVP_CIPHER_CTX_new());
  if (!context) {
    return false;
  }
  if (EVP_CipherInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr,
                        static_cast<int>(direction)) != 1) {
    return false;
  }
  // Whole blocks only: no padding is added on encryption or expected on decryption.
  if (EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1) {
    return false;
  }
  int written = 0;
  if (EVP_CipherUpdate(context.get(), data.data(), &written, data.data(),
                       static_cast<int>(data.size())) != 1) {
    return false;
  }
  int finalWritten = 0;
  if (EVP_CipherFinal_ex(context.get(), data.data() + written, &finalWritten) != 1) {
    return false;
  }
  return static_cast<std::size_t>(written) + static_cast<std::size_t>(finalWritten) == data.size();
}

}  // namespace

bool aes128EncryptEcb(const Aes128Key& key, std::span<std::uint8_t> data) {
  return runEcb(key, data, Direction::kEncrypt);
}

bool aes128DecryptEcb(const Aes128Key& key, std::span<std::uint8_t> data) {
  return runEcb(key, data, Direction::kDecrypt);
}

}  // namespace korvane::common
