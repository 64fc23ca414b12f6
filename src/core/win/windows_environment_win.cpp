#include "core/win/windows_environment.hpp"

#include "core/config/config.hpp"
#include "core/payload.hpp"
#include "core/win/app_launch.hpp"
#include "core/win/app_path.hpp"
#include "core/win/image_digest.hpp"
#include "core/win/installer_stage.hpp"
#include "core/win/webview_probe.hpp"

namespace brevlo {

bool WindowsLaunchEnvironment::probe_webview() { return brevlo::probe_webview(); }

GameConfig WindowsLaunchEnvironment::load_game_config() {
  GameConfig config = brevlo::load_game_config();
  product_name_ = config.productName;
  return config;
}

std::expected<std::string, EnvVarError> WindowsLaunchEnvironment::installed_application_path(
    const GameConfig& config) {
  return brevlo::installed_application_path(config);
}

bool WindowsLaunchEnvironment::path_exists(std::string_view path) {
  return brevlo::path_exists(path);
}

bool WindowsLaunchEnvironment::launch_application(std::string_view path) {
  return brevlo::launch_application(path);
}

Result<bool> WindowsLaunchEnvironment::installer_image_intact(std::span<const std::uint8_t> image) {
  // Writing the file costs about what checking the image does, so both go on at once: the file is
  // written here as the image is checked, and the stage runs it. A missing temporary directory is
  // left for the stage to report, after a check on its own.
  const std::optional<PackOptions> options = embedded_pack_options();
  if (!options) return false;
  const Result<std::string> path = installer_path_for(kInstallerFileName);
  if (!path) return embedded_image_intact(image);
  written_.emplace();
  if (write_checked_installer(*path, image, options->image_digest, *written_)) return true;
  written_.reset();
  return false;
}

std::expected<bool, StageError> WindowsLaunchEnvironment::run_installer_stage(
    std::span<const std::uint8_t> image, std::string_view file_name, GameConfig config,
    bool webview_ready) {
  return brevlo::run_installer_stage(image, file_name, std::move(config), webview_ready,
                                     written_ ? &*written_ : nullptr);
}

void WindowsLaunchEnvironment::lock_install(const GameConfig& config) {
  install_lock_ = SessionMutex::acquire(install_lock_name(config.productName));
}

}  // namespace brevlo
