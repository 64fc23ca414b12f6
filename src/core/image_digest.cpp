#include "core/image_digest.hpp"

// The one-shot digest alone: the launcher links this file and not the piecewise hasher
// (image_hasher.cpp), whose streaming code it never runs.

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace brevlo {

// The hash in its canonical byte order; image_hasher.cpp uses it too.
ImageDigest canonical_digest(XXH128_hash_t hash) {
  XXH128_canonical_t bytes;
  XXH128_canonicalFromHash(&bytes, hash);
  ImageDigest digest;
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = bytes.digest[i];
  return digest;
}

ImageDigest image_digest(std::span<const std::uint8_t> bytes) {
  return canonical_digest(XXH3_128bits(bytes.data(), bytes.size()));
}

}  // namespace brevlo
