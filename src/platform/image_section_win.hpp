#pragma once
// Read-only data that a packing step placed in sections of this executable's own image.

#include <cstdint>
#include <span>
#include <string_view>

namespace brevlo {

// The bytes of the section called name (at most 8 characters) in the image of this executable,
// as the loader mapped it: its start and its exact length (the section's virtual size). Empty
// when the image has no such section. Only the image's headers are read.
std::span<const std::uint8_t> own_image_section(std::string_view name);

}  // namespace brevlo
