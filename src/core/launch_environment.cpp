#include "core/launch_environment.hpp"

#include "platform/debug_form.hpp"
#include "platform/hex_digit.hpp"

namespace brevlo {

Error environment_variable_missing() {
  return Error::with_forms(ErrorKind::NotFound, "environment variable not found", "NotPresent");
}

Error environment_variable_not_unicode(std::string_view raw) {
  const std::string value = path_debug_form(raw);
  return Error::with_forms(ErrorKind::InvalidData,
                           "environment variable was not valid unicode: " + value,
                           "NotUnicode(" + value + ")");
}

std::string install_lock_name(std::string_view product_name) {
  std::uint64_t hash = 0xcbf29ce484222325;
  for (const char c : product_name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3;
  }
  std::string name = "Local\\brevlo-install-";
  for (int shift = 60; shift >= 0; shift -= 4) name += hex_digit(static_cast<unsigned>(hash >> shift));
  return name;
}

}  // namespace brevlo
