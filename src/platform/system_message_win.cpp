#include <string>

#include "platform/system_message.hpp"
#include "platform/text.hpp"
#include "platform/windows_api_win.hpp"

namespace brevlo {

std::string platform_system_message(std::uint32_t code) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE source = nullptr;
  // An NTSTATUS carried as an error code: its text is in ntdll's message table.
  if (code & 0x10000000) {
    if (HMODULE ntdll = GetModuleHandleW(L"NTDLL.DLL")) {
      code &= ~0x10000000u;
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
      source = ntdll;
    }
  }
  wchar_t buf[2048];
  const DWORD n = FormatMessageW(flags, source, code, 0, buf, 2048, nullptr);
  if (n == 0) {
    const DWORD err = GetLastError();
    return "OS Error " + decimal(code) + " (FormatMessageW() returned error " + decimal(err) + ")";
  }
  const std::u16string_view units = as_u16(std::wstring_view(buf, n));
  if (!is_valid_utf16(units)) {
    return "OS Error " + decimal(code) + " (FormatMessageW() returned invalid UTF-16)";
  }
  return std::string(trim_end_white_space(wtf8_from_utf16(units)));
}

}  // namespace brevlo
