#pragma once
// Joining Windows paths, and the installed-application path built from its three pieces. Pure text
// work on WTF-8 paths: nothing here asks the system.

#include <string>
#include <string_view>

#include "core/config/config.hpp"

namespace brevlo {

// The base path extended by one component by the Windows rules: a component with any prefix
// (D:\x, D:x, \\server\share, \\?\...) replaces the base; a base with a verbatim prefix is rebuilt
// part by part with "." dropped and ".." taking away the name before it; a component that starts
// with a separator keeps only the base's prefix; otherwise a "\" goes between the two unless the
// base is empty, already ends in "\" or "/", or is a bare drive such as "D:".
std::string join_path(std::string_view base, std::string_view component);

// <local_app_data>\<productName>\<mainBinaryName>.exe, joined by join_path with nothing trimmed,
// expanded or checked; ".exe" is appended even when the name already ends in it.
std::string application_path_under(std::string_view local_app_data, const GameConfig& config);

}  // namespace brevlo
