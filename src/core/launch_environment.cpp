#include "core/launch_environment.hpp"

#include "platform/debug_form.hpp"

namespace brevlo {

std::string debug_form(const EnvVarError& error) {
  if (!error.not_unicode) return "NotPresent";
  return "NotUnicode(" + path_debug_form(error.raw) + ")";
}

std::string display_form(const StageError& error) {
  if (const auto* message = std::get_if<std::string>(&error)) return *message;
  return display_form(std::get<Error>(error));
}

}  // namespace brevlo
