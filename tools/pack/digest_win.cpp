#include "platform/win_support.hpp"

#include <bcrypt.h>  // after <windows.h>

#include <algorithm>

#include "pack/digest.hpp"

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

// The provider and hash handles, released in reverse order.
struct HashHandles {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  HashHandles() = default;
  HashHandles(const HashHandles&) = delete;
  HashHandles& operator=(const HashHandles&) = delete;
  ~HashHandles() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

std::string cng_reason(NTSTATUS status) {
  return "CNG status 0x" + [status] {
    std::string digits;
    for (int shift = 28; shift >= 0; shift -= 4) {
      digits += "0123456789ABCDEF"[(static_cast<unsigned long>(status) >> shift) & 0xF];
    }
    return digits;
  }();
}

}  // namespace

std::expected<std::vector<std::uint8_t>, std::string> digest_of(DigestAlgorithm algorithm,
                                                                std::span<const Bytes> pieces,
                                                                const WindowDone& done) {
  HashHandles handles;
  NTSTATUS status = BCryptOpenAlgorithmProvider(&handles.algorithm, cng_algorithm(algorithm),
                                                nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) return std::unexpected(cng_reason(status));
  status = BCryptCreateHash(handles.algorithm, &handles.hash, nullptr, 0, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(status)) return std::unexpected(cng_reason(status));
  for (Bytes piece : pieces) {
    while (!piece.empty()) {
      const Bytes window = piece.first(std::min(piece.size(), kWindow));
      status = BCryptHashData(handles.hash, const_cast<PUCHAR>(window.data()),
                              static_cast<ULONG>(window.size()), 0);
      if (!BCRYPT_SUCCESS(status)) return std::unexpected(cng_reason(status));
      if (done) done(window);
      piece = piece.subspan(window.size());
    }
  }
  DWORD length = 0;
  ULONG got = 0;
  status = BCryptGetProperty(handles.hash, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length),
                             sizeof length, &got, 0);
  if (!BCRYPT_SUCCESS(status)) return std::unexpected(cng_reason(status));
  std::vector<std::uint8_t> digest(length);
  status = BCryptFinishHash(handles.hash, digest.data(), length, 0);
  if (!BCRYPT_SUCCESS(status)) return std::unexpected(cng_reason(status));
  return digest;
}

}  // namespace brevlo::pack
