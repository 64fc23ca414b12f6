#include <string>

#include "platform/system_message.hpp"
#include "platform/text.hpp"

namespace brevlo {

// Linux has no catalogue of Windows messages: the native build names the code, as Windows does
// for a code it has no text for.
std::string platform_system_message(std::uint32_t code) {
  return "OS Error " + decimal(code) + " (no system messages on this platform)";
}

}  // namespace brevlo
