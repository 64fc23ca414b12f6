#include "platform/temporary_directory_win.hpp"

#include "platform/system_text_win.hpp"
#include "platform/text.hpp"
#include "platform/windows_api_win.hpp"

namespace brevlo {
namespace {

using GetTempPath2WFn = DWORD(WINAPI*)(DWORD, LPWSTR);

// GetTempPath2W is looked up once per process; where kernel32 lacks it, GetTempPathW serves.
GetTempPath2WFn temp_path_function() {
  static const GetTempPath2WFn function = [] {
    GetTempPath2WFn found = nullptr;
    if (HMODULE kernel32 = GetModuleHandleA("kernel32")) {
      found = reinterpret_cast<GetTempPath2WFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTempPath2W")));
    }
    return found != nullptr ? found : &GetTempPathW;
  }();
  return function;
}

}  // namespace

Result<std::string> temporary_directory() {
  const GetTempPath2WFn query = temp_path_function();
  auto units = read_system_text([query](wchar_t* buffer, DWORD size) { return query(size, buffer); });
  if (!units) return std::unexpected(units.error());
  return wtf8_from_utf16(*units);
}

}  // namespace brevlo
