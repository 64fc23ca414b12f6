#include "core/config/config.hpp"
#include "core/payload.hpp"
#include "platform/image_section_win.hpp"
#include "platform/messages.hpp"

namespace brevlo {

std::span<const char> embedded_game_config() {
  const std::span<const std::uint8_t> bytes = own_image_section(kConfigSection);
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

GameConfig load_game_config() {
  return expect_ok(parse_game_config(embedded_game_config()), kGameConfigStopContext);
}

}  // namespace brevlo
