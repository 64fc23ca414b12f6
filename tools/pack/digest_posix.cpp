#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>

#include "pack/digest.hpp"
#include "platform/unique_resource.hpp"

namespace brevlo::pack {
namespace {

const EVP_MD* evp_digest(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Sha1: return EVP_sha1();
    case DigestAlgorithm::Sha256: return EVP_sha256();
    case DigestAlgorithm::Sha384: return EVP_sha384();
    case DigestAlgorithm::Sha512: return EVP_sha512();
  }
  return nullptr;
}

struct FreeContext {
  void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
};

std::string openssl_reason() {
  const unsigned long code = ERR_get_error();
  if (code == 0) return "OpenSSL reported no reason";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

}  // namespace

PackResult<std::vector<std::uint8_t>> digest_of(DigestAlgorithm algorithm,
                                                                std::span<const Bytes> pieces,
                                                                const WindowDone& done) {
  const UniqueResource<EVP_MD_CTX*, FreeContext> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), evp_digest(algorithm), nullptr) != 1) {
    return pack_error(PackErrorKind::System, openssl_reason());
  }
  for (Bytes piece : pieces) {
    while (!piece.empty()) {
      const Bytes window = piece.first(std::min(piece.size(), kWindow));
      if (EVP_DigestUpdate(context.get(), window.data(), window.size()) != 1) {
        return pack_error(PackErrorKind::System, openssl_reason());
      }
      if (done) done(window);
      piece = piece.subspan(window.size());
    }
  }
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1) {
    return pack_error(PackErrorKind::System, openssl_reason());
  }
  digest.resize(size);
  return digest;
}

}  // namespace brevlo::pack
