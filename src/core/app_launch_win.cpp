#include "core/app_launch_win.hpp"

#include <string>

#include "platform/child_win.hpp"
#include "platform/debug_form.hpp"
#include "platform/error.hpp"
#include "platform/messages.hpp"

namespace brevlo {

bool launch_application(std::string_view path) {
  const ChildCommand command{std::string(path)};
  Result<StartedChild> child = start_child(command);
  if (child) {
    print_stdout({"✅ 主程序启动成功。\n"});
    // The application is never waited for; the launcher keeps no link to it.
    child->close();
    return true;
  }
  const std::string shown_error = display_form(child.error());
  const std::string shown_path = path_debug_form(path);
  print_stderr({"❌ 无法启动主程序: ", shown_error, "。路径: ", shown_path, "\n"});
  return false;
}

}  // namespace brevlo
