#include "platform/system_text_win.hpp"

#include <expected>

#include "platform/system_path.hpp"

namespace brevlo {

Result<std::u16string> read_system_text(const SystemTextCall& call) {
  constexpr DWORD kLargest = 0xFFFFFFFF;
  DWORD size = 512;
  std::u16string buffer;
  for (;;) {
    buffer.resize(size);
    // Some calls return 0 both for "empty" and for a failure; only a last error tells them apart.
    ::SetLastError(0);
    const DWORD k = call(reinterpret_cast<wchar_t*>(buffer.data()), size);
    if (k == 0) {
      const DWORD error = ::GetLastError();
      if (error != 0) return std::unexpected(Error::os(error));
      return std::u16string();
    }
    if (k == size) {
      // The text was cut to fit (GetModuleFileNameW does this, with ERROR_INSUFFICIENT_BUFFER).
      if (size == kLargest) return std::unexpected(Error::os(ERROR_INSUFFICIENT_BUFFER));
      size = size > kLargest / 2 ? kLargest : size * 2;
    } else if (k > size) {
      size = k;  // the size needed, terminating NUL included
    } else {
      buffer.resize(k);
      return buffer;
    }
  }
}

Result<std::u16string> environment_units(const std::u16string& name) {
  return read_system_text([&name](wchar_t* buffer, DWORD size) {
    return ::GetEnvironmentVariableW(as_wide(name), buffer, size);
  });
}

Result<std::u16string> full_path_name(const std::u16string& path) {
  return read_system_text([&path](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(as_wide(path), size, buffer, nullptr);
  });
}

Result<std::u16string> long_path_form(std::string_view path) {
  Result<std::u16string> units = to_system_units(path);
  if (!units) return units;
  return file_system_path_form(std::move(*units), full_path_name);
}

Result<std::u16string> program_system_path(std::string_view program) {
  Result<std::u16string> units = to_system_units(program);
  if (!units) return units;
  return program_path_form(std::move(*units), full_path_name);
}

}  // namespace brevlo
