#include "core/payload.hpp"

#include "platform/image_section_win.hpp"

namespace brevlo {

std::span<const std::uint8_t> embedded_installer_image() {
  return own_image_section(kInstallerSection);
}

std::optional<PackOptions> embedded_pack_options() {
  return decode_pack_options(own_image_section(kOptionsSection));
}

}  // namespace brevlo
