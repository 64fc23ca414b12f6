#include "pack/splash.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "core/splash_image.hpp"
#include "platform/hex_digit.hpp"

// stb_image (Debian's libstb-dev, header-only), built here for PNG from memory only.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb/stb_image.h>

#include <zlib.h>

namespace brevlo::pack {
namespace {

constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::unexpected<PackError> wrong(std::string reason) {
  return pack_error(PackErrorKind::Malformed, std::move(reason));
}

std::uint32_t big_endian(Bytes bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

// The CRC-32 of PNG chunks (ISO 3309), from zlib: stb_image does not check chunk CRCs.
std::uint32_t png_crc(Bytes bytes) {
  // A chunk is at most 8 MiB here (the whole file is), well within crc32's unsigned length.
  return static_cast<std::uint32_t>(
      crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

std::string hex32(std::uint32_t value) {
  std::string out = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) out += hex_digit((value >> shift) & 0xF, HexCase::Upper);
  return out;
}

// A chunk's type as text, its bytes outside printable ASCII as \xHH.
std::string chunk_type(Bytes type) {
  std::string out;
  for (const std::uint8_t byte : type) {
    if (byte >= 0x21 && byte <= 0x7E) {
      out += static_cast<char>(byte);
    } else {
      out += "\\x";
      out += "0123456789abcdef"[byte >> 4];
      out += "0123456789abcdef"[byte & 0xF];
    }
  }
  return out;
}

// Owns what stbi_load_from_memory returns.
struct StbPixels {
  stbi_uc* data = nullptr;
  StbPixels() = default;
  StbPixels(const StbPixels&) = delete;
  StbPixels& operator=(const StbPixels&) = delete;
  ~StbPixels() { stbi_image_free(data); }
};

// The image's size in pixels from its chunks (length, type, data, CRC over type and data; IHDR
// first, IEND last), each chunk's CRC checked; at most 2048x2048.
struct PixelSize {
  std::uint32_t width = 0, height = 0;
};

PackResult<PixelSize> read_chunks(Bytes png) {
  PixelSize size;
  bool ended = false;
  for (std::size_t at = kPngSignature.size(); !ended;) {
    if (png.size() - at < 8) return wrong("it is cut short before its IEND chunk");
    const std::uint32_t length = big_endian(png, at);
    const std::string name = chunk_type(png.subspan(at + 4, 4));
    if (length > png.size() - at - 8 || png.size() - at - 8 - length < 4) {
      return wrong("it is cut short in its " + name + " chunk at offset " + std::to_string(at));
    }
    const std::uint32_t stored = big_endian(png, at + 8 + length);
    const std::uint32_t computed = png_crc(png.subspan(at + 4, 4 + length));
    if (stored != computed) {
      return wrong("its " + name + " chunk at offset " + std::to_string(at) + " has CRC " +
                   hex32(stored) + ", not " + hex32(computed));
    }
    const Bytes data = png.subspan(at + 8, length);
    if (at == kPngSignature.size()) {
      if (name != "IHDR" || length != 13) return wrong("its first chunk is not a 13-byte IHDR");
      size = {big_endian(data, 0), big_endian(data, 4)};
      const std::uint8_t colour_type = data[9];
      if (colour_type != 2 && colour_type != 3 && colour_type != 6) {
        return wrong("its colour type is " + std::to_string(colour_type) +
                     "; a splash is truecolour, with or without alpha, or palette");
      }
    }
    ended = name == "IEND";
    at += 12 + std::size_t{length};
  }
  if (size.width == 0 || size.height == 0 || size.width > kSplashLargestSide ||
      size.height > kSplashLargestSide) {
    return wrong("it is " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                 " pixels; a splash is at most 2048x2048");
  }
  return size;
}

// The section: its header, then the pixels as premultiplied BGRA, rounded to nearest.
std::vector<std::uint8_t> section_of(PixelSize size, const stbi_uc* rgba_pixels) {
  const auto header = encode_splash_header(size.width, size.height);
  std::vector<std::uint8_t> section(header.begin(), header.end());
  const std::size_t count = std::size_t{size.width} * size.height;
  section.resize(header.size() + count * 4);
  std::uint8_t* out = section.data() + header.size();
  for (std::size_t i = 0; i < count; ++i) {
    const stbi_uc* rgba = rgba_pixels + i * 4;
    const unsigned alpha = rgba[3];
    const auto times_alpha = [alpha](unsigned c) {
      return static_cast<std::uint8_t>((c * alpha + 127) / 255);
    };
    out[i * 4 + 0] = times_alpha(rgba[2]);
    out[i * 4 + 1] = times_alpha(rgba[1]);
    out[i * 4 + 2] = times_alpha(rgba[0]);
    out[i * 4 + 3] = static_cast<std::uint8_t>(alpha);
  }
  return section;
}

}  // namespace

PackResult<std::vector<std::uint8_t>> splash_section(Bytes png) {
  if (png.size() > kSplashLargestFile) {
    return wrong("it is " + std::to_string(png.size()) + " bytes, more than 8 MiB");
  }
  if (png.size() < kPngSignature.size() ||
      !std::equal(kPngSignature.begin(), kPngSignature.end(), png.begin())) {
    return wrong("it is not a PNG file (no PNG signature)");
  }
  const auto size = read_chunks(png);
  if (!size) return std::unexpected(size.error());
  int decoded_width = 0, decoded_height = 0, channels = 0;
  StbPixels pixels;
  pixels.data = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &decoded_width,
                                      &decoded_height, &channels, 4);
  if (pixels.data == nullptr) {
    return wrong(std::string("its image data does not decode: ") + stbi_failure_reason());
  }
  if (static_cast<std::uint32_t>(decoded_width) != size->width ||
      static_cast<std::uint32_t>(decoded_height) != size->height) {
    return wrong("its image data does not decode to its header's size");
  }
  return section_of(*size, pixels.data);
}

}  // namespace brevlo::pack
