#include "core/win/image_digest.hpp"

#include <algorithm>

#include "core/payload.hpp"
#include "core/win/system_library.hpp"

#include <bcrypt.h>  // after <windows.h>, which system_library.hpp brings in

namespace brevlo {
namespace {

// The CNG calls the check makes, taken from bcrypt.dll at run time: the launch path never hashes,
// so the launcher neither imports bcrypt.dll nor loads it at start.
struct HashCalls {
  decltype(&::BCryptOpenAlgorithmProvider) open = nullptr;
  decltype(&::BCryptCloseAlgorithmProvider) close = nullptr;
  decltype(&::BCryptCreateHash) create = nullptr;
  decltype(&::BCryptHashData) hash = nullptr;
  decltype(&::BCryptFinishHash) finish = nullptr;
  decltype(&::BCryptDestroyHash) destroy = nullptr;
};

Result<HashCalls> find_hash_calls(const ModuleLookup& lookup) {
  HMODULE bcrypt = load_system_library(lookup, L"bcrypt.dll");
  if (bcrypt == nullptr) return std::unexpected(Error::os(::GetLastError()));
  HashCalls calls;
  if (!find_call(bcrypt, "BCryptOpenAlgorithmProvider", calls.open) ||
      !find_call(bcrypt, "BCryptCloseAlgorithmProvider", calls.close) ||
      !find_call(bcrypt, "BCryptCreateHash", calls.create) ||
      !find_call(bcrypt, "BCryptHashData", calls.hash) ||
      !find_call(bcrypt, "BCryptFinishHash", calls.finish) ||
      !find_call(bcrypt, "BCryptDestroyHash", calls.destroy)) {
    return std::unexpected(Error::os(::GetLastError()));
  }
  return calls;
}

// The provider and hash handles, released in reverse order whatever the outcome.
class HashSession {
 public:
  explicit HashSession(const HashCalls& calls) : calls_(calls) {}
  ~HashSession() {
    if (hash_ != nullptr) calls_.destroy(hash_);
    if (algorithm_ != nullptr) calls_.close(algorithm_, 0);
  }
  HashSession(const HashSession&) = delete;
  HashSession& operator=(const HashSession&) = delete;

  // Hashes bytes in pieces a ULONG can count; the status of the first call that fails.
  NTSTATUS run(std::span<const std::uint8_t> bytes, std::array<std::uint8_t, 32>& digest) {
    NTSTATUS status = calls_.open(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) return status;
    // A null object buffer lets CNG allocate it (Windows 7 and later).
    status = calls_.create(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0);
    while (BCRYPT_SUCCESS(status) && !bytes.empty()) {
      const std::size_t piece = std::min<std::size_t>(bytes.size(), 0x40000000);
      status = calls_.hash(hash_, const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(piece), 0);
      bytes = bytes.subspan(piece);
    }
    if (!BCRYPT_SUCCESS(status)) return status;
    return calls_.finish(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0);
  }

 private:
  const HashCalls& calls_;
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

}  // namespace

Result<std::array<std::uint8_t, 32>> system_sha256(std::span<const std::uint8_t> bytes) {
  static const Result<HashCalls> calls = find_hash_calls(ModuleLookup{});
  if (!calls) return std::unexpected(calls.error());
  std::array<std::uint8_t, 32> digest{};
  HashSession session(*calls);
  const NTSTATUS status = session.run(bytes, digest);
  if (!BCRYPT_SUCCESS(status)) return std::unexpected(Error::os(RtlNtStatusToDosError(status)));
  return digest;
}

Result<bool> embedded_image_intact(std::span<const std::uint8_t> image) {
  const std::optional<PackOptions> options = embedded_pack_options();
  if (!options) return false;
  auto digest = system_sha256(image);
  if (!digest) return std::unexpected(digest.error());
  return *digest == options->image_sha256;
}

}  // namespace brevlo
