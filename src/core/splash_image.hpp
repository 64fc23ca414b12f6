#pragma once
// The splash image a launcher packed with --splash carries, ready to draw: a section of its own
// image holding the pixels brevlo-pack decoded from the publisher's PNG.
//
// The section, kSplashHeaderSize bytes and then the pixels:
//   0   16 bytes  kSplashMark
//   16  4 bytes   width in pixels, little-endian, 1 to kSplashLargestSide
//   20  4 bytes   height in pixels, likewise
//   24  width * height * 4 bytes: rows top to bottom, each pixel blue, green, red, alpha with the
//       colours premultiplied by alpha (what a layered window's 32-bit bitmap holds)

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace brevlo {

inline constexpr std::string_view kSplashSection = ".brvspl";
inline constexpr char kSplashMark[16] = "brevlo-splash/1";
inline constexpr std::size_t kSplashHeaderSize = 24;
inline constexpr std::uint32_t kSplashLargestSide = 2048;

// A splash image: its size and a view of its pixels as the section holds them.
struct SplashImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::span<const std::uint8_t> pixels;
};

// The section's first kSplashHeaderSize bytes for an image of width by height pixels.
std::array<std::uint8_t, kSplashHeaderSize> encode_splash_header(std::uint32_t width,
                                                                 std::uint32_t height);

// The image a section holds, or nothing when it is not exactly a splash section: another mark,
// a side of 0 or beyond kSplashLargestSide, or a length other than the header and the pixels.
std::optional<SplashImage> decode_splash_image(std::span<const std::uint8_t> section);

// The splash image this launcher carries; nothing when it has none or the section is damaged.
std::optional<SplashImage> embedded_splash_image();

}  // namespace brevlo
