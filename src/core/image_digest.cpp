#include "core/image_digest.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace brevlo {
namespace {

ImageDigest canonical(XXH128_hash_t hash) {
  XXH128_canonical_t bytes;
  XXH128_canonicalFromHash(&bytes, hash);
  ImageDigest digest;
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = bytes.digest[i];
  return digest;
}

}  // namespace

struct ImageHasher::State {
  XXH3_state_t xxh3;
};

ImageHasher::ImageHasher() : state_(std::make_unique<State>()) {
  XXH3_128bits_reset(&state_->xxh3);
}

ImageHasher::~ImageHasher() = default;

void ImageHasher::update(std::span<const std::uint8_t> bytes) {
  XXH3_128bits_update(&state_->xxh3, bytes.data(), bytes.size());
}

ImageDigest ImageHasher::finish() const { return canonical(XXH3_128bits_digest(&state_->xxh3)); }

ImageDigest image_digest(std::span<const std::uint8_t> bytes) {
  return canonical(XXH3_128bits(bytes.data(), bytes.size()));
}

}  // namespace brevlo
