#include <charconv>
#include <string>

#include "platform/system_message.hpp"

namespace brevlo {

// Linux has no catalogue of Windows messages: the native build names the code, as Windows does
// for a code it has no text for.
std::string platform_system_message(std::uint32_t code) {
  char buf[16];
  auto end = std::to_chars(buf, buf + sizeof buf, code).ptr;
  return "OS Error " + std::string(buf, end) + " (no system messages on this platform)";
}

}  // namespace brevlo
