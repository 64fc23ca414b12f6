#include "core/splash_image.hpp"

#include <cstring>

namespace brevlo {
namespace {

constexpr std::size_t kWidthAt = 16;
constexpr std::size_t kHeightAt = 20;

std::uint32_t get_u32(const std::uint8_t* at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= std::uint32_t{at[i]} << (8 * i);
  return value;
}

}  // namespace

std::array<std::uint8_t, kSplashHeaderSize> encode_splash_header(std::uint32_t width,
                                                                 std::uint32_t height) {
  std::array<std::uint8_t, kSplashHeaderSize> bytes{};
  std::memcpy(bytes.data(), kSplashMark, sizeof kSplashMark);
  for (int i = 0; i < 4; ++i) {
    bytes[kWidthAt + i] = static_cast<std::uint8_t>(width >> (8 * i));
    bytes[kHeightAt + i] = static_cast<std::uint8_t>(height >> (8 * i));
  }
  return bytes;
}

std::optional<SplashImage> decode_splash_image(std::span<const std::uint8_t> section) {
  if (section.size() < kSplashHeaderSize ||
      std::memcmp(section.data(), kSplashMark, sizeof kSplashMark) != 0) {
    return std::nullopt;
  }
  SplashImage image{get_u32(section.data() + kWidthAt), get_u32(section.data() + kHeightAt), {}};
  if (image.width == 0 || image.height == 0 || image.width > kSplashLargestSide ||
      image.height > kSplashLargestSide ||
      section.size() - kSplashHeaderSize != std::size_t{image.width} * image.height * 4) {
    return std::nullopt;
  }
  image.pixels = section.subspan(kSplashHeaderSize);
  return image;
}

}  // namespace brevlo
