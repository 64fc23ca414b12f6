#include "platform/temporary_directory_win.hpp"

#include "platform/system_calls_win.hpp"
#include "platform/system_text_win.hpp"
#include "platform/text.hpp"

namespace brevlo {

Result<std::string> temporary_directory() {
  auto units = read_system_text(
      [](wchar_t* buffer, DWORD size) { return system_calls().temp_path(size, buffer); });
  if (!units) return std::unexpected(units.error());
  return wtf8_from_utf16(*units);
}

}  // namespace brevlo
