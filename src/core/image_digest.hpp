#pragma once
// The check a launcher makes on its installer image before writing it out: XXH3-128, a checksum
// made to catch accidental damage (a cut or corrupted download) at memory speed. Tampering is what
// the launcher's Authenticode signature guards against, not this.

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace brevlo {

// The 128-bit XXH3 of the image, in its canonical (big-endian) byte order.
using ImageDigest = std::array<std::uint8_t, 16>;

// Hashes bytes given piece by piece; the result is the same as image_digest over all of them.
class ImageHasher {
 public:
  ImageHasher();
  ~ImageHasher();
  ImageHasher(const ImageHasher&) = delete;
  ImageHasher& operator=(const ImageHasher&) = delete;

  void update(std::span<const std::uint8_t> bytes);
  ImageDigest finish() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest of bytes, read where they lie.
ImageDigest image_digest(std::span<const std::uint8_t> bytes);

}  // namespace brevlo
