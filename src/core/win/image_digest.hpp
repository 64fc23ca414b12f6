#pragma once
// Checking the embedded installer image against the digest brevlo-pack recorded for it.

#include <cstdint>
#include <span>

#include "platform/error.hpp"

namespace brevlo {

// True when image hashes to the digest in this launcher's options section; false when it does
// not, or when that section is missing or damaged (either way the launcher is not as packed).
Result<bool> embedded_image_intact(std::span<const std::uint8_t> image);

}  // namespace brevlo
