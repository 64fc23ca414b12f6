#include "core/system_library_win.hpp"

#include <string>

#include "platform/system_text_win.hpp"
#include "platform/text.hpp"

namespace brevlo {

HMODULE load_system_library(const ModuleLookup& lookup, const wchar_t* name) {
  HMODULE module = lookup.load_library(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
  Result<std::u16string> path = read_system_text(
      [](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); });
  if (!path || path->empty()) return nullptr;
  *path += u'\\';
  *path += reinterpret_cast<const char16_t*>(name);
  return lookup.load_library(as_wide(*path), nullptr, 0);
}

}  // namespace brevlo
