#pragma once
// Where the application is installed, and whether anything is there.

#include <string>
#include <string_view>

#include "core/config/config.hpp"
#include "core/launch_environment.hpp"

namespace brevlo {

// The value of an environment variable as UTF-8 text; environment_variable_missing() when it is
// not set or cannot be read (any system error), environment_variable_not_unicode() with the raw
// value (WTF-8) when it holds an unpaired surrogate. An empty value is the empty text, not an
// error.
Result<std::string> read_environment_variable(
    std::string_view name);

// %LOCALAPPDATA%\<productName>\<mainBinaryName>.exe, with LOCALAPPDATA read anew on every call;
// the caller turns an error into its own fatal stop, so the stop names the caller's location.
Result<std::string> installed_application_path(
    const GameConfig& config);

// True when an entry (file or directory; links followed to their target) can be queried at
// path; every failure, a NUL in the path included, is false and is not reported.
[[nodiscard]] bool path_exists(std::string_view path);

}  // namespace brevlo
