#include "core/image_digest.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace brevlo {

ImageDigest canonical_digest(XXH128_hash_t hash);  // image_digest.cpp

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

ImageDigest ImageHasher::finish() const { return canonical_digest(XXH3_128bits_digest(&state_->xxh3)); }

}  // namespace brevlo
