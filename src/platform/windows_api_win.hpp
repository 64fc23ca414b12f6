#pragma once
// The one way Windows code includes <windows.h>: lean, without min/max macros, for Windows 10
// headers (the build defines UNICODE, WIN32_LEAN_AND_MEAN, NOMINMAX and _WIN32_WINNT).

#include <windows.h>
#include <winternl.h>

#include <string>
#include <string_view>

namespace brevlo {

// UTF-16 views of wide Windows strings (wchar_t is 16 bits on Windows).
inline std::u16string_view as_u16(std::wstring_view s) {
  return {reinterpret_cast<const char16_t*>(s.data()), s.size()};
}
inline const wchar_t* as_wide(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline wchar_t* as_wide(std::u16string& s) { return reinterpret_cast<wchar_t*>(s.data()); }

}  // namespace brevlo
