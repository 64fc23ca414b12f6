#include "platform/system_message.hpp"

namespace brevlo {

std::string platform_system_message(std::uint32_t code);  // system_message_<platform>.cpp

namespace {
SystemMessageSource g_source = nullptr;
}

void set_system_message_source(SystemMessageSource source) { g_source = source; }

std::string system_message(std::uint32_t code) {
  return g_source ? g_source(code) : platform_system_message(code);
}

}  // namespace brevlo
