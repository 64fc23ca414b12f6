#pragma once
// System calls that hand back UTF-16 text in a caller's buffer, and the path forms that use
// them.

#include <functional>
#include <string>
#include <string_view>

#include "platform/error.hpp"
#include "platform/windows_api_win.hpp"

namespace brevlo {

// A call that writes text into (buffer, size in units) and returns k in the style of
// GetEnvironmentVariableW: the length written, or the size it needs, or 0.
using SystemTextCall = std::function<DWORD(wchar_t* buffer, DWORD size)>;

// Runs call with a 512-unit buffer first, the last-error value set to 0 before every call, and
// repeats it while the text does not fit: with the size the system asks for when k is larger than
// the buffer, with double the size (at most 0xFFFFFFFF) when k equals it (the system's
// ERROR_INSUFFICIENT_BUFFER). k = 0 with a last error is that system error; with none it is the
// empty text.
[[nodiscard]] Result<std::u16string> read_system_text(const SystemTextCall& call);

// The units of an environment variable (name without NUL inside), exactly as held; the system's
// error (ERROR_ENVVAR_NOT_FOUND and the like) when it cannot be read.
[[nodiscard]] Result<std::u16string> environment_units(const std::u16string& name);

// GetFullPathNameW of path, through read_system_text.
[[nodiscard]] Result<std::u16string> full_path_name(const std::u16string& path);

// A WTF-8 path in the form file-system calls take it (file_system_path_form with
// GetFullPathNameW): UTF-16 with the verbatim prefix where it is long or relative. A NUL inside,
// or a failing GetFullPathNameW, is the error.
[[nodiscard]] Result<std::u16string> long_path_form(std::string_view path);

// A WTF-8 program path in the form CreateProcessW takes it (program_path_form with
// GetFullPathNameW).
[[nodiscard]] Result<std::u16string> program_system_path(std::string_view program);

}  // namespace brevlo
