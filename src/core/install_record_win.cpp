#include "core/install_record_win.hpp"

#include "core/app_path_win.hpp"
#include "core/join_path.hpp"
#include "core/launch_environment.hpp"
#include "core/system_file_win.hpp"
#include "platform/byte_path_win.hpp"
#include "platform/system_calls_win.hpp"

namespace brevlo {

Result<std::string> install_record_path(const GameConfig& config) {
  Result<std::string> local_app_data = read_environment_variable("LOCALAPPDATA");
  if (!local_app_data) return std::unexpected(local_app_data.error());
  return join_path(join_path(*local_app_data, "brevlo"),
                   product_digest(config.productName) + ".installing");
}

bool install_record_exists(const GameConfig& config) {
  const Result<std::string> path = install_record_path(config);
  return path && path_exists(*path);
}

Result<void> write_install_record(const GameConfig& config) {
  const Result<std::string> path = install_record_path(config);
  if (!path) return std::unexpected(path.error());
  const std::size_t cut = path->find_last_of('\\');
  if (Result<void> folder = make_folder(path->substr(0, cut), true); !folder) return folder;
  Result<SystemHandle> file = create_unlinked_file(*path);
  if (!file) return std::unexpected(file.error());
  const std::string text = config.productName + "\n";
  return write_flush_close(
      *file, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Result<void> remove_install_record(const GameConfig& config) {
  const Result<std::string> path = install_record_path(config);
  if (!path) return std::unexpected(path.error());
  return remove_file(*path, true);
}

}  // namespace brevlo
