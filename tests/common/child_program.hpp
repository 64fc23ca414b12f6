#pragma once
// What the small programs the tests start (the stand-in installer, the recording test child) need
// to know about themselves. Header-only, so those programs stay free of the launcher's code.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace brevlo::child_program {

// The variable's value, or nothing when it is not set.
inline std::optional<std::wstring> environment_value(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), needed));
  return value;
}

// The program's own path, however long.
inline std::wstring own_path() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

// The folder of the program, with its final backslash.
inline std::wstring own_directory() {
  const std::wstring path = own_path();
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// UTF-16 to UTF-8 for the records the programs write.
inline std::string utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

}  // namespace brevlo::child_program
