#pragma once
// Message digests for brevlo-pack, from the platform's own library: OpenSSL's libcrypto on Linux,
// the system's CNG (bcrypt.dll) on Windows.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pack/pack_error.hpp"
#include "pack/pe_format.hpp"

namespace brevlo::pack {

// The digests an Authenticode signature may use, and SHA-256 for the installer image.
enum class DigestAlgorithm { Sha1, Sha256, Sha384, Sha512 };

// "sha1", "sha256", "sha384" or "sha512".
std::string_view digest_name(DigestAlgorithm algorithm);

// The algorithm a dotted object identifier names (e.g. "2.16.840.1.101.3.4.2.1"), or nothing.
std::optional<DigestAlgorithm> digest_from_oid(std::string_view oid);

// The digest of the pieces' bytes one after the other, taken kWindow bytes at a time, done told
// of each window after it; the library's reason when it fails.
[[nodiscard]] PackResult<std::vector<std::uint8_t>> digest_of(
    DigestAlgorithm algorithm, std::span<const Bytes> pieces, const WindowDone& done = {});

// Lower-case hexadecimal of bytes.
std::string hex_digits(Bytes bytes);

}  // namespace brevlo::pack
