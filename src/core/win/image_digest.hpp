#pragma once
// Checking the embedded installer image against the SHA-256 brevlo-pack recorded for it.

#include <array>
#include <cstdint>
#include <span>

#include "platform/error.hpp"

namespace brevlo {

// The SHA-256 of bytes from the system's CNG provider (bcrypt.dll from the system directory,
// loaded on the first call and kept), hashed where the bytes lie. An error when the system cannot
// hash.
Result<std::array<std::uint8_t, 32>> system_sha256(std::span<const std::uint8_t> bytes);

// True when image hashes to the digest in this launcher's options section; false when it does
// not, or when that section is missing or damaged (either way the launcher is not as packed).
Result<bool> embedded_image_intact(std::span<const std::uint8_t> image);

}  // namespace brevlo
