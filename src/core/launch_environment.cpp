#include "core/launch_environment.hpp"

#include "platform/debug_form.hpp"
#include "platform/hex_digit.hpp"

namespace brevlo {

std::string debug_form(const EnvVarError& error) {
  if (!error.not_unicode) return "NotPresent";
  return "NotUnicode(" + path_debug_form(error.raw) + ")";
}

std::string display_form(const StageError& error) {
  if (const auto* message = std::get_if<std::string>(&error)) return *message;
  return display_form(std::get<Error>(error));
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
