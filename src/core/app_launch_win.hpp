#pragma once
// Starting the installed application and letting it run on its own.

#include <string_view>

namespace brevlo {

// Starts the program at path with no arguments and without waiting, and reports the outcome
// itself: "✅ 主程序启动成功。" on standard output (the child's handles are closed right after), or
// "❌ 无法启动主程序: " with the error and the path on standard error. True when it was started.
bool launch_application(std::string_view path);

}  // namespace brevlo
