#include "core/win/image_digest.hpp"

#include "core/image_digest.hpp"
#include "core/payload.hpp"

namespace brevlo {

Result<bool> embedded_image_intact(std::span<const std::uint8_t> image) {
  const std::optional<PackOptions> options = embedded_pack_options();
  if (!options) return false;
  return image_digest(image) == options->image_digest;
}

}  // namespace brevlo
