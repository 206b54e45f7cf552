#include "package/md5.h"

#include <openssl/evp.h>

#include <memory>

namespace orvik {

Md5Digest md5Digest(std::span<const std::uint8_t> bytes) {
  Md5Digest digest{};
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  &EVP_MD_CTX_free);
  unsigned int length = 0;
  // libcrypto only fails here when it runs out of memory; the digest then stays zero and
  // never matches a file's, so the file is refused rather than trusted.
  if (context && EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) == 1 &&
      EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) == 1 &&
      EVP_DigestFinal_ex(context.get(), digest.data(), &length) == 1 && length == digest.size()) {
    return digest;
  }
  return Md5Digest{};
}

}  // namespace orvik
