#pragma once
// The splash image brevlo-pack puts into a launcher: a PNG checked the way the launcher needs it
// and decoded once, at pack time, into the section the launcher draws from (core/splash_image.hpp).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/pack_error.hpp"
#include "pack/pe_format.hpp"

namespace brevlo::pack {

// The largest PNG file a splash may come from.
inline constexpr std::size_t kSplashLargestFile = 8 * 1024 * 1024;

// The .brvspl section for a PNG file, or why it cannot be a splash (a reason completing
// "... is not a usable splash image: "): larger than kSplashLargestFile, no PNG signature, a chunk
// cut short or with a wrong CRC, a first chunk other than a 13-byte IHDR, no IEND, a colour type
// other than truecolour (with or without alpha) or palette, a side beyond kSplashLargestSide, or
// image data that does not decode. Every chunk's CRC is checked; the pixels are those of the
// image as decoded to 8-bit RGBA, premultiplied, so the same file always gives the same bytes.
[[nodiscard]] PackResult<std::vector<std::uint8_t>> splash_section(Bytes png);

}  // namespace brevlo::pack
