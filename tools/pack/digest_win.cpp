#include "platform/windows_api_win.hpp"

#include <bcrypt.h>  // after <windows.h>

#include <algorithm>

#include "pack/digest.hpp"
#include "platform/hex_digit.hpp"
#include "platform/unique_resource.hpp"

namespace brevlo::pack {
namespace {

const wchar_t* cng_algorithm(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Sha1: return BCRYPT_SHA1_ALGORITHM;
    case DigestAlgorithm::Sha256: return BCRYPT_SHA256_ALGORITHM;
    case DigestAlgorithm::Sha384: return BCRYPT_SHA384_ALGORITHM;
    case DigestAlgorithm::Sha512: return BCRYPT_SHA512_ALGORITHM;
  }
  return nullptr;
}

struct CloseProvider {
  void operator()(BCRYPT_ALG_HANDLE algorithm) const noexcept {
    BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};
struct DestroyHash {
  void operator()(BCRYPT_HASH_HANDLE hash) const noexcept { BCryptDestroyHash(hash); }
};

std::string cng_reason(NTSTATUS status) {
  std::string digits;
  for (int shift = 28; shift >= 0; shift -= 4) {
    digits += hex_digit(static_cast<unsigned long>(status) >> shift, HexCase::Upper);
  }
  return "CNG status 0x" + digits;
}

}  // namespace

PackResult<std::vector<std::uint8_t>> digest_of(DigestAlgorithm algorithm,
                                                                std::span<const Bytes> pieces,
                                                                const WindowDone& done) {
  // The hash goes before its provider.
  UniqueResource<BCRYPT_ALG_HANDLE, CloseProvider> provider;
  NTSTATUS status = BCryptOpenAlgorithmProvider(provider.put(), cng_algorithm(algorithm),
                                                nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) return pack_error(PackErrorKind::System, cng_reason(status));
  UniqueResource<BCRYPT_HASH_HANDLE, DestroyHash> hash;
  status = BCryptCreateHash(provider.get(), hash.put(), nullptr, 0, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(status)) return pack_error(PackErrorKind::System, cng_reason(status));
  for (Bytes piece : pieces) {
    while (!piece.empty()) {
      const Bytes window = piece.first(std::min(piece.size(), kWindow));
      status = BCryptHashData(hash.get(), const_cast<PUCHAR>(window.data()),
                              static_cast<ULONG>(window.size()), 0);
      if (!BCRYPT_SUCCESS(status)) return pack_error(PackErrorKind::System, cng_reason(status));
      if (done) done(window);
      piece = piece.subspan(window.size());
    }
  }
  DWORD length = 0;
  ULONG got = 0;
  status = BCryptGetProperty(hash.get(), BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length),
                             sizeof length, &got, 0);
  if (!BCRYPT_SUCCESS(status)) return pack_error(PackErrorKind::System, cng_reason(status));
  std::vector<std::uint8_t> digest(length);
  status = BCryptFinishHash(hash.get(), digest.data(), length, 0);
  if (!BCRYPT_SUCCESS(status)) return pack_error(PackErrorKind::System, cng_reason(status));
  return digest;
}

}  // namespace brevlo::pack
