#pragma once
// Ending the process at once.

#include <string_view>

namespace brevlo {

// Writes line to the standard error device (failures ignored) and ends the process at once
// through the system's fast-fail with code 7, without any clean-up.
[[noreturn]] void fatal_runtime_exit(std::string_view line);

}  // namespace brevlo
